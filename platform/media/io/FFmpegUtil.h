#pragma once
// FFmpeg wrapped once for platform/media: owning handles that free every FFmpeg object with its own
// call, error text, opening a decoder, turning a picture into a QImage and converting sound. Nothing
// here throws; a factory that fails answers an empty handle.

#include <QImage>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

extern "C" {
struct AVBufferPool;
struct AVAudioFifo;
struct AVCodecContext;
struct AVDictionary;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;
struct SwrContext;
struct SwsContext;
}

// Frees each FFmpeg object with the call FFmpeg wants for it.
struct FFmpegDeleter {
  void operator()(AVCodecContext* codec) const;
  void operator()(AVFrame* frame) const;
  void operator()(AVPacket* packet) const;
  void operator()(SwsContext* scaler) const;
  void operator()(SwrContext* resampler) const;
  void operator()(AVAudioFifo* fifo) const;
  // A read context made by FFmpeg_MakeReadIO: its buffer and its source go with it.
  void operator()(AVIOContext* io) const;
};

// An opened input. With custom I/O (FFmpeg_MakeReadIO) the input owns that I/O too.
struct FFmpegInputDeleter {
  void operator()(AVFormatContext* input) const;
};

// An output made by avformat_alloc_output_context2; the file it opened (if any) is closed with it.
struct FFmpegOutputDeleter {
  void operator()(AVFormatContext* output) const;
};

using FFmpegInputPtr = std::unique_ptr<AVFormatContext, FFmpegInputDeleter>;
using FFmpegOutputPtr = std::unique_ptr<AVFormatContext, FFmpegOutputDeleter>;
using FFmpegCodecPtr = std::unique_ptr<AVCodecContext, FFmpegDeleter>;
using FFmpegFramePtr = std::unique_ptr<AVFrame, FFmpegDeleter>;
using FFmpegPacketPtr = std::unique_ptr<AVPacket, FFmpegDeleter>;
using FFmpegScalerPtr = std::unique_ptr<SwsContext, FFmpegDeleter>;
using FFmpegResamplerPtr = std::unique_ptr<SwrContext, FFmpegDeleter>;
using FFmpegFifoPtr = std::unique_ptr<AVAudioFifo, FFmpegDeleter>;
using FFmpegIOPtr = std::unique_ptr<AVIOContext, FFmpegDeleter>;

FFmpegFramePtr FFmpeg_MakeFrame();
FFmpegPacketPtr FFmpeg_MakePacket();
// A frame with memory of its own for a picture, or for samples (in the default layout of that many
// channels); empty, with the error in *result, when it cannot be had.
FFmpegFramePtr FFmpeg_MakeVideoFrame(int format, int width, int height, int* result = nullptr);
FFmpegFramePtr FFmpeg_MakeAudioFrame(int format, int sampleRate, int channels, int samples, int* result = nullptr);
// A new reference to the same data (av_frame_clone); empty when src is null or memory runs out.
FFmpegFramePtr FFmpeg_CloneFrame(const AVFrame* src);

// Options handed to an open call; whatever the call leaves unused is freed with the object.
class FFmpegOptions {
 public:
  FFmpegOptions() = default;
  ~FFmpegOptions();
  FFmpegOptions(const FFmpegOptions&) = delete;
  FFmpegOptions& operator=(const FFmpegOptions&) = delete;
  // 0, or AVERROR(ENOMEM) when the option cannot be kept (the open call then goes without it).
  int set(const char* key, const char* value);
  int set(const char* key, int64_t value);
  AVDictionary** address() { return &m_dict; }

 private:
  AVDictionary* m_dict = nullptr;
};

// av_strerror's text for an FFmpeg error code.
QString FFmpeg_ErrorText(int code);

// What a custom read context reads from; the context owns it. Both answer as FFmpeg's read and seek
// callbacks do (AVSEEK_SIZE asks for the length).
class FFmpegIOSource {
 public:
  virtual ~FFmpegIOSource() = default;
  virtual int read(uint8_t* buf, int size) = 0;
  virtual int64_t seek(int64_t offset, int whence) = 0;
};
FFmpegIOPtr FFmpeg_MakeReadIO(std::unique_ptr<FFmpegIOSource> source);

