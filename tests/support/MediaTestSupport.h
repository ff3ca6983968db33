#pragma once
// Media for the tests made with the ffmpeg command line from lavfi test sources, ways to look at movies
// with ffprobe/ffmpeg (an independent reading of what our code wrote), and running an export to its end.

#include "platform/media/capture/CaptureDevice.h"
#include "platform/media/export/ExportSession.h"

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct TestMovieRecipe {
  double seconds = 4.0;
  bool audio = true;
  bool video = true;
  bool fragmented = false;
  int keyInterval = 30;  // frames between key frames (30 fps)
  QString size = QStringLiteral("320x240");
  // A fixed x264 quantizer (0: the encoder's own rate). A low one makes large fragments, which a demuxer
  // opening the movie jumps over from one fragment header to the next instead of reading through.
  int quantizer = 0;
};

// Decoded video frames: their MD5s and presentation times (seconds), in display order.
struct DecodedFrames {
  QStringList md5;
  QList<double> times;
  QString errors;  // what the decoder complained about
};

// Runs a tool and answers its standard output; *ok tells whether it exited with 0, *errors gets its
// standard error.
QString TestMovie_Run(const QString& program, const QStringList& args, bool* ok = nullptr, QString* errors = nullptr);

// "<folder>/<name>" made from the recipe; empty when ffmpeg failed.
QString TestMovie_Make(const QString& folder, const QString& name, const TestMovieRecipe& recipe);

// ffprobe's value of one entry ("format=duration", "stream=codec_name" with a stream selector).
QString TestMovie_Probe(const QString& path, const QString& entries, const QString& streams = QString());
double TestMovie_Duration(const QString& path);

// ffprobe's description of the format and the streams, as JSON.
QJsonObject TestMovie_ProbeJson(const QString& path, const QStringList& extra = {});
// The first stream of a type ("video", "audio") in such a description.
QJsonObject TestMovie_StreamOfType(const QJsonObject& probe, const QString& type);
double TestMovie_FormatDuration(const QJsonObject& probe);

// Frames that decode without error, counted by ffprobe (errors of a cut-off fragment are allowed).
int TestMovie_DecodableVideoFrames(const QString& path);

// The start of every fragment of a fragmented movie's video track, in seconds, read from the file's
// boxes (each fragment's decode time, tfdt, on the track's time scale).
QList<double> TestMovie_VideoFragmentStarts(const QString& path);

DecodedFrames TestMovie_DecodeVideo(const QString& path);
// The MD5 of the decoded frame shown at a time.
QString TestMovie_FrameAt(const DecodedFrames& frames, double seconds);

// The sound's RMS level in blocks of 0.1 s: (start time, dB; -1000 for silence).
QList<QPair<double, double>> TestMovie_AudioLevels(const QString& path);

// Runs an export to its end and answers its final status; *progress gets each new progress value seen.
AssetExportSessionStatus TestMovie_RunExport(const AssetExportSessionRef& session, QList<float>* progress = nullptr);

// Picks the camera's format of that size and subtype and fixes its frame duration, as a configured camera
// would be; false (with the reason) when the camera cannot be configured.
bool MediaTest_ConfigureCamera(const CaptureDeviceRef& camera, QSize size, uint32_t subtype, const MediaTime& frameDuration,
                               QString* error);

class ZRNAppPrefs;
// Preferences for recording from the virtual camera and microphone into folder, in fragments of the given
// length, stopping without the question; the caller adds what its test needs.
void Test_RecordFromVirtualDevices(ZRNAppPrefs& prefs, const QString& folder, int fragmentSeconds);
