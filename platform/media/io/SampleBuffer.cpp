#include "platform/media/io/SampleBuffer.h"

#include "platform/media/io/MediaLog.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <time.h>

SampleBuffer::SampleBuffer(MediaType type, AVFrame* frame, const MediaTime& presentationTime, const MediaTime& duration)
    : m_type(type), m_frame(frame), m_pts(presentationTime), m_duration(duration) {}

SampleBuffer::SampleBuffer(MediaType type, FFmpegFramePtr frame, const MediaTime& presentationTime,
                           const MediaTime& duration)
    : m_type(type), m_frame(std::move(frame)), m_pts(presentationTime), m_duration(duration) {}

SampleBuffer::~SampleBuffer() = default;

QSize SampleBuffer::dimensions() const { return m_frame ? QSize(m_frame->width, m_frame->height) : QSize(); }
int SampleBuffer::pixelFormat() const { return m_frame && m_type == MediaType::Video ? m_frame->format : -1; }
int SampleBuffer::sampleRate() const { return m_frame ? m_frame->sample_rate : 0; }
int SampleBuffer::channelCount() const { return m_frame ? m_frame->ch_layout.nb_channels : 0; }
int SampleBuffer::numSamples() const { return m_frame ? m_frame->nb_samples : 0; }

SampleBuffer::FormatDescription SampleBuffer::formatDescription() const {
  FormatDescription d;
  d.mediaType = m_type;
  if (!m_frame) return d;
  if (m_type == MediaType::Video) {
    d.pixelFormat = m_frame->format;
    d.dimensions = QSize(m_frame->width, m_frame->height);
  } else {
    d.sampleFormat = m_frame->format;
    d.sampleRate = m_frame->sample_rate;
    d.channelCount = m_frame->ch_layout.nb_channels;
  }
  return d;
}

MediaTime HostClock_Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return MediaTimeMake(static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec, kHostClockTimescale);
}

namespace {
// Every media path makes sample buffers, so this file is always linked: FFmpeg's messages are routed
// before the first codec opens.
const bool gMediaLogInstalled = (MediaLog_Install(), true);
}  // namespace
