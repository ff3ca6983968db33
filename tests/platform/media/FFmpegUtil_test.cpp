#include "platform/media/io/FFmpegUtil.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

struct Stream {
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> container{avformat_alloc_context(), avformat_free_context};
  AVStream* add(AVMediaType type, AVCodecID id) {
    AVStream* st = avformat_new_stream(container.get(), nullptr);
    st->codecpar->codec_type = type;
    st->codecpar->codec_id = id;
    st->time_base = AVRational{1, 90000};
    return st;
  }
};

// A picture of one colour (BT.601 limited range).
FFmpegFramePtr SolidFrame(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
  FFmpegFramePtr frame = FFmpeg_MakeFrame();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
  for (int row = 0; row < height; ++row) std::memset(frame->data[0] + row * frame->linesize[0], y, width);
  for (int row = 0; row < height / 2; ++row) {
    std::memset(frame->data[1] + row * frame->linesize[1], u, width / 2);
    std::memset(frame->data[2] + row * frame->linesize[2], v, width / 2);
  }
  return frame;
}

// A 640x360 picture of smooth gradients in every plane (BT.601 limited range).
FFmpegFramePtr GradientFrame() {
  FFmpegFramePtr frame = SolidFrame(640, 360, 0, 0, 0);
  if (!frame) return {};
  for (int row = 0; row < 360; ++row)
    for (int x = 0; x < 640; ++x) frame->data[0][row * frame->linesize[0] + x] = uint8_t(16 + x * 110 / 640 + row * 109 / 360);
  for (int row = 0; row < 180; ++row)
    for (int x = 0; x < 320; ++x) {
      frame->data[1][row * frame->linesize[1] + x] = uint8_t(64 + x * 128 / 320);
      frame->data[2][row * frame->linesize[2] + x] = uint8_t(64 + row * 128 / 180);
    }
  return frame;
}

// The largest difference of a colour channel between the image and the planar picture scaled to the
// image's size into RGB in one go, away from the edges (which the two paths filter differently).
int WorstDifferenceFromOneStep(const QImage& image, const AVFrame* planar) {
  const QSize size = image.size();
  SwsContext* direct = sws_getContext(planar->width, planar->height, AV_PIX_FMT_YUV420P, size.width(), size.height(),
                                      AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const int stride = (size.width() * 4 + 63) & ~63;
  std::vector<uint8_t> reference(size_t(stride) * (size.height() + 1));
  uint8_t* dst[4] = {reference.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {stride, 0, 0, 0};
  sws_scale(direct, planar->data, planar->linesize, 0, planar->height, dst, dstStride);
  sws_freeContext(direct);
  int worst = 0;
  for (int y = 1; y + 1 < size.height(); ++y)
    for (int x = 1; x + 1 < size.width(); ++x)
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(int(image.constScanLine(y)[x * 4 + c]) - int(reference[y * stride + x * 4 + c])));
  return worst;
}

}  // namespace

TEST(FFmpegUtil, DecoderOpensOrSaysWhyNot) {
  Stream s;
  int result = 0;
  // A stream FFmpeg has no decoder for fails cleanly, with a code whose text says so.
  EXPECT_FALSE(FFmpeg_OpenDecoder(s.add(AVMEDIA_TYPE_DATA, AV_CODEC_ID_NONE), false, &result));
  EXPECT_EQ(result, AVERROR_DECODER_NOT_FOUND);
  EXPECT_EQ(FFmpeg_ErrorText(result), QStringLiteral("Decoder not found"));

  AVStream* video = s.add(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264);
  const FFmpegCodecPtr file = FFmpeg_OpenDecoder(video, false, &result);
  ASSERT_TRUE(file);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(file->pkt_timebase.den, 90000);
  // Frame threads would hand a live picture out packets later than it arrived, under a later time stamp.
  const FFmpegCodecPtr live = FFmpeg_OpenDecoder(video, true, &result);
  ASSERT_TRUE(live);
  EXPECT_NE(live->active_thread_type, FF_THREAD_FRAME);
}

