// Highest-quality export: decode the sources, compose each frame at the render size, mix the sound,
// and encode H.264 and AAC.

#include "platform/media/export/ExportSessionWork.h"

#include <QFile>
#include <QImage>
#include <QPainter>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
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
  FFmpegPacketPtr packet = FFmpeg_MakePacket();
  int stream = -1;
  AVRational tb{1, 1};
  bool eof = false;

  void close() {
    dec.reset();
    in.reset();
    eof = false;
  }
  bool open(const AssetTrackSegment& seg, QString* error) {
    close();
    if (!packet) {
      *error = QStringLiteral("Out of memory while decoding %1.").arg(seg.sourcePath);
      return false;
    }
    in = Asset_TakeInput(seg.sourcePath, seg.sourceByteLimit, error);
    if (!in) return false;
    if (seg.sourceStreamIndex < 0 || unsigned(seg.sourceStreamIndex) >= in->nb_streams) {
      *error = QStringLiteral("The source track of %1 is missing.").arg(seg.sourcePath);
      return false;
    }
    stream = seg.sourceStreamIndex;
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
    const int64_t ts = seg.timeMapping.source.start.isNumeric()
                           ? av_rescale_rnd(seg.timeMapping.source.start.value, tb.den,
                                            int64_t(seg.timeMapping.source.start.timescale) * tb.num, AV_ROUND_DOWN)
                           : 0;
    // Fragmented movies seek by decode time and may land after the wanted time: step back until the
    // first packet is at or before it.
    const int64_t earliest = st->start_time != AV_NOPTS_VALUE ? std::min<int64_t>(0, st->start_time) : 0;
    int64_t target = ts;
    int64_t back = av_rescale_q(1, AVRational{1, 2}, tb);
    AVPacket* p = packet.get();
    for (;;) {
      av_seek_frame(in.get(), stream, target, AVSEEK_FLAG_BACKWARD);
      int r = 0;
      while ((r = av_read_frame(in.get(), p)) >= 0 && p->stream_index != stream) av_packet_unref(p);
      if (r < 0) {
        av_seek_frame(in.get(), stream, target, AVSEEK_FLAG_BACKWARD);
        break;
      }
      const int64_t pts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
      if (pts > ts && target > earliest) {
        av_packet_unref(p);
        target = std::max(earliest, ts - back);
        back *= 2;
        continue;
      }
      avcodec_send_packet(dec.get(), p);
      av_packet_unref(p);
      break;
    }
    return true;
  }
  // The next decoded frame, or empty at the end.
  FFmpegFramePtr next() {
    FFmpegFramePtr frame = FFmpeg_MakeFrame();
    if (!frame) return {};
    AVPacket* p = packet.get();
    for (;;) {
      const int rc = avcodec_receive_frame(dec.get(), frame.get());
      if (rc == 0) return frame;
      if (rc == AVERROR_EOF) break;
      if (eof) break;
      const int r = av_read_frame(in.get(), p);
      if (r < 0) {
        eof = true;
        avcodec_send_packet(dec.get(), nullptr);
      } else {
        if (p->stream_index == stream) avcodec_send_packet(dec.get(), p);
        av_packet_unref(p);
      }
    }
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
      if (!m_scaler.scale(m_current.get(), size, QImage::Format_RGB32, &m_image)) return nullptr;
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
      if (!m_pending) m_pending = m_decoder.next();
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
    const FFmpegFramePtr frame = m_decoder.next();
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

struct Encoder {
  FFmpegCodecPtr ctx;
  AVStream* stream = nullptr;
};

// Sends one frame (or null to flush) and writes every packet that comes out.
bool encodeAndWrite(AVFormatContext* out, Encoder& enc, AVFrame* frame, QString* error) {
  int rc = avcodec_send_frame(enc.ctx.get(), frame);
  if (rc < 0 && rc != AVERROR_EOF) {
    *error = QStringLiteral("Encoding failed: %1").arg(FFmpeg_ErrorText(rc));
    return false;
  }
  const FFmpegPacketPtr packet = FFmpeg_MakePacket();
  AVPacket* p = packet.get();
  if (!p) {
    *error = QStringLiteral("Encoding failed: %1").arg(FFmpeg_ErrorText(AVERROR(ENOMEM)));
    return false;
  }
  for (;;) {
    rc = avcodec_receive_packet(enc.ctx.get(), p);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
    if (rc < 0) {
      *error = QStringLiteral("Encoding failed: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    av_packet_rescale_ts(p, enc.ctx->time_base, enc.stream->time_base);
    p->stream_index = enc.stream->index;
    rc = av_interleaved_write_frame(out, p);
    if (rc < 0) {
      *error = QStringLiteral("Writing the export failed: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
  }
  return true;
}

// The decoded picture of the only layer when the frame needs no drawing: one layer, fully opaque, not
// moved, of the render size in the encoder's format (the caller knows that nothing is drawn over it).
// Null otherwise (and when the picture cannot be read, with the reason in *error).
const AVFrame* U_PlainPicture(const QList<VideoCompositionLayerInstructionRef>& layers,
                              const std::map<int32_t, std::unique_ptr<VideoTrackReader>>& readers,
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

}  // namespace

bool ExportSession_WriteEncoded(const ExportSessionWork& work, QString* error) {
  error->clear();
  const MediaTimeRange range = work.range;
  const double total = seconds(range.duration);

  // Readers for the tracks that show something in the range.
  std::map<int32_t, std::unique_ptr<VideoTrackReader>> videoReaders;
  std::vector<std::unique_ptr<AudioTrackReader>> audioReaders;
  QList<int32_t> videoOrder;
  for (const AssetTrackRef& track : work.asset->tracks()) {
    const QList<AssetTrackSegment> segs = ExportSession_SegmentsInRange(track, range);
    if (std::none_of(segs.begin(), segs.end(), [](const AssetTrackSegment& s) { return !s.empty; })) continue;
    if (track->mediaType() == QLatin1String(kMediaTypeVideo)) {
      videoReaders[track->trackID()] = std::make_unique<VideoTrackReader>(segs);
      videoOrder.append(track->trackID());
    } else if (track->mediaType() == QLatin1String(kMediaTypeAudio)) {
      audioReaders.push_back(std::make_unique<AudioTrackReader>(segs, track->trackID()));
    }
  }
  if (videoReaders.empty() && audioReaders.empty()) {
    *error = QStringLiteral("The movie holds nothing to export in the chosen range.");
    return false;
  }

  MutableVideoCompositionRef vc = work.videoComposition;
  if (!vc && !videoReaders.empty()) vc = MutableVideoComposition::videoCompositionWithPropertiesOfAsset(work.asset);
  QSize renderSize;
  MediaTime frameDuration = MediaTimeMake(1, 30);
  if (vc) {
    renderSize = vc->renderSize().toSize();
    if (vc->frameDuration().isNumeric() && vc->frameDuration() > kMediaTimeZero) frameDuration = vc->frameDuration();
  }
  if (renderSize.isEmpty()) renderSize = work.asset->naturalSize().toSize();
  if (renderSize.isEmpty()) renderSize = QSize(1280, 720);
  // 4:2:0 pictures need even sides.
  renderSize = QSize(std::max(2, renderSize.width() & ~1), std::max(2, renderSize.height() & ~1));

  const QByteArray path = QFile::encodeName(work.path);
  AVFormatContext* made = nullptr;
  int rc = avformat_alloc_output_context2(&made, nullptr, work.muxer.toLatin1().constData(), path.constData());
  if (rc < 0 || !made) {
    *error = QStringLiteral("The movie writer cannot be made: %1").arg(FFmpeg_ErrorText(rc));
    return false;
  }
  const FFmpegOutputPtr output(made);
  AVFormatContext* out = output.get();
  Encoder video, audio;
  FFmpegScalerPtr sws;
  FFmpegFramePtr yuv;
  FFmpegFramePtr pcm;
  const bool globalHeader = out->oformat->flags & AVFMT_GLOBALHEADER;

  if (!videoReaders.empty()) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
      *error = QStringLiteral("No H.264 encoder is available.");
      return false;
    }
    video.ctx.reset(avcodec_alloc_context3(codec));
    yuv = FFmpeg_MakeFrame();
    if (!video.ctx || !yuv) {
      *error = QStringLiteral("The H.264 encoder cannot be opened: %1").arg(FFmpeg_ErrorText(AVERROR(ENOMEM)));
      return false;
    }
    video.ctx->width = renderSize.width();
    video.ctx->height = renderSize.height();
    video.ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    video.ctx->time_base = AVRational{int(frameDuration.value), frameDuration.timescale};
    video.ctx->framerate = AVRational{frameDuration.timescale, int(frameDuration.value)};
    video.ctx->gop_size = std::max(1, int(std::lround(1.0 / seconds(frameDuration))));
    video.ctx->thread_count = 0;
    if (globalHeader) video.ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(video.ctx->priv_data, "preset", "medium", 0);
    av_opt_set(video.ctx->priv_data, "crf", "18", 0);
    rc = avcodec_open2(video.ctx.get(), codec, nullptr);
    if (rc < 0) {
      *error = QStringLiteral("The H.264 encoder cannot be opened: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    video.stream = avformat_new_stream(out, nullptr);
    avcodec_parameters_from_context(video.stream->codecpar, video.ctx.get());
    video.stream->time_base = video.ctx->time_base;
    yuv->format = AV_PIX_FMT_YUV420P;
    yuv->width = renderSize.width();
    yuv->height = renderSize.height();
    av_frame_get_buffer(yuv.get(), 0);
  }
  if (!audioReaders.empty()) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
      *error = QStringLiteral("No AAC encoder is available.");
      return false;
    }
    audio.ctx.reset(avcodec_alloc_context3(codec));
    pcm = FFmpeg_MakeFrame();
    if (!audio.ctx || !pcm) {
      *error = QStringLiteral("The AAC encoder cannot be opened: %1").arg(FFmpeg_ErrorText(AVERROR(ENOMEM)));
      return false;
    }
    audio.ctx->sample_rate = kSampleRate;
    audio.ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio.ctx->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    audio.ctx->bit_rate = 256000;
    audio.ctx->time_base = AVRational{1, kSampleRate};
    if (globalHeader) audio.ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(audio.ctx.get(), codec, nullptr);
    if (rc < 0) {
      *error = QStringLiteral("The AAC encoder cannot be opened: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    audio.stream = avformat_new_stream(out, nullptr);
    avcodec_parameters_from_context(audio.stream->codecpar, audio.ctx.get());
    audio.stream->time_base = audio.ctx->time_base;
    pcm->format = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_copy(&pcm->ch_layout, &audio.ctx->ch_layout);
    pcm->sample_rate = kSampleRate;
    pcm->nb_samples = audio.ctx->frame_size > 0 ? audio.ctx->frame_size : 1024;
    av_frame_get_buffer(pcm.get(), 0);
  }

  if (!ExportSession_StartOutput(out, path, error)) {
    return false;
  }

  const double frameSeconds = seconds(frameDuration);
  const int64_t frameCount = video.ctx ? std::max<int64_t>(1, int64_t(std::ceil(total / frameSeconds - 1e-6))) : 0;
  const int64_t sampleCount = audio.ctx ? int64_t(std::llround(total * kSampleRate)) : 0;
  int64_t frameIndex = 0, sampleIndex = 0;
  MutableAudioMixRef mix = work.audioMix;

  while (frameIndex < frameCount || sampleIndex < sampleCount) {
    if (work.session->isCancelRequested()) {
      error->clear();
      return false;
    }
    const double videoTime = double(frameIndex) * frameSeconds;
    const double audioTime = double(sampleIndex) / kSampleRate;
    if (frameIndex < frameCount && (sampleIndex >= sampleCount || videoTime <= audioTime)) {
      const MediaTime at = range.start + MediaTimeMultiplyByFloat64(frameDuration, double(frameIndex));
      VideoCompositionInstructionRef instruction = vc ? vc->instructionAtTime(at) : nullptr;
      QList<VideoCompositionLayerInstructionRef> layers;
      if (instruction) {
        layers = instruction->layerInstructions();
      } else {
        for (int32_t id : videoOrder) {
          auto layer = MutableVideoCompositionLayerInstruction::videoCompositionLayerInstruction();
          layer->setTrackID(id);
          layers.append(layer);
        }
      }
      // A frame with nothing drawn on it goes to the encoder as it was decoded.
      const bool overlaid = vc && vc->animationTool() && vc->animationTool()->prepareFrameAtTime(at);
      if (const AVFrame* plain = overlaid ? nullptr : U_PlainPicture(layers, videoReaders, at, videoTime, renderSize, error)) {
        FFmpegFramePtr f = FFmpeg_CloneFrame(plain);
        if (!f) {
          *error = QStringLiteral("Out of memory while encoding the export.");
          return false;
        }
        f->pts = frameIndex;
        f->pict_type = AV_PICTURE_TYPE_NONE;
        if (!encodeAndWrite(out, video, f.get(), error)) return false;
        ++frameIndex;
        continue;
      }
      if (!error->isEmpty()) return false;
      QImage canvas(renderSize, QImage::Format_RGB32);
      canvas.fill(instruction ? instruction->backgroundColor() : QColor(Qt::black));
      {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        // The first layer instruction is on top: draw from the last one up.
        for (qsizetype i = layers.size() - 1; i >= 0; --i) {
          auto it = videoReaders.find(layers[i]->trackID());
          if (it == videoReaders.end()) continue;
          const QImage* picture = it->second->frameAt(videoTime, error);
          if (!picture) {
            if (!error->isEmpty()) {
              return false;
            }
            continue;
          }
          painter.setOpacity(layers[i]->opacityAtTime(at));
          painter.setTransform(layers[i]->transformAtTime(at));
          painter.drawImage(QPointF(0, 0), *picture);
        }
      }
      if (overlaid) vc->animationTool()->compositeOntoFrame(canvas, at);
      av_frame_make_writable(yuv.get());
      SwsContext* toYUV = FFmpeg_CachedScaler(sws, renderSize.width(), renderSize.height(), AV_PIX_FMT_RGB32,
                                              renderSize.width(), renderSize.height(), AV_PIX_FMT_YUV420P, SWS_BICUBIC);
      const uint8_t* src[4] = {canvas.constBits(), nullptr, nullptr, nullptr};
      const int srcStride[4] = {int(canvas.bytesPerLine()), 0, 0, 0};
      sws_scale(toYUV, src, srcStride, 0, renderSize.height(), yuv->data, yuv->linesize);
      yuv->pts = frameIndex;
      if (!encodeAndWrite(out, video, yuv.get(), error)) {
        return false;
      }
      ++frameIndex;
    } else {
      const int count = int(std::min<int64_t>(pcm->nb_samples, sampleCount - sampleIndex));
      av_frame_make_writable(pcm.get());
      auto* left = reinterpret_cast<float*>(pcm->data[0]);
      auto* right = reinterpret_cast<float*>(pcm->data[1]);
      std::fill(left, left + pcm->nb_samples, 0.0f);
      std::fill(right, right + pcm->nb_samples, 0.0f);
      for (auto& reader : audioReaders) {
        const int32_t id = reader->trackID();
        auto volume = [&](int64_t sample) {
          if (!mix) return 1.0f;
          return mix->volumeOfTrack(id, range.start + MediaTimeMake(sample, kSampleRate));
        };
        if (!reader->mixInto(sampleIndex, count, left, right, volume, error)) {
          return false;
        }
      }
      const int saved = pcm->nb_samples;
      pcm->nb_samples = count;
      pcm->pts = sampleIndex;
      const bool ok = encodeAndWrite(out, audio, pcm.get(), error);
      pcm->nb_samples = saved;
      if (!ok) {
        return false;
      }
      sampleIndex += count;
    }
    const double done = std::min(frameCount ? double(frameIndex) / double(frameCount) : 1.0,
                                 sampleCount ? double(sampleIndex) / double(sampleCount) : 1.0);
    work.session->setProgress(float(std::clamp(done, 0.0, 0.99)));
  }
  if ((video.ctx && !encodeAndWrite(out, video, nullptr, error)) ||
      (audio.ctx && !encodeAndWrite(out, audio, nullptr, error))) {
    return false;
  }
  if (!ExportSession_FinishOutput(out, error)) return false;
  return true;
}
