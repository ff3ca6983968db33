#pragma once
// Pictures and chapters of a movie for those who show or list it: the frame of a movie at a time, read
// one at a time (no player), and the chapter marks with the movie's artwork.

#include "platform/foundation/MediaTime.h"
#include "platform/media/asset/Asset.h"

#include <QImage>
#include <QList>
#include <QString>

#include <optional>

class ImageGenerator {
 public:
  explicit ImageGenerator(AssetRef asset) : m_asset(std::move(asset)) {}

  // The frame of the asset's first video track shown at a time: with exact, exactly that frame (the
  // last one that starts no later than it, within a tick); otherwise the key frame at or before it.
  // A time before the first frame gives the first, one past the end the last. Null when there is none.
  QImage copyImageAtTime(const MediaTime& time, bool exact) const;

 private:
  AssetRef m_asset;
};

struct AssetChapter {
  double start = 0;                // seconds
  std::optional<double> duration;  // seconds, when the chapter's end is known
  std::optional<QString> title;
};

// The chapters of the movie at path, in order (empty when it has none, claims implausibly many, or
// cannot be read), and in *artwork the movie's first attached picture (null when it has none).
QList<AssetChapter> Asset_ReadChapters(const QString& path, QImage* artwork);