TEST(FFmpegUtil, ImageScalerGivesTheAskedSizeAndFormatInTheRightColours) {
  const FFmpegFramePtr red = SolidFrame(64, 48, 81, 90, 240);
  ASSERT_TRUE(red);
  for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
    FFmpegImageScaler scaler(FFmpegScaleQuality::Bilinear);
    QImage image(10, 10, QImage::Format_Grayscale8);  // whatever it held is replaced
    ASSERT_TRUE(scaler.scale(red.get(), QSize(32, 24), format, &image));
    EXPECT_EQ(image.size(), QSize(32, 24));
    EXPECT_EQ(image.format(), format);
    const QColor pixel = image.pixelColor(16, 12);
    EXPECT_GT(pixel.red(), 220);
    EXPECT_LT(pixel.green(), 30);
    EXPECT_LT(pixel.blue(), 30);
    // The same image is drawn into again when nothing changed.
    const uchar* bits = image.constBits();
    ASSERT_TRUE(scaler.scale(red.get(), QSize(32, 24), format, &image));
    EXPECT_EQ(image.constBits(), bits);
  }
  FFmpegImageScaler scaler(FFmpegScaleQuality::FastBilinear);
  QImage image;
  EXPECT_FALSE(scaler.scale(red.get(), QSize(), QImage::Format_RGB32, &image));
  FFmpegFramePtr broken = FFmpeg_MakeFrame();
  broken->width = 16;
  broken->height = 16;
  broken->format = AV_PIX_FMT_NONE;
  EXPECT_FALSE(scaler.scale(broken.get(), QSize(16, 16), QImage::Format_RGB32, &image));
}

// Scaled in YUV and then converted, a picture must look as when scaled into RGB in one go, at sizes
// that are no multiple of anything, from planar YUV and from a camera's NV12; and the memory of an image
// still held elsewhere is never drawn into.
TEST(FFmpegUtil, ImageScalerMatchesAOneStepConversionAtAnySizeAndSparesHeldImages) {
  FFmpegFramePtr frame = GradientFrame();
  ASSERT_TRUE(frame);
  FFmpegFramePtr nv12 = FFmpeg_MakeVideoFrame(AV_PIX_FMT_NV12, 640, 360);
  ASSERT_TRUE(nv12);
  for (int row = 0; row < 360; ++row) memcpy(nv12->data[0] + row * nv12->linesize[0], frame->data[0] + row * frame->linesize[0], 640);
  for (int row = 0; row < 180; ++row)
    for (int x = 0; x < 320; ++x) {
      nv12->data[1][row * nv12->linesize[1] + 2 * x] = frame->data[1][row * frame->linesize[1] + x];
      nv12->data[1][row * nv12->linesize[1] + 2 * x + 1] = frame->data[2][row * frame->linesize[2] + x];
    }
  for (const auto& [source, size] : std::vector<std::pair<const AVFrame*, QSize>>{
           {frame.get(), QSize(319, 179)}, {frame.get(), QSize(17, 9)}, {frame.get(), QSize(1, 1)}, {frame.get(), QSize(640, 360)},
           {frame.get(), QSize(961, 541)}, {nv12.get(), QSize(319, 179)}, {nv12.get(), QSize(640, 360)}, {nv12.get(), QSize(961, 541)}}) {
    SCOPED_TRACE(testing::Message() << av_get_pix_fmt_name(AVPixelFormat(source->format)) << " to " << size.width());
    FFmpegImageScaler scaler(FFmpegScaleQuality::Bilinear);
    QImage image;
    ASSERT_TRUE(scaler.scale(source, size, QImage::Format_RGB32, &image));
    ASSERT_EQ(image.size(), size);
    // A picture made dozens of times smaller is filtered a little differently by the two paths.
    EXPECT_LE(WorstDifferenceFromOneStep(image, frame.get()), size.width() * 8 < 640 ? 24 : 6);

    const QImage held = image;  // still on screen somewhere
    const QImage before = held.copy();
    FFmpegFramePtr black = SolidFrame(640, 360, 16, 128, 128);
    ASSERT_TRUE(scaler.scale(black.get(), size, QImage::Format_RGB32, &image));
    EXPECT_EQ(held, before);
    EXPECT_NE(image.constBits(), held.constBits());
  }
}

