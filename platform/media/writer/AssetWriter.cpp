#include "platform/media/writer/AssetWriter.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/media/io/FFmpegCodec.h"
#include "platform/media/io/FFmpegUtil.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <climits>
#include <cmath>
#include <mutex>

namespace {

// Video times inside the file are counted in 1/90000 s, the usual clock of video streams.
constexpr int kVideoTimescale = 90000;
// Bounds of the encoding queues: about half a second of video at 25-30 fps, about a second of audio.
constexpr int kVideoQueueCapacity = 12;
constexpr int kAudioQueueCapacity = 48;
// A stream that falls silent (a microphone that stops) may hold back the other one at most this long.
constexpr int64_t kMaxInterleaveDelta = 1000000;

const char* mediaTypeName(MediaType type) { return type == MediaType::Video ? kMediaTypeVideo : kMediaTypeAudio; }

bool isSupportedAACRate(int rate) {
  static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
  for (int r : rates)
    if (r == rate) return true;
  return false;
}

}  // namespace

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
// Encoding of one input, used only on the input's queue once writing has started.

struct AssetWriterInput::Encoder {
  std::shared_ptr<AssetWriterCore> core;
  MediaType type = MediaType::Video;
  FFmpegCodecPtr ctx;
  FFmpegFrameEncoder encoder;
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

  void send(AVFrame* frame) {
    FFmpegEncodeStep failed = FFmpegEncodeStep::Send;
    const int ret = encoder.encode(frame, [this](AVPacket* packet) {
      if (type == MediaType::Video && packet->duration <= 0) packet->duration = frameDuration;
      core->writePacket(packet, streamIndex, ctx->time_base);
      return 0;  // a failed write ends the writer there
    }, &failed);
    if (ret >= 0) return;
    const char* what = type == MediaType::Video ? "video" : "audio";
    core->fail(ret, failed == FFmpegEncodeStep::Send ? Fmt("The %@ encoder refused a frame: %@.", what, FFmpeg_ErrorText(ret))
                                                     : Fmt("The %@ encoder failed: %@.", what, FFmpeg_ErrorText(ret)));
  }

  bool sessionBounds(MediaTime* start, MediaTime* end) {
    core->sessionTimes(start, end);
    if (start->isNumeric()) return true;
    if (!loggedEarly) {
      Platform_Log("ATT: %@ buffer appended before the writer session started, dropping it", mediaTypeName(type));
      loggedEarly = true;
    }
    return false;
  }

  void encodeVideo(const SampleBuffer& buffer) {
    MediaTime start, end;
    if (!sessionBounds(&start, &end)) return;
    const MediaTime pts = buffer.presentationTimeStamp();
    if (!pts.isNumeric() || pts < start) return;
    if (end.isNumeric() && pts > end) return;
    const int64_t t = MediaTimeConvertScale(pts - start, kVideoTimescale).value;
    if (t <= lastPts) {
      Platform_Log("ATT: video buffer out of order (%@), dropping it", pts.description());
      return;
    }
    const AVFrame* src = buffer.frame();
    if (!src || src->width <= 0 || src->height <= 0) return;
    // A fragment can only end at a key frame, and the muxer ends one at the first key frame once it is
    // nearly a fragment long (fragmentCutTicks). The picture nearest to a fragment length after the
    // fragment's own start is made a key frame, so every fragment is that long to within half a
    // picture: left to the encoder's key frame rhythm, the host clock's jitter would often push the
    // cut to the key frame a second later. The picture is asked for as an I picture, which x264 makes
    // an IDR frame (its GOPs are closed), wherever it falls in the encoder's own key-frame rhythm.
    const bool forceKey =
        fragmentTicks > 0 && (fragmentStart == INT64_MIN || t - fragmentStart >= fragmentCutTicks());
    if (forceKey) fragmentStart = t;
    const AVPictureType pictType = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (src->format == AV_PIX_FMT_YUV420P && src->width == ctx->width && src->height == ctx->height) {
      const FFmpegFramePtr f = FFmpeg_CloneFrame(src);
      if (!f) return;
      f->pts = t;
      f->pict_type = pictType;
      send(f.get());
    } else {
      // The encoder may still hold the previous picture: never draw over it.
      int ret = av_frame_make_writable(yuv.get());
      if (ret < 0) {
        core->fail(ret, Fmt("No memory for a video frame: %@.", FFmpeg_ErrorText(ret)));
        return;
      }
      ret = toYUV.scale(src, yuv.get());
      if (ret < 0) {
        core->fail(ret, Fmt("Video frames of %@x%@ in format %@ cannot be converted.", src->width, src->height,
                            src->format));
        return;
      }
      yuv->pts = t;
      yuv->pict_type = pictType;
      send(yuv.get());
    }
    lastPts = t;
  }

