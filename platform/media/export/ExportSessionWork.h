#pragma once
// The two ways an export session writes its file; run on the session's worker thread.

#include "platform/media/export/ExportSession.h"
#include "platform/media/io/FFmpegUtil.h"

#include <QByteArray>

struct ExportSessionWork {
  AssetRef asset;
  MediaTimeRange range;  // finite, inside the asset
  QString path;          // where to write (a temporary name beside the output)
  QString muxer;         // libavformat's muxer name
  MutableVideoCompositionRef videoComposition;
  MutableAudioMixRef audioMix;
  AssetExportSession* session = nullptr;  // progress and cancellation
};

// Both answer false with a reason on failure, and false with an empty reason when cancelled.
bool ExportSession_WritePassThrough(const ExportSessionWork& work, QString* error);
bool ExportSession_WriteEncoded(const ExportSessionWork& work, QString* error);

// The segments of a track that fall inside a range, clipped to it, with target times made relative
// to the range's start. Empty segments are kept (they hold places on the time line).
QList<AssetTrackSegment> ExportSession_SegmentsInRange(const AssetTrackRef& track, const MediaTimeRange& range);

// Opens the output file at path and writes the container's header; false with a reason on failure.
bool ExportSession_StartOutput(AVFormatContext* out, const QByteArray& path, QString* error);
// Writes the file's end and waits until every byte is in the file; false with the reason otherwise.
bool ExportSession_FinishOutput(AVFormatContext* out, QString* error);