// Writes a file (taking the descriptor) in blocks of a few megabytes through a thread of its own, so
// that the system copies one block into the file while the next one is made. Failures are reported
// by the next write, by a seek and by FFmpeg_FinishWriteIO. An output whose pb is one of these carries
// AVFMT_FLAG_CUSTOM_IO so that FFmpegOutputPtr frees it.
FFmpegIOPtr FFmpeg_MakeFileWriteIO(int fd);
// Writes out what the context still holds and waits until all of it is in the file: 0, or the first
// error of any write.
int FFmpeg_FinishWriteIO(AVIOContext* io);

// Opens a decoder for the stream. *result: 0, AVERROR_DECODER_NOT_FOUND when FFmpeg has none for the
// codec, or the error the decoder answered. A live source is decoded on one thread: frame threads hold
// pictures back, and a capture stamps each picture with the time its packet arrived.
FFmpegCodecPtr FFmpeg_OpenDecoder(const AVStream* stream, bool live, int* result = nullptr);

// A conversion context, made anew only when what it converts changes.
class FFmpegCachedScaler {
 public:
  // The context for these sizes, formats, flags and threads (0: all cores); null when libswscale has no
  // such conversion.
  SwsContext* get(int srcWidth, int srcHeight, int srcFormat, int dstWidth, int dstHeight, int dstFormat, int flags,
                  int threads = 1);

 private:
  FFmpegScalerPtr m_ctx;
  // What m_ctx was made for (libswscale rewrites some of its own fields, so they are not read back).
  std::array<int64_t, 8> m_key{};
};

// Video frames of one format and size whose memory is reused once the frames handed out are released,
// so a steady stream of pictures does not allocate a new picture each time. A new format or size
// starts a new pool (the old one goes when its last frame does).
class FFmpegFramePool {
 public:
  FFmpegFramePool() = default;
  ~FFmpegFramePool();
  FFmpegFramePool(const FFmpegFramePool&) = delete;
  FFmpegFramePool& operator=(const FFmpegFramePool&) = delete;

  // A writable frame; empty when the format or size is not a picture or memory runs out.
  FFmpegFramePtr frame(int format, int width, int height);

 private:
  AVBufferPool* m_pool = nullptr;
  int m_format = -1;
  int m_width = 0;
  int m_height = 0;
};

// libswscale's filters, from quickest to finest.
enum class FFmpegScaleQuality { FastBilinear, Bilinear, Bicubic };

// A camera picture made ready to be shown at one size: 4:2:0 YUV already at that size, turned into RGB
// only where it is painted (so no RGB copy of it is kept or copied again), or an RGB image for pictures
// of other formats. Copies share the picture, which is never written again while one of them holds it.
class PreviewPicture {
 public:
  PreviewPicture() = default;
  explicit PreviewPicture(QImage image) : m_image(std::move(image)) {}
  explicit PreviewPicture(std::shared_ptr<const AVFrame> yuv) : m_yuv(std::move(yuv)) {}

  bool isNull() const { return !m_yuv && m_image.isNull(); }
  QSize size() const;
  // The YUV picture (null for an RGB one).
  const AVFrame* yuv() const { return m_yuv.get(); }
  // The RGB picture (null for a YUV one).
  const QImage& image() const { return m_image; }

 private:
  std::shared_ptr<const AVFrame> m_yuv;
  QImage m_image;
};

// Turns decoded pictures into QImages of a 32-bit format (BGRA bytes in memory on little-endian
// machines), reusing its conversion context and the image's memory while sizes and formats stay.
class FFmpegImageScaler {
 public:
  explicit FFmpegImageScaler(FFmpegScaleQuality quality);
  ~FFmpegImageScaler();
  FFmpegImageScaler(const FFmpegImageScaler&) = delete;
  FFmpegImageScaler& operator=(const FFmpegImageScaler&) = delete;

