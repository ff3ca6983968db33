#include "platform/media/asset/AssetTiming.h"

#include "platform/media/io/FFmpegCodec.h"
#include "platform/media/io/FFmpegUtil.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

bool U_IsMedia(const AVStream* st) {
  return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO || st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

// libavformat's stand-in for a time scale of zero.
bool U_HasNoTimeScale(const AVStream* st) { return U_IsMedia(st) && st->time_base.den <= 1; }

// The pictures a second the decoder learns from the stream's first picture (an H.264 stream's timing
// information), 0 when it says none. The input is put back at its start.
double U_DecodedFrameRate(AVFormatContext* ctx, AVStream* st) {
  FFmpegCodecPtr codec = FFmpeg_OpenDecoder(st, true);
  FFmpegPacketPtr packet = FFmpeg_MakePacket();
  if (!codec || !packet) return 0;
  for (int n = 0; n < 64 && av_read_frame(ctx, packet.get()) >= 0; ++n) {
    const bool ours = packet->stream_index == st->index;
    if (ours) (void)avcodec_send_packet(codec.get(), packet.get());
    av_packet_unref(packet.get());
    if (ours) break;
  }
  (void)FFmpeg_Rewind(ctx);
  const AVRational rate = codec->framerate;
  return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

// Seconds from the start to the end of the streams that can be believed.
double U_BelievableLength(const AVFormatContext* ctx) {
  double longest = 0;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream* st = ctx->streams[i];
    if (!U_IsMedia(st) || U_HasNoTimeScale(st) || st->duration == AV_NOPTS_VALUE || st->duration <= 0) continue;
    longest = std::max(longest, double(st->duration) * av_q2d(st->time_base));
  }
  return longest;
}

// Gives the stream the time base its packets show: ticks of one packet over that packet's seconds.
bool U_Retime(AVFormatContext* ctx, AVStream* st, double believable) {
  const int count = avformat_index_get_entries_count(st);
  if (count < 2) return false;
  const AVIndexEntry* first = avformat_index_get_entry(st, 0);
  const AVIndexEntry* last = avformat_index_get_entry(st, count - 1);
  if (!first || !last || last->timestamp <= first->timestamp) return false;
  const double ticksPerPacket = double(last->timestamp - first->timestamp) / (count - 1);
  double secondsPerPacket = 0;
  const AVCodecParameters* par = st->codecpar;
  if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0) {
    const int frameSize = par->frame_size > 0 ? par->frame_size : (par->codec_id == AV_CODEC_ID_AAC ? 1024 : 0);
    secondsPerPacket = double(frameSize) / par->sample_rate;
  } else if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    const double rate = U_DecodedFrameRate(ctx, st);
    if (rate > 0) secondsPerPacket = 1.0 / rate;
  }
  if (secondsPerPacket <= 0 && believable > 0) secondsPerPacket = believable / count;
  if (secondsPerPacket <= 0) return false;
  const double timescale = std::round(ticksPerPacket / secondsPerPacket);
  if (!(timescale >= 2 && timescale < double(INT32_MAX))) return false;
  st->time_base = AVRational{1, int(timescale)};
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    st->avg_frame_rate = av_d2q(1.0 / secondsPerPacket, 1 << 20);
    st->r_frame_rate = st->avg_frame_rate;
  }
  // The index holds decode times: a stream without a length in its header is as long as its packets.
  if (st->duration == AV_NOPTS_VALUE || st->duration <= 0)
    st->duration = int64_t(std::llround(ticksPerPacket * count));
  if (st->start_time == AV_NOPTS_VALUE) st->start_time = first->timestamp;
  return true;
}

}  // namespace

bool Asset_BelieveStreamTimes(AVFormatContext* ctx, QString* error) {
  bool retimed = false;
  const double believable = U_BelievableLength(ctx);
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    AVStream* st = ctx->streams[i];
    if (!U_HasNoTimeScale(st)) continue;
    if (!U_Retime(ctx, st, believable)) {
      if (error) *error = QStringLiteral("The movie's time scale cannot be believed and its packets do not give its length.");
      return false;
    }
    retimed = true;
  }
  if (!retimed) return true;
  int64_t start = 0, end = 0;
  if (Asset_SpanOfStreams(ctx, &start, &end)) {
    ctx->start_time = start;
    ctx->duration = end - start;
  }
  return true;
}

bool Asset_SpanOfStreams(const AVFormatContext* ctx, int64_t* start, int64_t* end) {
  *start = INT64_MAX;
  *end = INT64_MIN;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream* st = ctx->streams[i];
    if (!U_IsMedia(st) || st->start_time == AV_NOPTS_VALUE || st->duration == AV_NOPTS_VALUE) continue;
    *start = std::min(*start, av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q));
    // A file's own numbers may be anything: the sums saturate rather than overflow.
    *end = std::max(*end, av_rescale_q(av_sat_add64(st->start_time, st->duration), st->time_base, AV_TIME_BASE_Q));
  }
  return *start != INT64_MAX && *end > *start;
}

bool Asset_VideoCanBeDecoded(const AVStream* stream) {
  const AVCodecParameters* par = stream->codecpar;
  if (par->codec_id != AV_CODEC_ID_H264 || par->extradata_size <= 0) return true;
  const uint8_t* p = par->extradata;
  const int n = par->extradata_size;
  // Parameter sets in the stream's own start-code form.
  if (n >= 4 && p[0] == 0 && p[1] == 0 && (p[2] == 1 || (p[2] == 0 && p[3] == 1))) return true;
  // A decoder configuration record: version 1, then at least one sequence parameter set that is one.
  if (n < 7 || p[0] != 1) return false;
  const int sequenceSets = p[5] & 0x1f;
  const int length = (p[6] << 8) | (n > 7 ? p[7] : 0);
  if (sequenceSets < 1 || n < 8 || length < 2 || 8 + length > n) return false;
  return (p[8] & 0x1f) == 7;
}