// A preview picture of a camera's 4:2:0 or packed 4:2:2 picture, shown as an image, looks as the picture
// scaled into RGB in one go; a picture still held is never written again by the next one.
TEST(FFmpegUtil, PreviewPicturesLookAsAOneStepConversionAndStayAsTheyWereWhileHeld) {
  FFmpegFramePtr planar = GradientFrame();
  ASSERT_TRUE(planar);
  // The same picture as the packed 4:2:2 formats of webcams: each row of chroma twice.
  const auto packed = [&](AVPixelFormat format) {
    FFmpegFramePtr f = FFmpeg_MakeVideoFrame(format, 640, 360);
    const bool uyvy = format == AV_PIX_FMT_UYVY422;
    for (int row = 0; f && row < 360; ++row)
      for (int x = 0; x < 320; ++x) {
        uint8_t* p = f->data[0] + row * f->linesize[0] + 4 * x;
        const uint8_t y0 = planar->data[0][row * planar->linesize[0] + 2 * x], y1 = planar->data[0][row * planar->linesize[0] + 2 * x + 1];
        const uint8_t u = planar->data[1][row / 2 * planar->linesize[1] + x], v = planar->data[2][row / 2 * planar->linesize[2] + x];
        const uint8_t bytes[4] = {uyvy ? u : y0, uyvy ? y0 : u, uyvy ? v : y1, uyvy ? y1 : v};
        std::memcpy(p, bytes, 4);
      }
    return f;
  };
  FFmpegFramePtr uyvy = packed(AV_PIX_FMT_UYVY422), yuyv = packed(AV_PIX_FMT_YUYV422);
  ASSERT_TRUE(uyvy && yuyv);
  for (const AVFrame* source : {planar.get(), uyvy.get(), yuyv.get()})
    for (const QSize size : {QSize(319, 179), QSize(640, 360), QSize(962, 542)}) {
      SCOPED_TRACE(testing::Message() << av_get_pix_fmt_name(AVPixelFormat(source->format)) << " to " << size.width());
      FFmpegImageScaler scaler(FFmpegScaleQuality::FastBilinear);
      const PreviewPicture picture = scaler.previewPicture(source, size);
      ASSERT_EQ(picture.size(), size);
      ASSERT_TRUE(picture.yuv());
      const QImage image = scaler.image(picture);
      ASSERT_EQ(image.size(), size);
      EXPECT_LE(WorstDifferenceFromOneStep(image, planar.get()), 8);

      const QImage before = image.copy();
      FFmpegFramePtr black = SolidFrame(640, 360, 16, 128, 128);
      const PreviewPicture next = scaler.previewPicture(black.get(), size);
      EXPECT_EQ(scaler.image(picture), before);
      EXPECT_NE(next.yuv()->data[0], picture.yuv()->data[0]);
    }
}

TEST(FFmpegUtil, ResamplerFollowsTheInputAndTakesUnorderedChannels) {
  FFmpegResampler resampler;
  struct Case {
    const char* what;
    int rate;
    int channels;
    bool unordered;
  };
  const Case cases[] = {
      {"mono 44.1 kHz", 44100, 1, false},
      {"stereo 48 kHz", 48000, 2, false},
      {"two channels without an order, as some capture devices give", 32000, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FFmpegFramePtr in = FFmpeg_MakeFrame();
    in->format = AV_SAMPLE_FMT_S16;
    in->sample_rate = c.rate;
    in->nb_samples = c.rate / 10;
    if (c.unordered) {
      in->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
      in->ch_layout.nb_channels = c.channels;
    } else {
      av_channel_layout_default(&in->ch_layout, c.channels);
    }
    ASSERT_GE(av_frame_get_buffer(in.get(), 0), 0);
    av_samples_set_silence(in->data, 0, in->nb_samples, c.channels, AV_SAMPLE_FMT_S16);
    int result = 0;
    ASSERT_TRUE(resampler.prepare(in.get(), AV_SAMPLE_FMT_FLTP, 48000, 2, &result)) << FFmpeg_ErrorText(result).toStdString();
    // A tenth of a second in, a tenth of a second out once the resampler is flushed.
    std::vector<float> left(9600), right(9600);
    uint8_t* out[2] = {reinterpret_cast<uint8_t*>(left.data()), reinterpret_cast<uint8_t*>(right.data())};
    int made = resampler.convert(out, 9600, in.get());
    ASSERT_GE(made, 0);
    uint8_t* rest[2] = {out[0] + made * sizeof(float), out[1] + made * sizeof(float)};
    made += resampler.convert(rest, 9600 - made, nullptr);
    EXPECT_NEAR(made, 4800, 2);
  }
}

TEST(FFmpegUtil, FramePoolReusesMemoryOnlyOnceAFrameIsReleased) {
  FFmpegFramePool pool;
  FFmpegFramePtr first = pool.frame(AV_PIX_FMT_UYVY422, 1920, 1080);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->width, 1920);
  EXPECT_GE(first->linesize[0], 1920 * 2);
  const uint8_t* memory = first->data[0];
  FFmpegFramePtr second = pool.frame(AV_PIX_FMT_UYVY422, 1920, 1080);
  ASSERT_TRUE(second);
  EXPECT_NE(second->data[0], memory);  // still held: never handed out twice
  first.reset();
  FFmpegFramePtr third = pool.frame(AV_PIX_FMT_UYVY422, 1920, 1080);
  EXPECT_EQ(third->data[0], memory);
  // Another size starts anew with planes that fit it; frames of the old size stay valid.
  FFmpegFramePtr small = pool.frame(AV_PIX_FMT_YUV420P, 64, 36);
  ASSERT_TRUE(small);
  EXPECT_GE(small->linesize[1], 32);
  EXPECT_GE(small->data[1], small->data[0] + small->linesize[0] * 36);  // planes padded as FFmpeg pads them
  std::memset(second->data[0], 0x80, size_t(second->linesize[0]) * 1080);
  EXPECT_FALSE(pool.frame(AV_PIX_FMT_NONE, 64, 36));
  EXPECT_FALSE(pool.frame(AV_PIX_FMT_YUV420P, 0, 36));
}
