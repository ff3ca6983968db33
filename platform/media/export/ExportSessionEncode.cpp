// Highest-quality export: decode the sources, compose each frame at the render size, mix the sound,
// and encode H.264 and AAC.

#include "platform/media/export/ExportSessionWork.h"
#include "platform/media/io/FFmpegCodec.h"
#include "platform/media/io/MediaSettings.h"

#include <QFile>
#include <QImage>
#include <QPainter>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;

double seconds(const MediaTime& t) { return MediaTimeGetSeconds(t); }

// Opens the decoder of one source stream.
struct SourceDecoder {
  FFmpegInputPtr in;
  FFmpegCodecPtr dec;
  FFmpegFrameDecoder frames;
  QString path;
  AVRational tb{1, 1};

  void close() {
    frames.start(nullptr, -1, nullptr);
    dec.reset();
    in.reset();
  }
  bool open(const AssetTrackSegment& seg, QString* error) {
    close();
    path = seg.sourcePath;
    in = Asset_TakeInput(seg.sourcePath, seg.sourceByteLimit, error);
    if (!in) return false;
    if (seg.sourceStreamIndex < 0 || unsigned(seg.sourceStreamIndex) >= in->nb_streams) {
      *error = QStringLiteral("The source track of %1 is missing.").arg(seg.sourcePath);
      return false;
    }
    const int stream = seg.sourceStreamIndex;
    for (unsigned i = 0; i < in->nb_streams; ++i)
      in->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* st = in->streams[stream];
    tb = st->time_base;
    int rc = 0;
    dec = FFmpeg_OpenDecoder(st, false, &rc);
    if (rc == AVERROR_DECODER_NOT_FOUND) {
      *error = QStringLiteral("No decoder for %1.").arg(QString::fromLatin1(avcodec_get_name(st->codecpar->codec_id)));
      return false;
    }
    if (!dec) {
      *error = QStringLiteral("The decoder cannot be opened: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    if (!frames.start(in.get(), stream, dec.get())) {
      *error = QStringLiteral("Out of memory while decoding %1.").arg(seg.sourcePath);
      return false;
    }
    const int64_t ts = seg.timeMapping.source.start.isNumeric()
                           ? av_rescale_rnd(seg.timeMapping.source.start.value, tb.den,
                                            int64_t(seg.timeMapping.source.start.timescale) * tb.num, AV_ROUND_DOWN)
                           : 0;
    rc = frames.seek(ts);
    if (rc < 0) {
      *error = QStringLiteral("%1 cannot be read from its start: %2").arg(seg.sourcePath, FFmpeg_ErrorText(rc));
      return false;
    }
    return true;
  }
  // The next decoded frame; empty at the end, and when decoding fails (with the reason in *error).
  FFmpegFramePtr next(QString* error) {
    FFmpegFramePtr frame = FFmpeg_MakeFrame();
    if (!frame) {
      *error = QStringLiteral("Out of memory while decoding %1.").arg(path);
      return {};
    }
    const int rc = frames.next(frame.get());
    if (rc == 0) return frame;
    if (rc != AVERROR_EOF) *error = QStringLiteral("%1 cannot be decoded: %2").arg(path, FFmpeg_ErrorText(rc));
    return {};
  }
  double frameSeconds(const AVFrame* f) const {
    const int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    return ts == AV_NOPTS_VALUE ? 0.0 : double(ts) * av_q2d(tb);
  }
};

// The picture of one composition video track at any time of the export, read forward.
class VideoTrackReader {
 public:
  explicit VideoTrackReader(QList<AssetTrackSegment> segments) : m_segments(std::move(segments)) {}

  // t: seconds from the export's start. Null when the track shows nothing then.
  const QImage* frameAt(double t, QString* error) {
    if (!pictureAt(t, error)) return nullptr;
    if (!m_imageValid) {
      const QSize size(m_current->width, m_current->height);
      if (!m_scaler.scale(m_current.get(), size, QImage::Format_RGB32, &m_image)) {
        *error = QStringLiteral("A picture of %1 cannot be converted.").arg(m_segments[m_segIndex].sourcePath);
        return nullptr;
      }
      m_imageValid = true;
    }
    return &m_image;
  }

