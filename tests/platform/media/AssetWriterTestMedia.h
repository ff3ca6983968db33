#pragma once
// Generated media and movie-file inspection for the writer and recorder tests.

#include "platform/foundation/MediaTime.h"
#include "platform/media/writer/AssetWriter.h"
#include "platform/media/io/SampleBuffer.h"
#include "support/TestSupport.h"
#include "support/MediaTestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include <atomic>
#include <cmath>
#include <cstring>

namespace testmedia {

// A BGRA frame whose content moves with the index, so that the encoder has real work to do.
inline SampleBufferRef makeVideoBuffer(int width, int height, int index, const MediaTime& pts) {
  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_BGRA;
  f->width = width;
  f->height = height;
  av_frame_get_buffer(f, 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = f->data[0] + y * f->linesize[0];
    for (int x = 0; x < width; ++x) {
      const uint8_t pixel[4] = {uint8_t(x + index * 4), uint8_t(y + index * 2), uint8_t((x ^ y) + index), 255};
      std::memcpy(row + 4 * x, pixel, 4);
    }
  }
  return std::make_shared<SampleBuffer>(MediaType::Video, f, pts, kMediaTimeInvalid);
}

// A block of a 440 Hz tone as interleaved 16-bit samples; firstSample keeps the phase continuous.
inline SampleBufferRef makeAudioBuffer(int rate, int channels, int samples, int64_t firstSample, const MediaTime& pts) {
  AVFrame* f = av_frame_alloc();
  f->format = AV_SAMPLE_FMT_S16;
  av_channel_layout_default(&f->ch_layout, channels);
  f->sample_rate = rate;
  f->nb_samples = samples;
  av_frame_get_buffer(f, 0);
  auto* out = reinterpret_cast<int16_t*>(f->data[0]);
  for (int i = 0; i < samples; ++i) {
    const double v = std::sin(2 * M_PI * 440.0 * static_cast<double>(firstSample + i) / rate);
    for (int c = 0; c < channels; ++c) out[i * channels + c] = static_cast<int16_t>(v * 8000);
  }
  return std::make_shared<SampleBuffer>(MediaType::Audio, f, pts, MediaTimeMake(samples, rate));
}

// A movie written by the asset writer from generated pictures and a tone, as a live source would.
struct MovieSpec {
  QString fileType = QString::fromLatin1(kAVFileTypeMPEG4);
  int width = 640;
  int height = 360;
  int fps = 30;
  int fragmentSeconds = 2;
  int bitRate = 1000 * 1024;
  bool audio = true;
  int inRate = 48000;
  int inChannels = 2;
  int outRate = 48000;
  int outBitRate = 80000;
  bool realTime = true;  // the inputs expect media in real time, as from a live source
};

inline QVariantMap videoSettings(const MovieSpec& s) {
  return QVariantMap{{AVVideoCodecKey, AVVideoCodecTypeH264},
                     {AVVideoWidthKey, double(s.width)},
                     {AVVideoHeightKey, double(s.height)},
                     {AVVideoCompressionPropertiesKey,
                      QVariantMap{{AVVideoExpectedSourceFrameRateKey, float(s.fps)},
                                  {AVVideoMaxKeyFrameIntervalKey, float(s.fps)},
                                  {AVVideoAverageBitRateKey, s.bitRate}}}};
}

inline QVariantMap audioSettings(const MovieSpec& s) {
  return QVariantMap{{AVFormatIDKey, kAudioFormatMPEG4AAC},
                     {AVNumberOfChannelsKey, 2},
                     {AVSampleRateKey, s.outRate},
                     {AVEncoderBitRateKey, s.outBitRate}};
}

struct Movie {
  std::shared_ptr<AssetWriter> writer;
  std::shared_ptr<AssetWriterInput> video;
  std::shared_ptr<AssetWriterInput> audio;
};

inline Movie makeMovie(const QString& path, const MovieSpec& s) {
  Movie m;
  m.writer = AssetWriter::create(path, s.fileType);
  m.writer->setMovieFragmentInterval(MediaTimeMake(s.fragmentSeconds, 1));
  m.video = AssetWriterInput::create(MediaType::Video, videoSettings(s));
  m.video->setExpectsMediaDataInRealTime(s.realTime);
  m.writer->addInput(m.video);
  if (s.audio) {
    m.audio = AssetWriterInput::create(MediaType::Audio, audioSettings(s));
    m.audio->setExpectsMediaDataInRealTime(s.realTime);
    m.writer->addInput(m.audio);
  }
  return m;
}

inline MediaTime at(const MediaTime& base, double seconds) { return base + MediaTimeMakeWithSeconds(seconds, kHostClockTimescale); }

// Feeds frames [0, frames) and the audio up to the last frame's time, waiting for room in the queues as
// a patient (not real-time) source would. Stops early when the writer stops writing.
struct AudioGap {
  double from = -1;
  double to = -1;
};

inline void feed(Movie& m, const MovieSpec& s, const MediaTime& base, int frames, AudioGap gap = {}) {
  const int block = 1024;
  int64_t audioSamples = 0;
  for (int i = 0; i < frames; ++i) {
    const double t = double(i) / s.fps;
    Test_WaitUntil([&] { return m.video->isReadyForMoreMediaData() || m.writer->status() != AssetWriterStatusWriting; }, 20000);
    if (m.writer->status() != AssetWriterStatusWriting || !m.video->isReadyForMoreMediaData()) return;
    m.video->appendSampleBuffer(makeVideoBuffer(s.width, s.height, i, at(base, t)));
    while (m.audio && double(audioSamples) / s.inRate <= t) {
      const double blockTime = double(audioSamples) / s.inRate;
      if (blockTime < gap.from || blockTime >= gap.to) {
        Test_WaitUntil([&] { return m.audio->isReadyForMoreMediaData() || m.writer->status() != AssetWriterStatusWriting; }, 20000);
        m.audio->appendSampleBuffer(makeAudioBuffer(s.inRate, s.inChannels, block, audioSamples, at(base, blockTime)));
      }
      audioSamples += block;
    }
  }
}

inline bool finish(Movie& m) {
  std::atomic<bool> done{false};
  if (m.audio) m.audio->markAsFinished();
  m.video->markAsFinished();
  m.writer->finishWritingWithCompletionHandler([&] { done = true; });
  return Test_WaitUntil([&] { return done.load(); }, 60000);
}

// The four-character types of the top-level boxes that lie wholly inside a movie file, in order.
inline QStringList topLevelBoxes(const QString& path) {
  QStringList boxes;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return boxes;
  const QByteArray d = file.readAll();
  const auto number = [&](qint64 at, int bytes) {
    quint64 n = 0;
    for (int k = 0; k < bytes; ++k) n = (n << 8) | uint8_t(d[at + k]);
    return n;
  };
  qint64 i = 0;
  while (i + 8 <= d.size()) {
    quint64 size = number(i, 4);
    if (size == 1 && i + 16 <= d.size()) size = number(i + 8, 8);
    if (size < 8 || i + static_cast<qint64>(size) > d.size()) break;
    boxes << QString::fromLatin1(d.mid(i + 4, 4));
    i += static_cast<qint64>(size);
  }
  return boxes;
}

// The names the writer and recorder tests use for the shared ffprobe readings.
inline QJsonObject ffprobe(const QString& path) { return TestMovie_ProbeJson(path); }
inline QJsonObject streamOfType(const QJsonObject& probe, const QString& type) { return TestMovie_StreamOfType(probe, type); }
inline double formatDuration(const QJsonObject& probe) { return TestMovie_FormatDuration(probe); }
inline int decodableVideoFrames(const QString& path) { return TestMovie_DecodableVideoFrames(path); }

}  // namespace testmedia
