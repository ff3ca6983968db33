#pragma once
// Generated media and movie-file inspection for the writer and recorder tests.

#include "platform/foundation/MediaTime.h"
#include "platform/media/SampleBuffer.h"
#include "support/MediaTestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QJsonObject>
#include <QString>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

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
      row[4 * x + 0] = static_cast<uint8_t>(x + index * 4);
      row[4 * x + 1] = static_cast<uint8_t>(y + index * 2);
      row[4 * x + 2] = static_cast<uint8_t>((x ^ y) + index);
      row[4 * x + 3] = 255;
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

// The four-character types of the top-level boxes that lie wholly inside a movie file, in order.
inline QStringList topLevelBoxes(const QString& path) {
  QStringList boxes;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return boxes;
  const QByteArray d = file.readAll();
  qint64 i = 0;
  while (i + 8 <= d.size()) {
    quint64 size = (quint64(uint8_t(d[i])) << 24) | (quint64(uint8_t(d[i + 1])) << 16) |
                   (quint64(uint8_t(d[i + 2])) << 8) | quint64(uint8_t(d[i + 3]));
    if (size == 1 && i + 16 <= d.size()) {
      size = 0;
      for (int k = 0; k < 8; ++k) size = (size << 8) | uint8_t(d[i + 8 + k]);
    }
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