  // The decoded picture itself (for frames that need no drawing), or null as frameAt.
  const AVFrame* pictureAt(double t, QString* error) {
    qsizetype index = -1;
    for (qsizetype i = 0; i < m_segments.size(); ++i) {
      const auto& target = m_segments[i].timeMapping.target;
      if (t >= seconds(target.start) - 1e-9 && t < seconds(target.end()) - 1e-9) {
        index = i;
        break;
      }
    }
    if (index < 0 || m_segments[index].empty) return nullptr;
    const AssetTrackSegment& seg = m_segments[index];
    if (index != m_segIndex) {
      m_current.reset();
      m_pending.reset();
      m_imageValid = false;
      m_segIndex = index;
      if (!m_decoder.open(seg, error)) return nullptr;
    }
    const double ratio = seconds(seg.timeMapping.source.duration) / std::max(1e-9, seconds(seg.timeMapping.target.duration));
    // A small margin keeps a frame whose time equals the output frame's time from rounding away.
    const double srcTime = seconds(seg.timeMapping.source.start) + (t - seconds(seg.timeMapping.target.start)) * ratio + 1e-4;
    for (;;) {
      if (!m_pending) m_pending = m_decoder.next(error);
      if (!error->isEmpty()) return nullptr;
      if (!m_pending) break;
      if (m_current && m_decoder.frameSeconds(m_pending.get()) > srcTime) break;
      m_current = std::move(m_pending);
      m_imageValid = false;
    }
    return m_current.get();
  }

 private:
  QList<AssetTrackSegment> m_segments;
  qsizetype m_segIndex = -1;
  SourceDecoder m_decoder;
  FFmpegFramePtr m_current;
  FFmpegFramePtr m_pending;
  FFmpegImageScaler m_scaler{FFmpegScaleQuality::Bicubic};
  QImage m_image;
  bool m_imageValid = false;
};

// The sound of one composition audio track as 48 kHz stereo float samples, read forward.
class AudioTrackReader {
 public:
  AudioTrackReader(QList<AssetTrackSegment> segments, int32_t trackID)
      : m_segments(std::move(segments)), m_trackID(trackID) {}
  int32_t trackID() const { return m_trackID; }

  // Adds samples [first, first + count) of the export, times the volume, into the two channels.
  bool mixInto(int64_t first, int count, float* left, float* right, const std::function<float(int64_t)>& volume,
               QString* error) {
    while (m_fifoStart + int64_t(m_left.size()) < first + count) {
      if (!fill(first + count, error)) return false;
    }
    const int64_t skip = first - m_fifoStart;
    for (int i = 0; i < count; ++i) {
      const float v = volume(first + i);
      left[i] += m_left[size_t(skip + i)] * v;
      right[i] += m_right[size_t(skip + i)] * v;
    }
    // Drop what is consumed.
    const size_t used = size_t(skip + count);
    m_left.erase(m_left.begin(), m_left.begin() + long(used));
    m_right.erase(m_right.begin(), m_right.begin() + long(used));
    m_fifoStart += int64_t(used);
    return true;
  }

 private:
  static int64_t toSamples(const MediaTime& t) { return int64_t(std::llround(seconds(t) * kSampleRate)); }

  void pushSilence(int64_t upTo) {
    const int64_t end = m_fifoStart + int64_t(m_left.size());
    if (upTo <= end) return;
    m_left.insert(m_left.end(), size_t(upTo - end), 0.0f);
    m_right.insert(m_right.end(), size_t(upTo - end), 0.0f);
  }

