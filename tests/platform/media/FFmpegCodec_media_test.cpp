#include "platform/media/io/FFmpegCodec.h"
#include "platform/media/io/FFmpegUtil.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The MD5 of a picture's pixels as ffmpeg's framemd5 takes it: planes packed without padding.
QString PictureMD5(const AVFrame* f) {
  const auto format = AVPixelFormat(f->format);
  const int size = av_image_get_buffer_size(format, f->width, f->height, 1);
  if (size <= 0) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (av_image_copy_to_buffer(bytes.data(), size, f->data, f->linesize, format, f->width, f->height, 1) < 0) return {};
  return QString::fromLatin1(
      QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())), QCryptographicHash::Md5).toHex());
}

struct OpenedMovie {
  FFmpegInputPtr input;
  FFmpegCodecPtr codec;
  int stream = -1;
};

OpenedMovie OpenVideo(const QString& path) {
  OpenedMovie m;
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) return m;
  m.input.reset(ctx);
  if (avformat_find_stream_info(ctx, nullptr) < 0) return m;
  m.stream = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (m.stream >= 0) m.codec = FFmpeg_OpenDecoder(ctx->streams[m.stream], false);
  return m;
}

}  // namespace

// The toolkit's seek and decoder give the very frame shown at a time, in a plain movie and in one made of
// fragments (whose seek lands after the time and has to step back); a time before the first frame gives
// the first, one past the end the last.
TEST(FFmpegCodecMedia, SeekAndDecodeGiveTheFrameShownAtATime) {
  const QString folder = Test_MakeTempDir();
  // Key frames every 2 s, B-frames: a time between key frames needs decoding on from the one before.
  const struct {
    const char* name;
    QString path;
  } movies[] = {
      {"plain", TestMovie_Make(folder, QStringLiteral("plain.mp4"), {.seconds = 5.0, .audio = false, .keyInterval = 60})},
      {"fragmented",
       TestMovie_Make(folder, QStringLiteral("frag.mp4"), {.seconds = 5.0, .audio = false, .fragmented = true, .keyInterval = 60})},
  };
  for (const auto& movie : movies) {
    SCOPED_TRACE(movie.name);
    const DecodedFrames frames = TestMovie_DecodeVideo(movie.path);
    ASSERT_GT(frames.md5.size(), 100);
    OpenedMovie m = OpenVideo(movie.path);
    ASSERT_TRUE(m.codec);
    const AVRational tb = m.input->streams[m.stream]->time_base;
    // ffmpeg counts its frame times from the movie's start; a movie without an edit list starts late.
    const double start = m.input->start_time != AV_NOPTS_VALUE ? double(m.input->start_time) / AV_TIME_BASE : 0.0;
    FFmpegFrameDecoder decoder;
    ASSERT_TRUE(decoder.start(m.input.get(), m.stream, m.codec.get()));
    // In no particular order: each seek starts afresh.
    for (double t : {3.5, -0.5, 0.0, 2.0, 1.7, 4.99, 20.0, 1.0 / 30}) {
      SCOPED_TRACE(t);
      ASSERT_EQ(decoder.seek(int64_t(std::floor(t / av_q2d(tb)))), 0);
      QString shown;
      double firstTime = -1;
      FFmpegFramePtr frame = FFmpeg_MakeFrame();
      while (decoder.next(frame.get()) == 0) {
        const double at = double(frame->best_effort_timestamp) * av_q2d(tb);
        if (firstTime < 0) firstTime = at;
        if (!shown.isEmpty() && at > t + 1e-6) break;
        shown = PictureMD5(frame.get());
        av_frame_unref(frame.get());
      }
      // The seek never lands after the frame shown.
      EXPECT_LE(firstTime, std::max(t, start) + 1e-6);
      const QString expected = TestMovie_FrameAt(frames, t - start);
      EXPECT_EQ(shown, expected.isEmpty() ? frames.md5.first() : expected);
    }
  }
}