  bool ensureResampler(const AVFrame* in) {
    int ret = 0;
    if (resampler.prepare(in, ctx->sample_fmt, ctx->sample_rate, ctx->ch_layout.nb_channels, &ret)) return true;
    core->fail(ret, Fmt("Audio of %@ Hz cannot be converted: %@.", in->sample_rate, FFmpeg_ErrorText(ret)));
    return false;
  }

  void encodeAudio(const SampleBuffer& buffer) {
    MediaTime start, end;
    if (!sessionBounds(&start, &end) || audioEnded) return;
    const AVFrame* in = buffer.frame();
    if (!in || in->nb_samples <= 0 || in->sample_rate <= 0) return;
    const int outRate = ctx->sample_rate;
    const MediaTime pts = buffer.presentationTimeStamp();
    if (!audioStarted) {
      if (!pts.isNumeric()) return;
      // The first buffer places the audio on the movie's timeline; later ones follow sample by sample.
      const int64_t offset = MediaTimeConvertScale(pts - start, outRate).value;
      const int64_t length = av_rescale(in->nb_samples, outRate, in->sample_rate);
      if (offset + length <= 0) return;
      skipSamples = offset < 0 ? -offset : 0;
      nextSamplePts = offset < 0 ? 0 : offset;
      audioStarted = true;
      if (!ensureResampler(in)) return;
    } else {
      if (!ensureResampler(in)) return;
      if (pts.isNumeric()) resync(MediaTimeConvertScale(pts - start, outRate).value);
    }
    const int outSamples = swr_get_out_samples(resampler.context(), in->nb_samples);
    const FFmpegFramePtr tmp = outSamples > 0 ? makeAudioFrame(outSamples) : nullptr;
    if (tmp) {
      const int got = resampler.convert(tmp->data, tmp->nb_samples, in);
      if (got < 0) {
        core->fail(got, Fmt("Audio of %@ Hz cannot be converted: %@.", in->sample_rate, FFmpeg_ErrorText(got)));
        return;
      }
      // Samples owed to a skip are left out of this buffer's start (the encoder's format is planar).
      const int skip = static_cast<int>(std::min<int64_t>(skipSamples, std::max(got, 0)));
      skipSamples -= skip;
      if (got > skip) {
        void* planes[AV_NUM_DATA_POINTERS] = {nullptr};
        const int bytes = av_get_bytes_per_sample(ctx->sample_fmt);
        for (int c = 0; c < ctx->ch_layout.nb_channels && c < AV_NUM_DATA_POINTERS; ++c)
          planes[c] = tmp->data[c] + static_cast<ptrdiff_t>(skip) * bytes;
        if (!writeFifo(planes, got - skip)) return;
      }
    }
    encodeFifo(false, start, end);
  }

  // A frame of samples in the encoder's format; a frame that cannot be had fails the writer.
  FFmpegFramePtr makeAudioFrame(int samples) {
    int ret = 0;
    FFmpegFramePtr f = FFmpeg_MakeAudioFrame(ctx->sample_fmt, ctx->sample_rate, ctx->ch_layout.nb_channels, samples, &ret);
    if (f) return f;
    core->fail(ret, Fmt("No memory for audio samples: %@.", FFmpeg_ErrorText(ret)));
    return nullptr;
  }

  // Queues samples for the encoder; a queue that cannot grow fails the writer.
  bool writeFifo(void** planes, int count) {
    const int written = av_audio_fifo_write(fifo.get(), planes, count);
    if (written >= count) return true;
    const int ret = written < 0 ? written : AVERROR(ENOMEM);
    core->fail(ret, Fmt("No memory for audio samples: %@.", FFmpeg_ErrorText(ret)));
    return false;
  }

