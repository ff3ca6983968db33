#pragma once
// The writer's own parts, shared by its files: the file being written and the encoding of one input.
// Nothing outside the writer includes this.
#include "platform/media/writer/AssetWriter.h"

#include "platform/foundation/PlatformLog.h"
#include "platform/media/io/FFmpegCodec.h"
#include "platform/media/io/FFmpegUtil.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <atomic>
#include <climits>
#include <memory>
#include <mutex>

// Video times inside the file are counted in 1/90000 s, the usual clock of video streams.
constexpr int kAssetWriterVideoTimescale = 90000;

struct AssetWriterCore {
  std::atomic<AssetWriterStatus> status{AssetWriterStatusUnknown};
  std::atomic<bool> finishing{false};
  QString path;

  mutable std::mutex mutex;  // error and session times
  AssetWriterError error;
  MediaTime sessionStart = kMediaTimeInvalid;
  MediaTime sessionEnd = kMediaTimeInvalid;

  std::mutex muxMutex;  // the format context
  FFmpegOutputPtr ctx;

  ~AssetWriterCore() { closeFile(false); }

  bool isWriting() const { return status.load() == AssetWriterStatusWriting; }

  void sessionTimes(MediaTime* start, MediaTime* end) const {
    std::lock_guard lock(mutex);
    *start = sessionStart;
    *end = sessionEnd;
  }

  void fail(int code, const QString& text) {
    {
      std::lock_guard lock(mutex);
      const AssetWriterStatus s = status.load();
      if (s == AssetWriterStatusFailed || s == AssetWriterStatusCancelled || s == AssetWriterStatusCompleted) return;
      error = AssetWriterError{code, text};
      status = AssetWriterStatusFailed;
    }
    Platform_Log("ERR: asset writer failed: %@", text);
  }

  void failWriting(int code) {
    fail(code, Fmt("The movie file \"%@\" could not be written: %@.", path, FFmpeg_ErrorText(code)));
  }

  // Hands one encoded packet to the muxer. Takes the packet's reference in every case.
  void writePacket(AVPacket* pkt, int streamIndex, AVRational timeBase) {
    std::lock_guard lock(muxMutex);
    if (!ctx || !isWriting()) {
      av_packet_unref(pkt);
      return;
    }
    pkt->stream_index = streamIndex;
    av_packet_rescale_ts(pkt, timeBase, ctx->streams[streamIndex]->time_base);
    int ret = av_interleaved_write_frame(ctx.get(), pkt);
    if (ret >= 0 && ctx->pb && ctx->pb->error < 0) ret = ctx->pb->error;
    if (ret < 0) failWriting(ret);
  }

  // Closes the file; with trailer the movie is completed first. Answers the first error, or 0.
  int closeFile(bool trailer) {
    std::lock_guard lock(muxMutex);
    if (!ctx) return 0;
    int ret = 0;
    if (trailer) {
      ret = av_write_trailer(ctx.get());
      if (ret >= 0 && ctx->pb && ctx->pb->error < 0) ret = ctx->pb->error;
    }
    if (ctx->pb) {
      avio_flush(ctx->pb);
      if (ret >= 0 && ctx->pb->error < 0) ret = ctx->pb->error;
    }
    ctx.reset();
    return ret;
  }
};

// ---------------------------------------------------------------------------------------------------
// Encoding of one input, used only on the input's queue once writing has started (AssetWriterEncoding.cpp).

struct AssetWriterInput::Encoder {
  AVCodecContext* codec() const { return opened.codec.get(); }

  std::shared_ptr<AssetWriterCore> core;
  MediaType type = MediaType::Video;
  // The opened encoder and its encode loop.
  FFmpegEncoder opened;
  int streamIndex = -1;
  bool drained = false;
  bool loggedEarly = false;

  // video
  // The conversion runs in slices on all cores: done serially it would hold up the encoder by several
  // milliseconds for every 1080p frame.
  FFmpegFrameScaler toYUV{FFmpegScaleQuality::Bilinear, 0};
  FFmpegFramePtr yuv;
  int64_t lastPts = INT64_MIN;
  int64_t frameDuration = 0;
  // Fragment length in ticks (0: not fragmented) and the time of the key frame that began the fragment.
  int64_t fragmentTicks = 0;
  int64_t fragmentStart = INT64_MIN;
  // A fragment ends on the first picture at least this long after its start: half a picture short of
  // the length, so that the picture nearest to the length begins the next one.
  int64_t fragmentCutTicks() const { return fragmentTicks - frameDuration / 2; }

  // audio
  FFmpegResampler resampler;
  FFmpegFifoPtr fifo;
  bool audioStarted = false;
  bool audioEnded = false;
  int64_t skipSamples = 0;
  int64_t nextSamplePts = 0;

  void send(AVFrame* frame);

  bool sessionBounds(MediaTime* start, MediaTime* end);

  void encodeVideo(const SampleBuffer& buffer);

  bool ensureResampler(const AVFrame* in);

  void encodeAudio(const SampleBuffer& buffer);

  // A frame of samples in the encoder's format; a frame that cannot be had fails the writer.
  FFmpegFramePtr makeAudioFrame(int samples);

  // Queues samples for the encoder; a queue that cannot grow fails the writer.
  bool writeFifo(void** planes, int count);

  // Counting samples alone would let the sound slide against the picture when buffers go missing (a
  // full queue drops them) or when the microphone's clock runs apart from the host clock. A buffer that
  // lands more than this far from where the count puts it moves the count: silence fills a gap, and
  // samples that would overlap are left out.
  void resync(int64_t actualPosition);

  void encodeFifo(bool flush, const MediaTime& start, const MediaTime& end);

  void drain();
};

// Opens the encoder of an input and adds its stream to the file. Answers an error text, empty on success.
QString AssetWriter_OpenEncoder(AssetWriterInput::Encoder* enc, MediaType type, const QVariantMap& settings,
                                AVFormatContext* fmt);
