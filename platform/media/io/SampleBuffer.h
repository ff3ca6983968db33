#pragma once
// One captured or decoded media sample: a video frame or a block of audio, stamped on the host clock.
// The payload is an FFmpeg frame owned by the buffer; buffers are shared read-only once made.

#include "platform/foundation/MediaTime.h"
#include "platform/media/io/FFmpegUtil.h"

#include <QSize>

#include <memory>

enum class MediaType { Video, Audio };

// The platform's media type names, as the capture and writing code compare them.
inline constexpr const char* kMediaTypeVideo = "vide";
inline constexpr const char* kMediaTypeAudio = "soun";
inline constexpr const char* MediaType_Name(MediaType type) { return type == MediaType::Video ? kMediaTypeVideo : kMediaTypeAudio; }

class SampleBuffer {
 public:
  // Takes ownership of the frame.
  SampleBuffer(MediaType type, AVFrame* frame, const MediaTime& presentationTime, const MediaTime& duration);
  SampleBuffer(MediaType type, FFmpegFramePtr frame, const MediaTime& presentationTime, const MediaTime& duration);
  ~SampleBuffer();
  SampleBuffer(const SampleBuffer&) = delete;
  SampleBuffer& operator=(const SampleBuffer&) = delete;

  MediaType mediaType() const { return m_type; }
  MediaTime presentationTimeStamp() const { return m_pts; }
  MediaTime duration() const { return m_duration; }
  void setPresentationTimeStamp(const MediaTime& t) { m_pts = t; }
  const AVFrame* frame() const { return m_frame.get(); }
  AVFrame* frame() { return m_frame.get(); }

  // Video: the frame's size and FFmpeg pixel format. Audio: sample rate, channels and sample count.
  QSize dimensions() const;
  int pixelFormat() const;
  int sampleRate() const;
  int channelCount() const;
  int numSamples() const;
  // A buffer always carries its data once made; kept for callers that check before appending.
  bool dataIsReady() const { return m_frame != nullptr; }

  // What the buffer holds, as a writer needs it to set up its inputs.
  struct FormatDescription {
    MediaType mediaType = MediaType::Video;
    int pixelFormat = -1;  // FFmpeg pixel format (video)
    QSize dimensions;
    int sampleFormat = -1;  // FFmpeg sample format (audio)
    int sampleRate = 0;
    int channelCount = 0;
  };
  FormatDescription formatDescription() const;

 private:
  MediaType m_type;
  FFmpegFramePtr m_frame;
  MediaTime m_pts;
  MediaTime m_duration;
};

using SampleBufferRef = std::shared_ptr<SampleBuffer>;

// The monotonic host clock all capture and playback times are measured on (nanoseconds).
MediaTime HostClock_Now();
inline constexpr int32_t kHostClockTimescale = 1000000000;