  // Counting samples alone would let the sound slide against the picture when buffers go missing (a
  // full queue drops them) or when the microphone's clock runs apart from the host clock. A buffer that
  // lands more than this far from where the count puts it moves the count: silence fills a gap, and
  // samples that would overlap are left out.
  void resync(int64_t actualPosition) {
    const int64_t expected =
        nextSamplePts + av_audio_fifo_size(fifo.get()) + swr_get_delay(resampler.context(), ctx->sample_rate) - skipSamples;
    const int64_t drift = actualPosition - expected;
    const int64_t tolerance = ctx->sample_rate / 10;
    if (drift > -tolerance && drift < tolerance) return;
    Platform_Log("ATT: audio moved by %lld samples to stay with the picture", static_cast<long long>(drift));
    if (drift < 0) {
      skipSamples += -drift;
      return;
    }
    int64_t silence = drift;
    // Silence first pays off samples still owed to a skip.
    const int64_t owed = std::min(silence, skipSamples);
    skipSamples -= owed;
    silence -= owed;
    const FFmpegFramePtr zero = makeAudioFrame(4096);
    if (zero) {
      av_samples_set_silence(zero->data, 0, zero->nb_samples, zero->ch_layout.nb_channels,
                             static_cast<AVSampleFormat>(zero->format));
      while (silence > 0) {
        const int n = static_cast<int>(std::min<int64_t>(silence, zero->nb_samples));
        if (!writeFifo(reinterpret_cast<void**>(zero->data), n)) return;
        silence -= n;
      }
    }
  }

  void encodeFifo(bool flush, const MediaTime& start, const MediaTime& end) {
    const int frameSize = ctx->frame_size > 0 ? ctx->frame_size : 1024;
    const int64_t endSample = end.isNumeric() && start.isNumeric()
                                  ? MediaTimeConvertScale(end - start, ctx->sample_rate).value
                                  : INT64_MAX;
    while (!audioEnded && (av_audio_fifo_size(fifo.get()) >= frameSize || (flush && av_audio_fifo_size(fifo.get()) > 0))) {
      int count = std::min(av_audio_fifo_size(fifo.get()), frameSize);
      if (nextSamplePts >= endSample) {
        audioEnded = true;
        break;
      }
      if (nextSamplePts + count > endSample) count = static_cast<int>(endSample - nextSamplePts);
      const FFmpegFramePtr f = makeAudioFrame(count);
      if (!f) return;
      const int read = av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(f->data), count);
      if (read != count) {
        const int ret = read < 0 ? read : AVERROR_BUG;
        core->fail(ret, Fmt("Queued audio samples cannot be read: %@.", FFmpeg_ErrorText(ret)));
        return;
      }
      f->pts = nextSamplePts;
      nextSamplePts += count;
      send(f.get());
      // Only the last frame may be short.
      if (count < frameSize) audioEnded = true;
    }
    if (audioEnded) av_audio_fifo_reset(fifo.get());
  }

  void drain() {
    if (drained) return;
    drained = true;
    if (type == MediaType::Audio && audioStarted) {
      MediaTime start, end;
      core->sessionTimes(&start, &end);
      encodeFifo(true, start, end);
    }
    send(nullptr);
  }
};

// ---------------------------------------------------------------------------------------------------

