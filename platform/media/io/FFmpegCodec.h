#pragma once
// Reading and coding with FFmpeg, written once for platform/media: positioning a demuxer at or before a
// time, decoding one stream frame by frame, and opening the H.264 and AAC encoders from output settings
// (platform/media/io/MediaSettings.h). Every FFmpeg result is looked at here; callers get an error code
// or a text, never a half-made object.

#include "platform/media/io/FFmpegUtil.h"

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>

extern "C" {
#include <libavutil/rational.h>
}

// Positions the input on the stream's key frame at or before ts (the stream's time base). An input that
// refuses the time (some cannot go before their first key frame) is put at its start instead. 0, or
// the error of the seek.
int FFmpeg_SeekKeyFrame(AVFormatContext* input, int stream, int64_t ts);

// FFmpeg_SeekKeyFrame, then makes sure the stream's first packet from there is at or before ts:
// fragmented movies seek by decode time and may land after it, so the seek steps back (half a second,
// then twice as far each time) until it is, or until it is at the stream's start. That first packet is
// handed back in *first. 0 with a packet; AVERROR_EOF when the stream has nothing more from there (read
// errors count as its end, as they do for FFmpegFrameDecoder); another negative value when the input
// cannot be positioned.
int FFmpeg_SeekAtOrBefore(AVFormatContext* input, int stream, int64_t ts, AVPacket* first);

// How a stream is positioned when the caller reads the demuxer itself (several copiers sharing one input):
// seekTo puts the input on the key frame at or before a time of the stream (0, or the seek's error);
// firstTime answers the time of the stream's first packet from there (0 with *pts, AV_NOPTS_VALUE when
// the packet has none; a negative value at the end or on a read error) and leaves that packet to the
// caller's next read.
struct FFmpegSeekSteps {
  std::function<int(int64_t target)> seekTo;
  std::function<int(int64_t* pts)> firstTime;
};
// The same step back as above without reading ahead: the caller's first packet of the stream is at or
// before ts, or the input is at the stream's start. 0 when positioned (also when the stream has nothing
// more from there: the caller's read answers that), or the error of seekTo.
int FFmpeg_SeekAtOrBefore(const AVStream* stream, int64_t ts, const FFmpegSeekSteps& steps);

// Puts the input back at its start, for whoever reads it next after a look at its first packets. 0, or
// the error of the seek.
int FFmpeg_Rewind(AVFormatContext* input);

// Decodes one stream of an input frame after frame. The input and the codec belong to the caller and
// outlive this. Packets the codec finds damaged are skipped, as a player skips a damaged picture.
class FFmpegFrameDecoder {
 public:
  // A file ends in its last frames (a read error counts as the end of what can be read); a live source
  // answers its read errors, and AVERROR(EAGAIN) while it has nothing yet.
  enum class Source { File, Live };

  FFmpegFrameDecoder() = default;
  ~FFmpegFrameDecoder();
  FFmpegFrameDecoder(const FFmpegFrameDecoder&) = delete;
  FFmpegFrameDecoder& operator=(const FFmpegFrameDecoder&) = delete;

  // Decodes stream of input with codec from now on; false when memory runs out.
  bool start(AVFormatContext* input, int stream, AVCodecContext* codec, Source source = Source::File);

  // Positions on the key frame at or before ts (FFmpeg_SeekAtOrBefore) and forgets what the codec held.
  // 0, or the error of the seek.
  int seek(int64_t ts);
  // 0 with the next frame in *frame; AVERROR_EOF after the last one; AVERROR(EAGAIN) when a live source
  // has nothing yet; another negative value when reading (live) or decoding fails.
  int next(AVFrame* frame);
  // Called with every packet of the stream as it is read, before it is decoded (a live source stamps
  // its pictures with the time their packet arrived).
  void setPacketHandler(std::function<void(const AVPacket*)> handler) { m_packetHandler = std::move(handler); }

 private:
  int send(const AVPacket* packet);

  AVFormatContext* m_input = nullptr;
  AVCodecContext* m_codec = nullptr;
  int m_stream = -1;
  Source m_source = Source::File;
  FFmpegPacketPtr m_packet;
  FFmpegPacketPtr m_pending;  // read by the last seek, decoded first
  bool m_hasPending = false;
  bool m_draining = false;
  std::function<void(const AVPacket*)> m_packetHandler;
};

// Where an encode stopped: the encoder refused the frame, failed to give a packet, or the packet's
// receiver (the muxer) failed.
enum class FFmpegEncodeStep { Send, Receive, Deliver };

// The one encode loop: sends a frame (null drains the encoder) and hands every packet that comes out
// to a receiver, for the recorder and the re-encoding export alike.
class FFmpegFrameEncoder {
 public:
  // Takes the packet (whatever it does, the packet is unreferenced afterwards); 0 or a negative error.
  using PacketReceiver = std::function<int(AVPacket* packet)>;

  FFmpegFrameEncoder() = default;
  FFmpegFrameEncoder(const FFmpegFrameEncoder&) = delete;
  FFmpegFrameEncoder& operator=(const FFmpegFrameEncoder&) = delete;

  // Encodes with codec from now on; false when memory runs out.
  bool start(AVCodecContext* codec);
  // 0 once every packet the frame gave is handed on, or the first error, with *failed saying where. An
  // encoder already drained takes no more frames and that is no error.
  int encode(const AVFrame* frame, const PacketReceiver& receiver, FFmpegEncodeStep* failed = nullptr);

 private:
  AVCodecContext* m_codec = nullptr;
  FFmpegPacketPtr m_packet;
};

// An opened encoder and the output stream it writes.
struct FFmpegEncoder {
  FFmpegCodecPtr codec;
  AVStream* stream = nullptr;
  // The encode loop over codec, started when the encoder is opened.
  FFmpegFrameEncoder frames;
};

// Opens H.264 (libx264 where there is one) for video output settings: AVVideoWidthKey, AVVideoHeightKey
// and the compression properties (expected frame rate, key frame interval, average bit rate, and
// kVideoEncoderPresetKey, kVideoEncoderTuneKey, kVideoEncoderConstantRateFactorKey), counting time in
// timeBase, and adds its stream to output. False with a readable text in *error (and the FFmpeg code
// in *code when there is one).
bool FFmpeg_OpenH264Encoder(FFmpegEncoder* encoder, const QVariantMap& settings, AVRational timeBase,
                            AVFormatContext* output, QString* error, int* code = nullptr);
// Opens FFmpeg's AAC encoder for audio output settings (AVSampleRateKey, AVNumberOfChannelsKey,
// AVEncoderBitRateKey), planar float, counting time in samples, and adds its stream to output.
bool FFmpeg_OpenAACEncoder(FFmpegEncoder* encoder, const QVariantMap& settings, AVFormatContext* output,
                           QString* error, int* code = nullptr);
// A number of the settings, or fallback when it is missing or not a number.
double FFmpeg_NumberSetting(const QVariantMap& settings, const char* key, double fallback = 0);