  // Scales the frame to size into *image (made anew only when its size or format differs, or when a
  // copy of it is still held); false when the frame cannot be converted. The image's memory leaves
  // room after every row and after the last one for libswscale's converters, which write whole blocks
  // of pixels.
  bool scale(const AVFrame* frame, const QSize& size, QImage::Format format, QImage* image);
  // The frame at size for a preview: 4:2:0 YUV stays YUV (in memory of a pool, used again once every
  // copy of the picture is gone), other formats become an RGB32 image as scale() makes it. Null when the
  // frame cannot be converted.
  PreviewPicture previewPicture(const AVFrame* frame, const QSize& size);
  // The picture as an RGB32 image.
  QImage image(const PreviewPicture& picture);

 private:
  bool U_ScaleYUV(const AVFrame* frame, const QSize& size, int format, AVFrame* into);

  int m_flags;
  // 4:2:0 YUV is scaled (and made planar) in YUV first, then converted at its new size.
  FFmpegCachedScaler m_yuvScaler;
  FFmpegFramePtr m_scaledYUV;
  FFmpegFramePool m_previewPool;
  FFmpegCachedScaler m_scaler;
  // Images made here, written again once nobody else holds them: a picture a frame would otherwise
  // allocate (and have the system clear) megabytes every time while the last one is still shown.
  QImage m_pool[3];
  int m_nextSlot = 0;
};

// Converts YUV preview pictures into rows of 32-bit BGRA pixels that belong to someone else (a window's
// backing store), at their own size, writing no pixel outside the picture's rectangle: libswscale's
// converters write whole blocks of pixels, so a row that ends inside a block would write past its end.
class PreviewPictureConverter {
 public:
  PreviewPictureConverter();
  ~PreviewPictureConverter();
  PreviewPictureConverter(const PreviewPictureConverter&) = delete;
  PreviewPictureConverter& operator=(const PreviewPictureConverter&) = delete;

  // Converts the YUV picture into the rows starting at topLeft; false (nothing written) for an RGB
  // picture or one libswscale cannot convert.
  bool convertInto(const PreviewPicture& picture, uchar* topLeft, qsizetype bytesPerLine);

 private:
  // The whole blocks of each row, converted in place.
  FFmpegCachedScaler m_body;
  // The columns after them, converted into m_edgeRows and copied from there.
  FFmpegCachedScaler m_edge;
  FFmpegFramePtr m_edgeRows;
};

// Converts frames into frames of another size or format, keeping its conversion context while the
// sizes and formats of both sides stay the same.
class FFmpegFrameScaler {
 public:
  // threads: 1 converts on the calling thread; 0 in slices on all cores, for frames with their own
  // buffers (a 1080p picture converted serially holds a live encoder up by milliseconds).
  explicit FFmpegFrameScaler(FFmpegScaleQuality quality, int threads = 1);
  ~FFmpegFrameScaler();
  FFmpegFrameScaler(const FFmpegFrameScaler&) = delete;
  FFmpegFrameScaler& operator=(const FFmpegFrameScaler&) = delete;

  // Converts src into dst, whose format, width, height and planes are set and writable. 0, or a
  // negative error: AVERROR(EINVAL) when libswscale has no such conversion.
  int scale(const AVFrame* src, AVFrame* dst);

 private:
  int m_flags;
  int m_threads;
  FFmpegCachedScaler m_ctx;
};

// Converts sound to one output format, set up again whenever the input's or the output's format
// changes (what it still held of the old input is dropped then).
class FFmpegResampler {
 public:
  FFmpegResampler();
  ~FFmpegResampler();
  FFmpegResampler(const FFmpegResampler&) = delete;
  FFmpegResampler& operator=(const FFmpegResampler&) = delete;

  // Ready to convert frames like in to the output format; false with the FFmpeg error in *result.
  // An input without a channel order counts as the default layout of its channel count.
  bool prepare(const AVFrame* in, int outSampleFormat, int outRate, int outChannels, int* result = nullptr);
  // Converts in (null flushes) into out; answers the samples made per channel, or a negative error.
  int convert(uint8_t** out, int outCapacity, const AVFrame* in);
  SwrContext* context() const { return m_ctx.get(); }
  void reset();

 private:
  struct Key;
  FFmpegResamplerPtr m_ctx;
  std::unique_ptr<Key> m_key;
};