// The seek for callers that read the demuxer themselves steps back like the reading one and leaves the
// first packet to the caller: it lands on the same packet, at or before the time, and the caller's next
// read gives exactly that packet. A fragmented movie needs a step back for some time.
TEST(FFmpegCodecMedia, SeekWithoutReadingAheadLandsWhereTheReadingSeekDoes) {
  const QString folder = Test_MakeTempDir();
  const struct {
    const char* name;
    QString path;
    bool stepsBack;
  } movies[] = {
      {"plain", TestMovie_Make(folder, QStringLiteral("plain.mp4"), {.seconds = 5.0, .audio = true, .keyInterval = 60}), false},
      {"fragmented",
       TestMovie_Make(folder, QStringLiteral("frag.mp4"), {.seconds = 5.0, .audio = true, .fragmented = true, .keyInterval = 60}),
       true},
  };
  for (const auto& movie : movies) {
    SCOPED_TRACE(movie.name);
    OpenedMovie m = OpenVideo(movie.path);
    ASSERT_TRUE(m.codec);
    AVFormatContext* in = m.input.get();
    const AVStream* st = in->streams[m.stream];
    const AVRational tb = st->time_base;
    int mostSeeks = 0;
    for (double t : {3.5, 0.0, 2.0, 1.7, 4.99, 20.0}) {
      SCOPED_TRACE(t);
      const int64_t ts = int64_t(std::floor(t / av_q2d(tb)));
      FFmpegPacketPtr read = FFmpeg_MakePacket();
      ASSERT_EQ(FFmpeg_SeekAtOrBefore(in, m.stream, ts, read.get()), 0);

      // The caller keeps what it looked at, as a shared demuxer's queue does.
      FFmpegPacketPtr held = FFmpeg_MakePacket();
      bool holding = false;
      int seeks = 0;
      FFmpegSeekSteps steps;
      steps.seekTo = [&](int64_t target) {
        ++seeks;
        holding = false;
        av_packet_unref(held.get());
        return FFmpeg_SeekKeyFrame(in, m.stream, target);
      };
      steps.firstTime = [&](int64_t* pts) {
        int rc = 0;
        while (!holding && (rc = av_read_frame(in, held.get())) >= 0) {
          holding = held->stream_index == m.stream;
          if (!holding) av_packet_unref(held.get());
        }
        if (rc < 0) return rc;
        *pts = held->pts != AV_NOPTS_VALUE ? held->pts : held->dts;
        return 0;
      };
      ASSERT_EQ(FFmpeg_SeekAtOrBefore(st, ts, steps), 0);
      ASSERT_TRUE(holding);
      mostSeeks = std::max(mostSeeks, seeks);
      EXPECT_EQ(held->pts, read->pts);
      EXPECT_EQ(held->size, read->size);
      EXPECT_TRUE(held->flags & AV_PKT_FLAG_KEY);
      EXPECT_TRUE(held->pts <= ts || held->pts <= std::max<int64_t>(0, st->start_time)) << held->pts;
    }
    EXPECT_EQ(mostSeeks > 1, movie.stepsBack) << mostSeeks;
  }
}

// Frame-to-frame conversion agrees with the image scaler, keeps a same-format copy exact, and gives the
// same pixels on all cores as on one.
TEST(FFmpegCodecMedia, FrameScalerConvertsLikeTheImageScaler) {
  const QString path = TestMovie_Make(Test_MakeTempDir(), QStringLiteral("m.mp4"), {.seconds = 1.0, .audio = false});
  OpenedMovie m = OpenVideo(path);
  ASSERT_TRUE(m.codec);
  FFmpegFrameDecoder decoder;
  ASSERT_TRUE(decoder.start(m.input.get(), m.stream, m.codec.get()));
  const FFmpegFramePtr picture = FFmpeg_MakeFrame();
  ASSERT_EQ(decoder.next(picture.get()), 0);
  const struct {
    const char* name;
    AVPixelFormat format;
    int width, height;
    int threads;
  } cases[] = {
      {"same format and size", AVPixelFormat(picture->format), picture->width, picture->height, 1},
      {"BGRA at the same size", AV_PIX_FMT_BGRA, picture->width, picture->height, 1},
      {"BGRA at the same size on all cores", AV_PIX_FMT_BGRA, picture->width, picture->height, 0},
      {"BGRA at half the size", AV_PIX_FMT_BGRA, picture->width / 2, picture->height / 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FFmpegFramePool pool;
    FFmpegFramePtr out = pool.frame(c.format, c.width, c.height);
    ASSERT_TRUE(out);
    FFmpegFrameScaler scaler(FFmpegScaleQuality::Bicubic, c.threads);
    ASSERT_EQ(scaler.scale(picture.get(), out.get()), 0);
    if (c.format == picture->format) {
      EXPECT_EQ(PictureMD5(out.get()), PictureMD5(picture.get()));
      continue;
    }
    QImage image;
    FFmpegImageScaler reference(FFmpegScaleQuality::Bicubic);
    ASSERT_TRUE(reference.scale(picture.get(), QSize(c.width, c.height), QImage::Format_ARGB32, &image));
    if (c.width == picture->width) {
      for (int y = 0; y < c.height; ++y)
        ASSERT_EQ(0, std::memcmp(out->data[0] + y * out->linesize[0], image.constScanLine(y), size_t(c.width) * 4)) << y;
    } else {
      // Scaled in one step here, in YUV first there: alike but for the edges of the pattern.
      int64_t difference = 0;
      for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width * 4; ++x)
          difference += std::abs(int(out->data[0][y * out->linesize[0] + x]) - int(image.constScanLine(y)[x]));
      EXPECT_LE(double(difference) / (double(c.width) * c.height * 4), 3.0);
    }
  }
  // No conversion into a format libswscale cannot write: an error, not an abort.
  const FFmpegFramePtr bogus = FFmpeg_MakeFrame();
  bogus->format = AV_PIX_FMT_VAAPI;
  bogus->width = picture->width;
  bogus->height = picture->height;
  FFmpegFrameScaler scaler(FFmpegScaleQuality::Bilinear);
  EXPECT_EQ(scaler.scale(picture.get(), bogus.get()), AVERROR(EINVAL));
}