namespace {

double numberSetting(const QVariantMap& map, const char* key, double fallback = 0) {
  return FFmpeg_NumberSetting(map, key, fallback);
}

// Opens the encoder of an input and adds its stream to the file. Answers an error text, empty on success.
QString openEncoder(AssetWriterInput::Encoder* enc, MediaType type, const QVariantMap& settings, AVFormatContext* fmt) {
  FFmpegEncoder opened;
  QString failure;
  if (type == MediaType::Video) {
    if (!FFmpeg_OpenH264Encoder(&opened, settings, AVRational{1, kVideoTimescale}, fmt, &failure)) return failure;
    const QVariantMap props = settings.value(QString::fromLatin1(AVVideoCompressionPropertiesKey)).toMap();
    double fps = numberSetting(props, AVVideoExpectedSourceFrameRateKey, 30);
    if (fps <= 0) fps = 30;
    enc->frameDuration = std::max<int64_t>(1, std::llround(kVideoTimescale / fps));
  } else if (!FFmpeg_OpenAACEncoder(&opened, settings, fmt, &failure)) {
    return failure;
  }
  enc->ctx = std::move(opened.codec);
  enc->streamIndex = opened.stream->index;
  if (!enc->encoder.start(enc->ctx.get())) return QStringLiteral("Out of memory for encoded packets.");
  if (type == MediaType::Video) {
    enc->yuv = FFmpeg_MakeVideoFrame(AV_PIX_FMT_YUV420P, enc->ctx->width, enc->ctx->height);
    if (!enc->yuv) return QStringLiteral("Out of memory for video frames.");
  } else {
    enc->fifo.reset(av_audio_fifo_alloc(enc->ctx->sample_fmt, enc->ctx->ch_layout.nb_channels, 4096));
    if (!enc->fifo) return QStringLiteral("Out of memory for audio samples.");
  }
  return QString();
}
}  // namespace

// ---------------------------------------------------------------------------------------------------

std::shared_ptr<AssetWriterInput> AssetWriterInput::create(MediaType mediaType, const QVariantMap& outputSettings) {
  return std::shared_ptr<AssetWriterInput>(new AssetWriterInput(mediaType, outputSettings));
}

AssetWriterInput::AssetWriterInput(MediaType mediaType, const QVariantMap& outputSettings)
    : m_mediaType(mediaType),
      m_settings(outputSettings),
      m_capacity(mediaType == MediaType::Video ? kVideoQueueCapacity : kAudioQueueCapacity),
      m_queue(DispatchQueue::create(mediaType == MediaType::Video ? QStringLiteral("org.velmora.writer.video")
                                                                  : QStringLiteral("org.velmora.writer.audio"))) {}

AssetWriterInput::~AssetWriterInput() {
  // Blocks still queued see m_dead and only let go of their buffers.
  m_dead = true;
  m_queue.reset();
}

bool AssetWriterInput::isReadyForMoreMediaData() const {
  return m_core && m_core->isWriting() && !m_core->finishing.load() && !m_finished.load() &&
         m_pending.load() < m_capacity;
}

bool AssetWriterInput::appendSampleBuffer(const SampleBufferRef& buffer) {
  if (!buffer || buffer->mediaType() != m_mediaType) {
    Platform_Log("ATT: %@ input: buffer missing or of another media type, dropping it", mediaTypeName(m_mediaType));
    return false;
  }
  if (!isReadyForMoreMediaData()) {
    Platform_Log("ATT: %@ input not ready, dropping buffer at %@", mediaTypeName(m_mediaType),
                 buffer->presentationTimeStamp().description());
    return false;
  }
  ++m_pending;
  m_queue->async([this, buffer] {
    if (!m_dead) encode(buffer);
    --m_pending;
  });
  return true;
}

void AssetWriterInput::encode(const SampleBufferRef& buffer) {
  if (!m_encoder || !m_core->isWriting() || m_encoder->drained) return;
  if (m_mediaType == MediaType::Video)
    m_encoder->encodeVideo(*buffer);
  else
    m_encoder->encodeAudio(*buffer);
}

void AssetWriterInput::drain() {
  if (m_encoder && m_core && m_core->isWriting()) m_encoder->drain();
}

void AssetWriterInput::markAsFinished() {
  if (m_finished.exchange(true)) return;
  m_queue->async([this] {
    if (!m_dead) drain();
  });
}

// ---------------------------------------------------------------------------------------------------

std::shared_ptr<AssetWriter> AssetWriter::create(const QString& path, const QString& fileType, AssetWriterError* error) {
  if (fileType != QLatin1String(kAVFileTypeQuickTimeMovie) && fileType != QLatin1String(kAVFileTypeMPEG4)) {
    if (error) *error = AssetWriterError{AVERROR(EINVAL), Fmt("The file type \"%@\" cannot be written.", fileType)};
    return nullptr;
  }
  if (path.isEmpty()) {
    if (error) *error = AssetWriterError{AVERROR(EINVAL), QStringLiteral("No movie file was given.")};
    return nullptr;
  }
  return std::shared_ptr<AssetWriter>(new AssetWriter(path, fileType));
}

