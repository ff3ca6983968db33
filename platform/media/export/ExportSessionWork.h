#pragma once
// The two ways an export session writes its file; run on the session's worker thread.

#include "platform/media/export/ExportSession.h"
#include "platform/media/io/FFmpegUtil.h"

#include <QByteArray>

#include <vector>

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
// Copied packets cannot end between a frame and the later frame it refers to, so a clip may carry a
// frame or two past its end: the closed movie's edit lists are shortened so that exactly the requested
// length plays. endSeconds: per track in file order, where its edit must end. False when the file cannot
// be read as a movie.
bool ExportSession_TrimEditLists(const QString& path, const std::vector<double>& endSeconds);