  bool fill(int64_t wanted, QString* error) {
    const int64_t end = m_fifoStart + int64_t(m_left.size());
    qsizetype index = -1;
    for (qsizetype i = 0; i < m_segments.size(); ++i) {
      const auto& target = m_segments[i].timeMapping.target;
      if (end >= toSamples(target.start) && end < toSamples(target.end())) {
        index = i;
        break;
      }
    }
    if (index < 0) {
      // Past the last segment (or between rounded edges): silence up to the next segment or the request.
      int64_t next = wanted;
      for (const auto& s : m_segments)
        if (toSamples(s.timeMapping.target.start) > end) next = std::min(next, toSamples(s.timeMapping.target.start));
      pushSilence(std::max(next, end + 1));
      return true;
    }
    const AssetTrackSegment& seg = m_segments[index];
    const int64_t segEnd = toSamples(seg.timeMapping.target.end());
    if (seg.empty) {
      pushSilence(segEnd);
      return true;
    }
    if (index != m_segIndex) {
      m_segIndex = index;
      m_segDone = false;
      m_nextIndex = -1;
      m_resampler.reset();
      if (!m_decoder.open(seg, error)) return false;
    }
    if (m_segDone) {
      pushSilence(segEnd);
      return true;
    }
    const FFmpegFramePtr frame = m_decoder.next(error);
    if (!error->isEmpty()) return false;
    if (!frame) {
      m_segDone = true;
      pushSilence(segEnd);
      return true;
    }
    if (!m_resampler.prepare(frame.get(), AV_SAMPLE_FMT_FLTP, kSampleRate, kChannels)) {
      *error = QStringLiteral("The sound of %1 cannot be converted.").arg(seg.sourcePath);
      return false;
    }
    const int maxOut = swr_get_out_samples(m_resampler.context(), frame->nb_samples) + 32;
    std::vector<float> l(size_t(std::max(0, maxOut))), r(size_t(std::max(0, maxOut)));
    uint8_t* outPlanes[2] = {reinterpret_cast<uint8_t*>(l.data()), reinterpret_cast<uint8_t*>(r.data())};
    const int got = m_resampler.convert(outPlanes, maxOut, frame.get());
    if (got < 0) {
      *error = QStringLiteral("The sound of %1 cannot be converted: %2").arg(seg.sourcePath, FFmpeg_ErrorText(got));
      return false;
    }
    if (m_nextIndex < 0) {
      // The first frame is placed by its time; the rest follow without gaps.
      const double srcOffset = m_decoder.frameSeconds(frame.get()) - seconds(seg.timeMapping.source.start);
      m_nextIndex = toSamples(seg.timeMapping.target.start) + int64_t(std::llround(srcOffset * kSampleRate));
    }
    int64_t at = m_nextIndex;
    m_nextIndex += std::max(0, got);
    int from = 0, to = std::max(0, got);
    const int64_t fifoEnd = m_fifoStart + int64_t(m_left.size());
    if (at < fifoEnd) {
      from = int(std::min<int64_t>(to, fifoEnd - at));
      at = fifoEnd;
    }
    if (at + (to - from) > segEnd) {
      to = from + int(std::max<int64_t>(0, segEnd - at));
      m_segDone = true;
    }
    pushSilence(at);
    m_left.insert(m_left.end(), l.begin() + from, l.begin() + to);
    m_right.insert(m_right.end(), r.begin() + from, r.begin() + to);
    return true;
  }

  QList<AssetTrackSegment> m_segments;
  int32_t m_trackID;
  qsizetype m_segIndex = -1;
  bool m_segDone = false;
  int64_t m_nextIndex = -1;
  SourceDecoder m_decoder;
  FFmpegResampler m_resampler;
  std::vector<float> m_left, m_right;
  int64_t m_fifoStart = 0;
};

using VideoReaders = std::map<int32_t, std::unique_ptr<VideoTrackReader>>;

// Sends one frame (or null to flush) and writes every packet that comes out.
bool encodeAndWrite(AVFormatContext* out, FFmpegEncoder& enc, AVFrame* frame, QString* error) {
  FFmpegEncodeStep failed = FFmpegEncodeStep::Send;
  const int rc = enc.frames.encode(frame, [&](AVPacket* p) {
    av_packet_rescale_ts(p, enc.codec->time_base, enc.stream->time_base);
    p->stream_index = enc.stream->index;
    return av_interleaved_write_frame(out, p);
  }, &failed);
  if (rc >= 0) return true;
  *error = (failed == FFmpegEncodeStep::Deliver ? QStringLiteral("Writing the export failed: %1")
                                                : QStringLiteral("Encoding failed: %1")).arg(FFmpeg_ErrorText(rc));
  return false;
}

// The decoded picture of the only layer when the frame needs no drawing: one layer, fully opaque, not
// moved, of the render size in the encoder's format (the caller knows that nothing is drawn over it).
// Null otherwise (and when the picture cannot be read, with the reason in *error).
const AVFrame* U_PlainPicture(const QList<VideoCompositionLayerInstructionRef>& layers,
                              const VideoReaders& readers,
                              const MediaTime& at, double videoTime, const QSize& renderSize, QString* error) {
  if (layers.size() != 1) return nullptr;
  const VideoCompositionLayerInstructionRef& layer = layers.first();
  auto it = readers.find(layer->trackID());
  if (it == readers.end() || layer->opacityAtTime(at) < 1.0f || !layer->transformAtTime(at).isIdentity()) return nullptr;
  const AVFrame* picture = it->second->pictureAt(videoTime, error);
  if (!picture || picture->format != AV_PIX_FMT_YUV420P || picture->width != renderSize.width() ||
      picture->height != renderSize.height())
    return nullptr;
  return picture;
}


// One re-encoding export, in the order it runs: readers for the tracks, the output and its encoders,
// then frame after frame (composed) and block after block of sound (mixed), whichever is due first.
class EncodedExport {
 public:
  explicit EncodedExport(const ExportSessionWork& work) : m_work(work), m_range(work.range) {}