AssetWriter::AssetWriter(const QString& path, const QString& fileType)
    : m_path(path), m_fileType(fileType), m_core(std::make_shared<AssetWriterCore>()) {
  m_core->path = path;
}

AssetWriter::~AssetWriter() {
  // An abandoned writer leaves its file as written so far: the complete fragments stay playable.
  if (m_core->isWriting()) Platform_Log("ATT: asset writer for %@ released while writing", m_path);
  m_inputs.clear();
}

AssetWriterStatus AssetWriter::status() const { return m_core->status.load(); }

AssetWriterError AssetWriter::error() const {
  std::lock_guard lock(m_core->mutex);
  return m_core->error;
}

bool AssetWriter::canApplyOutputSettings(const QVariantMap& settings, MediaType mediaType) const {
  if (mediaType == MediaType::Video) {
    if (settings.value(QString::fromLatin1(AVVideoCodecKey)).toString() != QLatin1String(AVVideoCodecTypeH264))
      return false;
    const double w = numberSetting(settings, AVVideoWidthKey), h = numberSetting(settings, AVVideoHeightKey);
    // 4:2:0 H.264 needs even sizes.
    return w >= 16 && h >= 16 && w <= 8192 && h <= 8192 && static_cast<int>(w) % 2 == 0 &&
           static_cast<int>(h) % 2 == 0;
  }
  const QVariant format = settings.value(QString::fromLatin1(AVFormatIDKey));
  if (format.toString() != QLatin1String(kAudioFormatMPEG4AAC)) return false;
  const double channels = numberSetting(settings, AVNumberOfChannelsKey, 2);
  const double rate = numberSetting(settings, AVSampleRateKey, 48000);
  const double bitRate = numberSetting(settings, AVEncoderBitRateKey, 64000);
  return channels >= 1 && channels <= 2 && isSupportedAACRate(static_cast<int>(rate)) && bitRate > 0;
}

bool AssetWriter::canAddInput(const std::shared_ptr<AssetWriterInput>& input) const {
  if (!input || status() != AssetWriterStatusUnknown || input->m_core) return false;
  for (const auto& existing : m_inputs)
    if (existing->mediaType() == input->mediaType()) return false;
  return canApplyOutputSettings(input->outputSettings(), input->mediaType());
}

void AssetWriter::addInput(const std::shared_ptr<AssetWriterInput>& input) {
  if (!canAddInput(input)) {
    Platform_Log("ATT: asset writer cannot add a %@ input", input ? mediaTypeName(input->mediaType()) : "null");
    return;
  }
  input->m_core = m_core;
  m_inputs.push_back(input);
}

