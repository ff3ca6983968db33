#include "platform/media/writer/AssetWriter.h"
#include "platform/media/writer/AssetWriterParts.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/media/io/FFmpegCodec.h"
#include "platform/media/io/FFmpegUtil.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <climits>
#include <cmath>
#include <mutex>

namespace {

// Bounds of the encoding queues: about half a second of video at 25-30 fps, about a second of audio.
constexpr int kVideoQueueCapacity = 12;
constexpr int kAudioQueueCapacity = 48;
// A stream that falls silent (a microphone that stops) may hold back the other one at most this long.
constexpr int64_t kMaxInterleaveDelta = 1000000;

bool isSupportedAACRate(int rate) {
  static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
  for (int r : rates)
    if (r == rate) return true;
  return false;
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
    Platform_Log("ATT: %@ input: buffer missing or of another media type, dropping it", MediaType_Name(m_mediaType));
    return false;
  }
  if (!isReadyForMoreMediaData()) {
    Platform_Log("ATT: %@ input not ready, dropping buffer at %@", MediaType_Name(m_mediaType),
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
    const double w = FFmpeg_NumberSetting(settings, AVVideoWidthKey), h = FFmpeg_NumberSetting(settings, AVVideoHeightKey);
    // 4:2:0 H.264 needs even sizes.
    return w >= 16 && h >= 16 && w <= 8192 && h <= 8192 && static_cast<int>(w) % 2 == 0 &&
           static_cast<int>(h) % 2 == 0;
  }
  const QVariant format = settings.value(QString::fromLatin1(AVFormatIDKey));
  if (format.toString() != QLatin1String(kAudioFormatMPEG4AAC)) return false;
  const double channels = FFmpeg_NumberSetting(settings, AVNumberOfChannelsKey, 2);
  const double rate = FFmpeg_NumberSetting(settings, AVSampleRateKey, 48000);
  const double bitRate = FFmpeg_NumberSetting(settings, AVEncoderBitRateKey, 64000);
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
    Platform_Log("ATT: asset writer cannot add a %@ input", input ? MediaType_Name(input->mediaType()) : "null");
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
    const QString failure = AssetWriter_OpenEncoder(enc.get(), input->mediaType(), input->outputSettings(), ctx);
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
    enc.fragmentTicks = fragmentSeconds * kAssetWriterVideoTimescale;
    // The muxer's own threshold lies a millisecond below the encoder's, so that it cuts at the key
    // frame the encoder was asked for and never waits for the next one.
    if (fragmentSeconds > 0)
      minFragmentMicros = std::max<int64_t>(0, enc.fragmentCutTicks() * 1000000 / kAssetWriterVideoTimescale - 1000);
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