  bool run(QString* error) {
    return makeReaders(error) && openOutput(error) && openEncoders(error) &&
           ExportSession_StartOutput(m_output.get(), m_path, error) && writeAll(error) && flush(error) &&
           ExportSession_FinishOutput(m_output.get(), error);
  }

 private:
  // Readers for the tracks that show something in the range, and the size and rhythm of the pictures.
  bool makeReaders(QString* error) {
    for (const AssetTrackRef& track : m_work.asset->tracks()) {
      const QList<AssetTrackSegment> segs = ExportSession_SegmentsInRange(track, m_range);
      if (std::none_of(segs.begin(), segs.end(), [](const AssetTrackSegment& s) { return !s.empty; })) continue;
      if (track->mediaType() == QLatin1String(kMediaTypeVideo)) {
        m_videoReaders[track->trackID()] = std::make_unique<VideoTrackReader>(segs);
        m_videoOrder.append(track->trackID());
      } else if (track->mediaType() == QLatin1String(kMediaTypeAudio)) {
        m_audioReaders.push_back(std::make_unique<AudioTrackReader>(segs, track->trackID()));
      }
    }
    if (m_videoReaders.empty() && m_audioReaders.empty()) {
      *error = QStringLiteral("The movie holds nothing to export in the chosen range.");
      return false;
    }
    m_vc = m_work.videoComposition;
    if (!m_vc && !m_videoReaders.empty()) m_vc = MutableVideoComposition::videoCompositionWithPropertiesOfAsset(m_work.asset);
    if (m_vc) {
      m_renderSize = m_vc->renderSize().toSize();
      if (m_vc->frameDuration().isNumeric() && m_vc->frameDuration() > kMediaTimeZero) m_frameDuration = m_vc->frameDuration();
    }
    if (m_renderSize.isEmpty()) m_renderSize = m_work.asset->naturalSize().toSize();
    if (m_renderSize.isEmpty()) m_renderSize = QSize(1280, 720);
    // 4:2:0 pictures need even sides.
    m_renderSize = QSize(std::max(2, m_renderSize.width() & ~1), std::max(2, m_renderSize.height() & ~1));
    return true;
  }