bool AssetWriter::startWriting() {
  if (status() != AssetWriterStatusUnknown) return false;
  const bool mp4 = m_fileType == QLatin1String(kAVFileTypeMPEG4);
  AVFormatContext* ctx = nullptr;
  const QByteArray path = QFile::encodeName(m_path);
  int ret = avformat_alloc_output_context2(&ctx, nullptr, mp4 ? "mp4" : "mov", path.constData());
  if (ret < 0 || !ctx) {
    m_core->fail(ret, Fmt("The movie file \"%@\" could not be set up: %@.", m_path, FFmpeg_ErrorText(ret)));
    return false;
  }
  {
    std::lock_guard lock(m_core->muxMutex);
    m_core->ctx.reset(ctx);
  }
  bool hasVideo = false;
  for (const auto& input : m_inputs) {
    auto enc = std::make_unique<AssetWriterInput::Encoder>();
    enc->core = m_core;
    enc->type = input->mediaType();
    const QString failure = openEncoder(enc.get(), input->mediaType(), input->outputSettings(), ctx);
    if (!failure.isEmpty()) {
      m_core->fail(AVERROR(EINVAL), failure);
      m_core->closeFile(false);
      return false;
    }
    hasVideo = hasVideo || input->mediaType() == MediaType::Video;
    input->m_encoder = std::move(enc);
  }
  const int64_t fragmentSeconds =
      m_fragmentInterval.isNumeric() ? static_cast<int64_t>(MediaTimeGetSeconds(m_fragmentInterval)) : 0;
  int64_t minFragmentMicros = fragmentSeconds * 1000000;
  for (const auto& input : m_inputs) {
    if (input->mediaType() != MediaType::Video) continue;
    AssetWriterInput::Encoder& enc = *input->m_encoder;
    enc.fragmentTicks = fragmentSeconds * kVideoTimescale;
    // The muxer's own threshold lies a millisecond below the encoder's, so that it cuts at the key
    // frame the encoder was asked for and never waits for the next one.
    if (fragmentSeconds > 0)
      minFragmentMicros = std::max<int64_t>(0, enc.fragmentCutTicks() * 1000000 / kVideoTimescale - 1000);
  }
  ctx->max_interleave_delta = kMaxInterleaveDelta;
  // The muxer keeps a fragment's samples in memory and writes it whole; pushing it out of the I/O
  // buffer at once means a fragment is either complete on disk or (after a crash) not there at all.
  ctx->flush_packets = 1;
  FFmpegOptions opts;
  if (fragmentSeconds > 0) {
    // The header goes out at once with an empty movie box; each fragment then carries its own sample
    // tables, so a reader can play the file while it grows and after an abrupt end.
    opts.set("movflags", "frag_keyframe+empty_moov+default_base_moof");
    // Cut at the first key frame once a fragment is (nearly) this long; audio alone is cut by duration.
    opts.set(hasVideo ? "min_frag_duration" : "frag_duration", hasVideo ? minFragmentMicros : fragmentSeconds * 1000000);
  }
  ret = avio_open(&ctx->pb, path.constData(), AVIO_FLAG_WRITE);
  if (ret < 0) {
    m_core->fail(ret, Fmt("The movie file \"%@\" could not be created: %@.", m_path, FFmpeg_ErrorText(ret)));
    m_core->closeFile(false);
    return false;
  }
  {
    std::lock_guard lock(m_core->muxMutex);
    ret = avformat_write_header(ctx, opts.address());
    if (ret >= 0) {
      avio_flush(ctx->pb);
      if (ctx->pb->error < 0) ret = ctx->pb->error;
    }
  }
  if (ret < 0) {
    m_core->failWriting(ret);
    m_core->closeFile(false);
    return false;
  }
  m_core->status = AssetWriterStatusWriting;
  return true;
}

void AssetWriter::startSessionAtSourceTime(const MediaTime& startTime) {
  std::lock_guard lock(m_core->mutex);
  if (m_core->sessionStart.isNumeric()) {
    Platform_Log("ATT: asset writer session already started at %@", m_core->sessionStart.description());
    return;
  }
  m_core->sessionStart = startTime;
}

void AssetWriter::endSessionAtSourceTime(const MediaTime& endTime) {
  std::lock_guard lock(m_core->mutex);
  m_core->sessionEnd = endTime;
}

void AssetWriter::finishWritingWithCompletionHandler(std::function<void()> handler) {
  if (m_core->finishing.exchange(true)) {
    Platform_Log("ATT: asset writer asked to finish twice");
    return;
  }
  if (status() != AssetWriterStatusWriting)
    Platform_Log("ATT: asset writer asked to finish with status %ld", static_cast<long>(status()));
  auto self = shared_from_this();
  Dispatch_GlobalAsync([self, handler = std::move(handler)] {
    for (const auto& input : self->m_inputs) input->m_queue->sync([&] { input->drain(); });
    const bool writing = self->m_core->isWriting();
    const int ret = self->m_core->closeFile(writing);
    if (writing) {
      if (ret < 0)
        self->m_core->failWriting(ret);
      else
        self->m_core->status = AssetWriterStatusCompleted;
    }
    if (handler) handler();
  });
}

void AssetWriter::cancelWriting() {
  const AssetWriterStatus s = status();
  if (s == AssetWriterStatusCompleted || s == AssetWriterStatusCancelled) return;
  m_core->status = AssetWriterStatusCancelled;
  for (const auto& input : m_inputs) input->m_queue->sync([] {});
  m_core->closeFile(false);
  QFile::remove(m_path);
}
