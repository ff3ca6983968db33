#include "platform/media/io/FFmpegCodec.h"

#include "platform/foundation/Fmt.h"
#include "platform/media/io/MediaSettings.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>

namespace {
// Each step back doubles: this many reach back further than any movie is long.
constexpr int kMaxSeekSteps = 32;
}  // namespace

int FFmpeg_SeekKeyFrame(AVFormatContext* input, int stream, int64_t ts) {
  const int rc = av_seek_frame(input, stream, ts, AVSEEK_FLAG_BACKWARD);
  if (rc >= 0) return 0;
  const int again = av_seek_frame(input, stream, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
  return again >= 0 ? 0 : rc;
}

int FFmpeg_SeekAtOrBefore(const AVStream* st, int64_t ts, const FFmpegSeekSteps& steps) {
  if (!st || !steps.seekTo || !steps.firstTime) return AVERROR(EINVAL);
  const int64_t earliest = st->start_time != AV_NOPTS_VALUE ? std::min<int64_t>(0, st->start_time) : 0;
  int64_t target = ts;
  int64_t back = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 2}, st->time_base));
  for (int step = 0;; ++step) {
    const int rc = steps.seekTo(target);
    if (rc < 0) return rc;
    int64_t pts = AV_NOPTS_VALUE;
    if (steps.firstTime(&pts) < 0) return 0;
    // Fragmented movies seek by decode time and may land after ts: step back, twice as far each time.
    if (pts != AV_NOPTS_VALUE && pts > ts && target > earliest && step < kMaxSeekSteps) {
      target = std::max(earliest, ts - back);
      back *= 2;
      continue;
    }
    return 0;
  }
}

int FFmpeg_SeekAtOrBefore(AVFormatContext* input, int stream, int64_t ts, AVPacket* first) {
  if (!input || !first || stream < 0 || unsigned(stream) >= input->nb_streams) return AVERROR(EINVAL);
  int read = 0;
  FFmpegSeekSteps steps;
  steps.seekTo = [&](int64_t target) {
    av_packet_unref(first);
    return FFmpeg_SeekKeyFrame(input, stream, target);
  };
  steps.firstTime = [&](int64_t* pts) {
    while ((read = av_read_frame(input, first)) >= 0 && first->stream_index != stream) av_packet_unref(first);
    if (read < 0) return read;
    *pts = first->pts != AV_NOPTS_VALUE ? first->pts : first->dts;
    return 0;
  };
  const int rc = FFmpeg_SeekAtOrBefore(input->streams[stream], ts, steps);
  if (rc < 0) return rc;
  return read < 0 ? AVERROR_EOF : 0;
}

int FFmpeg_Rewind(AVFormatContext* input) {
  if (!input) return AVERROR(EINVAL);
  const int rc = avformat_seek_file(input, -1, INT64_MIN, INT64_MIN, INT64_MAX, AVSEEK_FLAG_BACKWARD);
  return rc < 0 ? rc : 0;
}

FFmpegFrameDecoder::~FFmpegFrameDecoder() = default;

bool FFmpegFrameDecoder::start(AVFormatContext* input, int stream, AVCodecContext* codec, Source source) {
  m_input = nullptr;
  m_codec = nullptr;
  m_hasPending = false;
  m_draining = false;
  if (!m_packet) m_packet = FFmpeg_MakePacket();
  if (!m_pending) m_pending = FFmpeg_MakePacket();
  if (!m_packet || !m_pending || !input || !codec) return false;
  av_packet_unref(m_pending.get());
  m_input = input;
  m_codec = codec;
  m_stream = stream;
  m_source = source;
  return true;
}

int FFmpegFrameDecoder::seek(int64_t ts) {
  if (!m_codec) return AVERROR(EINVAL);
  av_packet_unref(m_pending.get());
  m_hasPending = false;
  m_draining = false;
  avcodec_flush_buffers(m_codec);
  const int rc = FFmpeg_SeekAtOrBefore(m_input, m_stream, ts, m_pending.get());
  if (rc == AVERROR_EOF) return 0;  // nothing more to decode: next() answers the end
  if (rc < 0) return rc;
  m_hasPending = true;
  return 0;
}

int FFmpegFrameDecoder::send(const AVPacket* packet) {
  const int rc = avcodec_send_packet(m_codec, packet);
  // A damaged packet is left out; the codec picks up again at the next key frame.
  if (rc == AVERROR_INVALIDDATA) return 0;
  return rc;
}