  bool openOutput(QString* error) {
    m_path = QFile::encodeName(m_work.path);
    AVFormatContext* made = nullptr;
    const int rc = avformat_alloc_output_context2(&made, nullptr, m_work.muxer.toLatin1().constData(), m_path.constData());
    if (rc < 0 || !made) {
      *error = QStringLiteral("The movie writer cannot be made: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    m_output.reset(made);
    return true;
  }

  // H.264 at constant quality with a key frame every second, AAC at 48 kHz stereo; and the frames
  // composed pictures and mixed sound are written into.
  bool openEncoders(QString* error) {
    int rc = 0;
    if (!m_videoReaders.empty()) {
      const double fps = 1.0 / seconds(m_frameDuration);
      const QVariantMap settings{
          {AVVideoWidthKey, m_renderSize.width()},
          {AVVideoHeightKey, m_renderSize.height()},
          {AVVideoCompressionPropertiesKey,
           QVariantMap{{AVVideoExpectedSourceFrameRateKey, fps},
                       {AVVideoMaxKeyFrameIntervalKey, std::max(1.0, double(std::lround(fps)))},
                       {kVideoEncoderPresetKey, QStringLiteral("medium")},
                       {kVideoEncoderTuneKey, QString()},
                       {kVideoEncoderConstantRateFactorKey, 18}}}};
      const AVRational timeBase{int(m_frameDuration.value), m_frameDuration.timescale};
      if (!FFmpeg_OpenH264Encoder(&m_video, settings, timeBase, m_output.get(), error)) return false;
      m_yuv = U_FrameOrFail(FFmpeg_MakeVideoFrame(AV_PIX_FMT_YUV420P, m_renderSize.width(), m_renderSize.height(), &rc), rc, error);
      m_canvas = FFmpeg_MakeFrame();
      if (!m_yuv || !U_FrameOrFail(m_canvas.get(), AVERROR(ENOMEM), error)) return false;
    }
    if (!m_audioReaders.empty()) {
      const QVariantMap settings{{AVSampleRateKey, kSampleRate}, {AVNumberOfChannelsKey, kChannels}, {AVEncoderBitRateKey, 256000}};
      if (!FFmpeg_OpenAACEncoder(&m_audio, settings, m_output.get(), error)) return false;
      const AVCodecContext* ctx = m_audio.codec.get();
      m_pcm = U_FrameOrFail(FFmpeg_MakeAudioFrame(AV_SAMPLE_FMT_FLTP, kSampleRate, kChannels,
                                                  ctx->frame_size > 0 ? ctx->frame_size : 1024, &rc),
                            rc, error);
      if (!m_pcm) return false;
    }
    return true;
  }

  // The frame, or, when it could not be had, nothing and the reason.
  template <typename Frame>
  static Frame U_FrameOrFail(Frame frame, int rc, QString* error) {
    if (!frame) *error = QStringLiteral("Out of memory while encoding the export: %1").arg(FFmpeg_ErrorText(rc));
    return frame;
  }

  // The loop: whichever of picture and sound is behind goes next.
  bool writeAll(QString* error) {
    const double total = seconds(m_range.duration);
    const double frameSeconds = seconds(m_frameDuration);
    const int64_t frameCount = m_video.codec ? std::max<int64_t>(1, int64_t(std::ceil(total / frameSeconds - 1e-6))) : 0;
    const int64_t sampleCount = m_audio.codec ? int64_t(std::llround(total * kSampleRate)) : 0;
    int64_t frameIndex = 0, sampleIndex = 0;
    while (frameIndex < frameCount || sampleIndex < sampleCount) {
      if (m_work.session->isCancelRequested()) {
        error->clear();
        return false;
      }
      const double videoTime = double(frameIndex) * frameSeconds;
      const double audioTime = double(sampleIndex) / kSampleRate;
      if (frameIndex < frameCount && (sampleIndex >= sampleCount || videoTime <= audioTime)) {
        if (!writeFrame(frameIndex, error)) return false;
        ++frameIndex;
      } else {
        const int count = int(std::min<int64_t>(m_pcm->nb_samples, sampleCount - sampleIndex));
        if (!writeSound(sampleIndex, count, error)) return false;
        sampleIndex += count;
      }
      const double done = std::min(frameCount ? double(frameIndex) / double(frameCount) : 1.0,
                                   sampleCount ? double(sampleIndex) / double(sampleCount) : 1.0);
      m_work.session->setProgress(float(std::clamp(done, 0.0, 0.99)));
    }
    return true;
  }

  QList<VideoCompositionLayerInstructionRef> layersAt(const VideoCompositionInstructionRef& instruction) const {
    if (instruction) return instruction->layerInstructions();
    QList<VideoCompositionLayerInstructionRef> layers;
    for (int32_t id : m_videoOrder) {
      auto layer = MutableVideoCompositionLayerInstruction::videoCompositionLayerInstruction();
      layer->setTrackID(id);
      layers.append(layer);
    }
    return layers;
  }

  // Composes and encodes picture frameIndex.
  bool writeFrame(int64_t frameIndex, QString* error) {
    const double videoTime = double(frameIndex) * seconds(m_frameDuration);
    const MediaTime at = m_range.start + MediaTimeMultiplyByFloat64(m_frameDuration, double(frameIndex));
    const VideoCompositionInstructionRef instruction = m_vc ? m_vc->instructionAtTime(at) : nullptr;
    const QList<VideoCompositionLayerInstructionRef> layers = layersAt(instruction);
    // A frame with nothing drawn on it goes to the encoder as it was decoded.
    const bool overlaid = m_vc && m_vc->animationTool() && m_vc->animationTool()->prepareFrameAtTime(at);
    if (const AVFrame* plain = overlaid ? nullptr : U_PlainPicture(layers, m_videoReaders, at, videoTime, m_renderSize, error)) {
      FFmpegFramePtr f = FFmpeg_CloneFrame(plain);
      if (!f) {
        *error = QStringLiteral("Out of memory while encoding the export.");
        return false;
      }
      f->pts = frameIndex;
      f->pict_type = AV_PICTURE_TYPE_NONE;
      return encodeAndWrite(m_output.get(), m_video, f.get(), error);
    }
    if (!error->isEmpty()) return false;
    QImage canvas(m_renderSize, QImage::Format_RGB32);
    if (canvas.isNull()) {
      *error = QStringLiteral("Out of memory while encoding the export.");
      return false;
    }
    canvas.fill(instruction ? instruction->backgroundColor() : QColor(Qt::black));
    {
      QPainter painter(&canvas);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      // The first layer instruction is on top: draw from the last one up.
      for (qsizetype i = layers.size() - 1; i >= 0; --i) {
        auto it = m_videoReaders.find(layers[i]->trackID());
        if (it == m_videoReaders.end()) continue;
        const QImage* picture = it->second->frameAt(videoTime, error);
        if (!picture) {
          if (!error->isEmpty()) return false;
          continue;
        }
        painter.setOpacity(layers[i]->opacityAtTime(at));
        painter.setTransform(layers[i]->transformAtTime(at));
        painter.drawImage(QPointF(0, 0), *picture);
      }
    }
    if (overlaid) m_vc->animationTool()->compositeOntoFrame(canvas, at);
    // The encoder may still hold the previous picture: never draw over it.
    int rc = av_frame_make_writable(m_yuv.get());
    if (rc >= 0) {
      // The canvas is lent to the scaler through a frame that owns nothing.
      m_canvas->format = AV_PIX_FMT_RGB32;
      m_canvas->width = canvas.width();
      m_canvas->height = canvas.height();
      m_canvas->data[0] = const_cast<uint8_t*>(canvas.constBits());
      m_canvas->linesize[0] = int(canvas.bytesPerLine());
      rc = m_toYUV.scale(m_canvas.get(), m_yuv.get());
    }
    if (rc < 0) {
      *error = QStringLiteral("The composed picture cannot be converted for the encoder: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    m_yuv->pts = frameIndex;
    return encodeAndWrite(m_output.get(), m_video, m_yuv.get(), error);
  }

  // Mixes and encodes count samples from sampleIndex on.
  bool writeSound(int64_t sampleIndex, int count, QString* error) {
    const int rc = av_frame_make_writable(m_pcm.get());
    if (rc < 0) {
      *error = QStringLiteral("Out of memory while encoding the export: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    auto* left = reinterpret_cast<float*>(m_pcm->data[0]);
    auto* right = reinterpret_cast<float*>(m_pcm->data[1]);
    std::fill(left, left + m_pcm->nb_samples, 0.0f);
    std::fill(right, right + m_pcm->nb_samples, 0.0f);
    const MutableAudioMixRef& mix = m_work.audioMix;
    for (auto& reader : m_audioReaders) {
      const int32_t id = reader->trackID();
      auto volume = [&](int64_t sample) {
        if (!mix) return 1.0f;
        return mix->volumeOfTrack(id, m_range.start + MediaTimeMake(sample, kSampleRate));
      };
      if (!reader->mixInto(sampleIndex, count, left, right, volume, error)) return false;
    }
    const int saved = m_pcm->nb_samples;
    m_pcm->nb_samples = count;
    m_pcm->pts = sampleIndex;
    const bool ok = encodeAndWrite(m_output.get(), m_audio, m_pcm.get(), error);
    m_pcm->nb_samples = saved;
    return ok;
  }

  bool flush(QString* error) {
    return (!m_video.codec || encodeAndWrite(m_output.get(), m_video, nullptr, error)) &&
           (!m_audio.codec || encodeAndWrite(m_output.get(), m_audio, nullptr, error));
  }

  const ExportSessionWork& m_work;
  const MediaTimeRange m_range;
  VideoReaders m_videoReaders;
  std::vector<std::unique_ptr<AudioTrackReader>> m_audioReaders;
  QList<int32_t> m_videoOrder;
  MutableVideoCompositionRef m_vc;
  QSize m_renderSize;
  MediaTime m_frameDuration = MediaTimeMake(1, 30);
  QByteArray m_path;
  FFmpegOutputPtr m_output;
  FFmpegEncoder m_video, m_audio;
  FFmpegFrameScaler m_toYUV{FFmpegScaleQuality::Bicubic};
  FFmpegFramePtr m_yuv, m_pcm, m_canvas;
};

}  // namespace

bool ExportSession_WriteEncoded(const ExportSessionWork& work, QString* error) {
  error->clear();
  return EncodedExport(work).run(error);
}
