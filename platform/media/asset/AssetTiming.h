#pragma once
// Inside the asset stage only: how it opens a movie file, and the numbers of a movie's header that
// cannot be believed and the pictures that cannot be decoded, which it checks on every input it opens.

#include <QString>

#include <cstdint>

struct AVFormatContext;
struct stat;
struct AVStream;

// The movie file opened for reading (a descriptor to close), or -1 with the reason: a regular file
// only, never waited on (a FIFO in its place would hang the reader). *info, when given, gets what the
// opened file is (its size, device and inode).
int Asset_OpenMovieFile(const QString& path, QString* error, struct stat* info = nullptr);
// A stream whose header gives it no time scale (libavformat then counts in whole seconds, and a
// 12-second movie lasts days) is timed from its packets: their number and the length of one, from the
// codec (pictures a second, samples a packet) or else from the streams that can be believed. False,
// with the reason, when no length can be had.
bool Asset_BelieveStreamTimes(AVFormatContext* ctx, QString* error);
// The earliest start and the latest end (in AV_TIME_BASE units) of the movie's audio and video streams
// that have both; false when none has, or they give no length.
bool Asset_SpanOfStreams(const AVFormatContext* ctx, int64_t* start, int64_t* end);
// Whether a video stream's decoder configuration can start a decoder at all (an H.264 configuration
// with no parameter sets, or zeroed, decodes not one picture).
bool Asset_VideoCanBeDecoded(const AVStream* stream);
