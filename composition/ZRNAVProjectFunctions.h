#pragma once
// Free functions beside the project: frames of movies at given times, the chapters of a movie, the
// largest screen scale, and the picture rules the frame images and the poster use.

#include "platform/foundation/MediaTime.h"
#include "platform/media/asset/Asset.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <cstdint>

// ChapterDictionary keys.
inline constexpr const char* kChapterStart = "chapterStart";        // double, seconds
inline constexpr const char* kChapterDuration = "chapterDuration";  // double, seconds (when known)
inline constexpr const char* kChapterTitle = "chapterTitle";        // string (when the chapter has one)
inline constexpr const char* kChapterImage = "chapterImage";        // QImage (when the movie has artwork)

// The frame of the asset's first video track shown at a time: with exact, exactly that frame; otherwise
// the nearest key frame at or before it. Null when there is none.
QImage ZRNCopyImageAtTime(const AssetRef& asset, const MediaTime& time, bool exact);
// The chapters of a movie, in order (empty when it has none or cannot be read).
QList<QVariantMap> ZRNChaptersOfAsset(const AssetRef& asset);
// The largest device pixel ratio of all screens; 0.0 when there is none.
double ZRNMaxScreenBackingScale();
// A detached copy of a picture as 32-bit ARGB; null for a null picture.
QImage ZRNCGImageFromNSImage(const QImage& image);
// Draws a picture into a context of width x height: a larger picture is cropped from its top-left
// corner to the context, a smaller one is drawn at its own size in the top-left corner, one that
// matches in a direction fills the context.
void ZRNDrawImageInContextRect(const QImage& image, QImage& context, double width, double height);
// A zero-filled premultiplied ARGB picture whose rows are 4 x (width rounded up to a multiple of 4)
// bytes; null (and a log line) when it cannot be had.
QImage ZRNCreateBitmapContextARGB(int64_t width, int64_t height);
// A picture file fitted into ("width", "height") of the edit commands on black, with the first picture
// overlay ("graphics") and the first title ("titles") drawn on it. Null when the picture cannot be read.
QImage ZRNPosterImageFromSpec(const QString& path, const QVariantMap& editCommands);