bool FFmpegFrameEncoder::start(AVCodecContext* codec) {
  m_codec = codec;
  m_packet = FFmpeg_MakePacket();
  return m_packet != nullptr;
}

int FFmpegFrameEncoder::encode(const AVFrame* frame, const PacketReceiver& receiver, FFmpegEncodeStep* failed) {
  auto fail = [failed](FFmpegEncodeStep step, int rc) {
    if (failed) *failed = step;
    return rc;
  };
  if (!m_codec || !m_packet) return fail(FFmpegEncodeStep::Send, AVERROR(EINVAL));
  int rc = avcodec_send_frame(m_codec, frame);
  if (rc < 0 && rc != AVERROR_EOF) return fail(FFmpegEncodeStep::Send, rc);
  AVPacket* packet = m_packet.get();
  for (;;) {
    rc = avcodec_receive_packet(m_codec, packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
    if (rc < 0) return fail(FFmpegEncodeStep::Receive, rc);
    rc = receiver(packet);
    av_packet_unref(packet);
    if (rc < 0) return fail(FFmpegEncodeStep::Deliver, rc);
  }
}

int FFmpegFrameDecoder::next(AVFrame* frame) {
  if (!m_codec || !frame) return AVERROR(EINVAL);
  AVPacket* packet = m_packet.get();
  for (;;) {
    int rc = avcodec_receive_frame(m_codec, frame);
    if (rc == 0 || rc == AVERROR_EOF) return rc;
    if (rc == AVERROR_INVALIDDATA) continue;
    if (rc != AVERROR(EAGAIN)) return rc;
    if (m_draining) return AVERROR_EOF;
    if (m_hasPending) {
      m_hasPending = false;
      rc = send(m_pending.get());
      av_packet_unref(m_pending.get());
      if (rc < 0) return rc;
      continue;
    }
    rc = av_read_frame(m_input, packet);
    if (rc < 0) {
      if (m_source == Source::Live) return rc;
      // The end of what can be read: the codec hands out what it still holds.
      m_draining = true;
      rc = avcodec_send_packet(m_codec, nullptr);
      if (rc < 0 && rc != AVERROR_EOF) return rc;
      continue;
    }
    if (packet->stream_index == m_stream) {
      if (m_packetHandler) m_packetHandler(packet);
      rc = send(packet);
    }
    av_packet_unref(packet);
    if (rc < 0) return rc;
  }
}

double FFmpeg_NumberSetting(const QVariantMap& settings, const char* key, double fallback) {
  const QVariant v = settings.value(QString::fromLatin1(key));
  bool ok = false;
  const double d = v.toDouble(&ok);
  return ok ? d : fallback;
}

namespace {

void U_Fail(QString* error, int* code, int rc, const QString& text) {
  if (error) *error = text;
  if (code) *code = rc;
}

// Adds the encoder's stream to the output, described as the encoder describes it.
bool U_AddStream(FFmpegEncoder* encoder, AVFormatContext* output, QString* error, int* code) {
  encoder->stream = avformat_new_stream(output, nullptr);
  if (!encoder->stream) {
    U_Fail(error, code, AVERROR(ENOMEM), QStringLiteral("The movie file has no room for another track."));
    return false;
  }
  encoder->stream->time_base = encoder->codec->time_base;
  const int rc = avcodec_parameters_from_context(encoder->stream->codecpar, encoder->codec.get());
  if (rc < 0) {
    U_Fail(error, code, rc, Fmt("The track cannot be described: %@.", FFmpeg_ErrorText(rc)));
    return false;
  }
  if (!encoder->frames.start(encoder->codec.get())) {
    U_Fail(error, code, AVERROR(ENOMEM), QStringLiteral("Out of memory for encoded packets."));
    return false;
  }
  return true;
}

}  // namespace

bool FFmpeg_OpenH264Encoder(FFmpegEncoder* encoder, const QVariantMap& settings, AVRational timeBase,
                            AVFormatContext* output, QString* error, int* code) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (!codec) {
    U_Fail(error, code, AVERROR_ENCODER_NOT_FOUND, QStringLiteral("The H.264 encoder (libx264) is not available."));
    return false;
  }
  encoder->codec.reset(avcodec_alloc_context3(codec));
  AVCodecContext* ctx = encoder->codec.get();
  if (!ctx) {
    U_Fail(error, code, AVERROR(ENOMEM), QStringLiteral("Out of memory for the H.264 encoder."));
    return false;
  }
  const QVariantMap props = settings.value(QString::fromLatin1(AVVideoCompressionPropertiesKey)).toMap();
  double fps = FFmpeg_NumberSetting(props, AVVideoExpectedSourceFrameRateKey, 30);
  if (fps <= 0) fps = 30;
  const double keyInterval = FFmpeg_NumberSetting(props, AVVideoMaxKeyFrameIntervalKey, fps);
  const double bitRate = FFmpeg_NumberSetting(props, AVVideoAverageBitRateKey, 0);
  ctx->width = static_cast<int>(FFmpeg_NumberSetting(settings, AVVideoWidthKey));
  ctx->height = static_cast<int>(FFmpeg_NumberSetting(settings, AVVideoHeightKey));
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = timeBase;
  ctx->framerate = av_d2q(fps, 1000000);
  ctx->gop_size = keyInterval >= 1 ? static_cast<int>(std::lround(keyInterval)) : 1;
  if (bitRate > 0) ctx->bit_rate = static_cast<int64_t>(bitRate);
  ctx->thread_count = 0;
  if (output->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  FFmpegOptions opts;
  // Live defaults: fast enough to keep up with 1080p at 30 fps on two cores next to the capture itself
  // (a slower preset leaves too little room and frames get dropped); zero latency keeps B-frames and
  // look-ahead out, so every fragment closes as soon as its last frame has been captured.
  const QString preset = props.value(QString::fromLatin1(kVideoEncoderPresetKey), QStringLiteral("superfast")).toString();
  const QString tune = props.value(QString::fromLatin1(kVideoEncoderTuneKey), QStringLiteral("zerolatency")).toString();
  opts.set("preset", preset.toLatin1().constData());
  if (!tune.isEmpty()) opts.set("tune", tune.toLatin1().constData());
  const double crf = FFmpeg_NumberSetting(props, kVideoEncoderConstantRateFactorKey, -1);
  if (crf >= 0) opts.set("crf", QByteArray::number(crf).constData());
  // A key frame asked for (an I picture) reaches x264 as its "keyframe" type, which in a closed GOP is
  // an IDR frame: a fragment that starts on it decodes on its own. Asking for IDR outright instead makes
  // x264 warn at every one that falls on its own key-frame rhythm, though it places it all the same.
  const int rc = avcodec_open2(ctx, codec, opts.address());
  if (rc < 0) {
    U_Fail(error, code, rc, Fmt("The H.264 encoder could not be opened: %@.", FFmpeg_ErrorText(rc)));
    return false;
  }
  return U_AddStream(encoder, output, error, code);
}

bool FFmpeg_OpenAACEncoder(FFmpegEncoder* encoder, const QVariantMap& settings, AVFormatContext* output,
                           QString* error, int* code) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec) {
    U_Fail(error, code, AVERROR_ENCODER_NOT_FOUND, QStringLiteral("The AAC encoder is not available."));
    return false;
  }
  encoder->codec.reset(avcodec_alloc_context3(codec));
  AVCodecContext* ctx = encoder->codec.get();
  if (!ctx) {
    U_Fail(error, code, AVERROR(ENOMEM), QStringLiteral("Out of memory for the AAC encoder."));
    return false;
  }
  const int channels = static_cast<int>(FFmpeg_NumberSetting(settings, AVNumberOfChannelsKey, 2));
  ctx->sample_rate = static_cast<int>(FFmpeg_NumberSetting(settings, AVSampleRateKey, 48000));
  ctx->bit_rate = static_cast<int64_t>(FFmpeg_NumberSetting(settings, AVEncoderBitRateKey, 0));
  av_channel_layout_default(&ctx->ch_layout, channels);
  ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
  ctx->time_base = AVRational{1, ctx->sample_rate};
  if (output->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int rc = avcodec_open2(ctx, codec, nullptr);
  if (rc < 0) {
    U_Fail(error, code, rc, Fmt("The AAC encoder could not be opened: %@.", FFmpeg_ErrorText(rc)));
    return false;
  }
  return U_AddStream(encoder, output, error, code);
}
