#include "platform/media/io/FFmpegUtil.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/error.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void FFmpegDeleter::operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
void FFmpegDeleter::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void FFmpegDeleter::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void FFmpegDeleter::operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
void FFmpegDeleter::operator()(SwrContext* resampler) const { swr_free(&resampler); }
void FFmpegDeleter::operator()(AVAudioFifo* fifo) const {
  if (fifo) av_audio_fifo_free(fifo);
}

void FFmpegDeleter::operator()(AVIOContext* io) const {
  if (!io) return;
  delete static_cast<FFmpegIOSource*>(io->opaque);
  av_freep(&io->buffer);
  avio_context_free(&io);
}

void FFmpegInputDeleter::operator()(AVFormatContext* input) const {
  if (!input) return;
  // The demuxer leaves a custom I/O context to whoever made it; ours all come from FFmpeg_MakeReadIO.
  AVIOContext* io = (input->flags & AVFMT_FLAG_CUSTOM_IO) ? input->pb : nullptr;
  avformat_close_input(&input);
  FFmpegDeleter()(io);
}

void FFmpegOutputDeleter::operator()(AVFormatContext* output) const {
  if (!output) return;
  if (output->flags & AVFMT_FLAG_CUSTOM_IO) {
    // Ours come from FFmpeg_MakeFileWriteIO: what is still buffered is written as the writer goes.
    if (output->pb) avio_flush(output->pb);
    FFmpegDeleter()(output->pb);
    output->pb = nullptr;
  } else if (output->pb) {
    // Whoever needed the file complete wrote its end and looked at the result; here it only goes.
    (void)avio_closep(&output->pb);
  }
  avformat_free_context(output);
}

FFmpegFramePtr FFmpeg_MakeFrame() { return FFmpegFramePtr(av_frame_alloc()); }
FFmpegPacketPtr FFmpeg_MakePacket() { return FFmpegPacketPtr(av_packet_alloc()); }
namespace {
FFmpegFramePtr U_WithBuffer(FFmpegFramePtr frame, int* result) {
  const int rc = frame ? av_frame_get_buffer(frame.get(), 0) : AVERROR(ENOMEM);
  if (result) *result = rc;
  return rc < 0 ? nullptr : std::move(frame);
}
}  // namespace

FFmpegFramePtr FFmpeg_MakeVideoFrame(int format, int width, int height, int* result) {
  FFmpegFramePtr frame = FFmpeg_MakeFrame();
  if (frame) {
    frame->format = format;
    frame->width = width;
    frame->height = height;
  }
  return U_WithBuffer(std::move(frame), result);
}

FFmpegFramePtr FFmpeg_MakeAudioFrame(int format, int sampleRate, int channels, int samples, int* result) {
  FFmpegFramePtr frame = FFmpeg_MakeFrame();
  if (frame) {
    frame->format = format;
    frame->sample_rate = sampleRate;
    frame->nb_samples = samples;
    av_channel_layout_default(&frame->ch_layout, channels);
  }
  return U_WithBuffer(std::move(frame), result);
}

FFmpegFramePtr FFmpeg_CloneFrame(const AVFrame* src) { return FFmpegFramePtr(src ? av_frame_clone(src) : nullptr); }

FFmpegFramePool::~FFmpegFramePool() { av_buffer_pool_uninit(&m_pool); }

FFmpegFramePtr FFmpegFramePool::frame(int format, int width, int height) {
  // Laid out as FFmpeg lays out its own pictures: rows aligned, planes as tall as the height rounded up to
  // 32 and padded at the end, since scalers and codecs may touch a little beyond the visible picture.
  constexpr int kAlign = 64;
  const int paddedHeight = (height + 31) & ~31;
  if (!m_pool || format != m_format || width != m_width || height != m_height) {
    av_buffer_pool_uninit(&m_pool);
    m_format = -1;
    if (width <= 0 || height <= 0) return nullptr;
    const int bytes = av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, paddedHeight, kAlign);
    if (bytes <= 0) return nullptr;
    m_pool = av_buffer_pool_init(size_t(bytes) + 4 * kAlign, nullptr);
    if (!m_pool) return nullptr;
    m_format = format;
    m_width = width;
    m_height = height;
  }
  FFmpegFramePtr f = FFmpeg_MakeFrame();
  if (!f) return nullptr;
  f->buf[0] = av_buffer_pool_get(m_pool);
  if (!f->buf[0]) return nullptr;
  if (av_image_fill_arrays(f->data, f->linesize, f->buf[0]->data, static_cast<AVPixelFormat>(format), width,
                           paddedHeight, kAlign) < 0)
    return nullptr;
  f->format = format;
  f->width = width;
  f->height = height;
  return f;
}

FFmpegOptions::~FFmpegOptions() { av_dict_free(&m_dict); }
int FFmpegOptions::set(const char* key, const char* value) { return av_dict_set(&m_dict, key, value, 0); }
int FFmpegOptions::set(const char* key, int64_t value) { return av_dict_set_int(&m_dict, key, value, 0); }

QString FFmpeg_ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return QString::fromUtf8(text);
}

namespace {

int U_Read(void* opaque, uint8_t* buf, int size) { return static_cast<FFmpegIOSource*>(opaque)->read(buf, size); }
int64_t U_Seek(void* opaque, int64_t offset, int whence) {
  return static_cast<FFmpegIOSource*>(opaque)->seek(offset, whence);
}

}  // namespace

namespace {

// The file end of FFmpeg_MakeFileWriteIO: blocks queued by FFmpeg's writer, written by a thread.
class ThreadedFileWriter : public FFmpegIOSource {
 public:
  static constexpr int kBlockSize = 4 << 20;

  explicit ThreadedFileWriter(int fd) : m_fd(fd), m_thread([this] { run(); }) {}
  ~ThreadedFileWriter() override {
    finish();
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_changed.notify_all();
    // The writing thread only writes to the file and never waits for the main thread: joining it (and
    // finish()) cannot deadlock a main thread that lets the writer go.
    m_thread.join();
    ::close(m_fd);
  }

  int read(uint8_t*, int) override { return AVERROR(EINVAL); }

  int write(const uint8_t* buf, int size) {
    std::unique_lock lock(m_mutex);
    // Two blocks in flight at most: the one being written and the next.
    m_changed.wait(lock, [&] { return m_queue.size() < 2 || m_error != 0; });
    if (m_error != 0) return m_error;
    // Blocks are reused: fresh ones of this size would cost the system more than the copy.
    std::vector<uint8_t> block;
    if (!m_spare.empty()) {
      block = std::move(m_spare.back());
      m_spare.pop_back();
    }
    block.assign(buf, buf + size);
    m_queue.push_back(std::move(block));
    m_changed.notify_all();
    return size;
  }

  int64_t seek(int64_t offset, int whence) override {
    // The muxer goes back to fill in sizes: everything before must be in the file first.
    const int rc = finish();
    if (rc < 0) return rc;
    if (whence == AVSEEK_SIZE) {
      struct stat st {};
      return ::fstat(m_fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(m_fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
  }

  // Waits until every queued block is written; the first error of any write.
  int finish() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return (m_queue.empty() && !m_writing) || m_error != 0; });
    return m_error;
  }

 private:
  void run() {
    for (;;) {
      std::vector<uint8_t> block;
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_queue.empty() || m_stop; });
        if (m_queue.empty()) return;
        block = std::move(m_queue.front());
        m_queue.pop_front();
        m_writing = true;
      }
      int error = 0;
      for (size_t done = 0; done < block.size();) {
        const ssize_t n = ::write(m_fd, block.data() + done, block.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          error = AVERROR(n < 0 ? errno : ENOSPC);
          break;
        }
        done += size_t(n);
      }
      {
        std::lock_guard lock(m_mutex);
        m_writing = false;
        if (error != 0 && m_error == 0) m_error = error;
        if (m_error != 0) m_queue.clear();
        if (m_spare.size() < 3) m_spare.push_back(std::move(block));
      }
      m_changed.notify_all();
    }
  }

  int m_fd;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::vector<uint8_t>> m_queue;
  std::vector<std::vector<uint8_t>> m_spare;
  bool m_writing = false;
  bool m_stop = false;
  int m_error = 0;
  std::thread m_thread;
};

int U_Write(void* opaque, uint8_t* buf, int size) {
  return static_cast<ThreadedFileWriter*>(static_cast<FFmpegIOSource*>(opaque))->write(buf, size);
}

}  // namespace

FFmpegIOPtr FFmpeg_MakeFileWriteIO(int fd) {
  if (fd < 0) return {};
  auto writer = std::make_unique<ThreadedFileWriter>(fd);
  auto* buffer = static_cast<uint8_t*>(av_malloc(ThreadedFileWriter::kBlockSize));
  if (!buffer) return {};
  AVIOContext* io = avio_alloc_context(buffer, ThreadedFileWriter::kBlockSize, 1, static_cast<FFmpegIOSource*>(writer.get()),
                                       nullptr, U_Write, U_Seek);
  if (!io) {
    av_free(buffer);
    return {};
  }
  writer.release();  // now the context's opaque
  return FFmpegIOPtr(io);
}

int FFmpeg_FinishWriteIO(AVIOContext* io) {
  if (!io) return AVERROR(EINVAL);
  avio_flush(io);
  if (io->error < 0) return io->error;
  return static_cast<ThreadedFileWriter*>(static_cast<FFmpegIOSource*>(io->opaque))->finish();
}

FFmpegIOPtr FFmpeg_MakeReadIO(std::unique_ptr<FFmpegIOSource> source) {
  // libavformat's own file buffer size: opening a long fragmented movie jumps from one fragment header
  // to the next, and every jump refills the buffer.
  constexpr int kBufferSize = 1 << 15;
  if (!source) return {};
  auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
  if (!buffer) return {};
  AVIOContext* io = avio_alloc_context(buffer, kBufferSize, 0, source.get(), U_Read, nullptr, U_Seek);
  if (!io) {
    av_free(buffer);
    return {};
  }
  source.release();  // now the context's opaque
  return FFmpegIOPtr(io);
}

FFmpegCodecPtr FFmpeg_OpenDecoder(const AVStream* stream, bool live, int* result) {
  int ignored = 0;
  int& rc = result ? *result : ignored;
  const AVCodec* codec = stream ? avcodec_find_decoder(stream->codecpar->codec_id) : nullptr;
  if (!codec) {
    rc = AVERROR_DECODER_NOT_FOUND;
    return {};
  }
  FFmpegCodecPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) {
    rc = AVERROR(ENOMEM);
    return {};
  }
  rc = avcodec_parameters_to_context(ctx.get(), stream->codecpar);
  if (rc < 0) return {};
  ctx->pkt_timebase = stream->time_base;
  // A file: at most four threads, enough for 1080p H.264 in real time and quick exact seeks, and no more
  // beside a recording's encoder on a small machine. A live source: one thread, so that each picture
  // leaves the decoder with the packet that brought it (it is stamped with that packet's arrival) and
  // the capture takes nothing from the encoder.
  ctx->thread_count = live ? 1 : std::clamp(av_cpu_count(), 1, 4);
  ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  rc = avcodec_open2(ctx.get(), codec, nullptr);
  if (rc < 0) return {};
  rc = 0;
  return ctx;
}

SwsContext* FFmpegCachedScaler::get(int srcWidth, int srcHeight, int srcFormat, int dstWidth, int dstHeight,
                                    int dstFormat, int flags, int threads) {
  const std::array<int64_t, 8> key{srcWidth, srcHeight, srcFormat, dstWidth, dstHeight, dstFormat, flags, threads};
  if (m_ctx && key == m_key) return m_ctx.get();
  m_ctx.reset();
  // libswscale asserts (ends the process) on a format it does not know.
  if (!sws_isSupportedInput(AVPixelFormat(srcFormat)) || !sws_isSupportedOutput(AVPixelFormat(dstFormat))) return nullptr;
  // Set as options: the plain constructors know no threads.
  m_ctx.reset(sws_alloc_context());
  if (!m_ctx) return nullptr;
  static constexpr const char* kNames[] = {"srcw", "srch", "src_format", "dstw", "dsth", "dst_format", "sws_flags", "threads"};
  for (size_t i = 0; i < key.size(); ++i) {
    if (av_opt_set_int(m_ctx.get(), kNames[i], key[i], 0) < 0) {
      m_ctx.reset();
      return nullptr;
    }
  }
  if (sws_init_context(m_ctx.get(), nullptr, nullptr) < 0) {
    m_ctx.reset();
    return nullptr;
  }
  m_key = key;
  return m_ctx.get();
}

namespace {
int U_SwsFlags(FFmpegScaleQuality quality) {
  return quality == FFmpegScaleQuality::FastBilinear ? SWS_FAST_BILINEAR
         : quality == FFmpegScaleQuality::Bilinear   ? SWS_BILINEAR
                                                     : SWS_BICUBIC;
}
}  // namespace

FFmpegImageScaler::FFmpegImageScaler(FFmpegScaleQuality quality) : m_flags(U_SwsFlags(quality)) {}
FFmpegImageScaler::~FFmpegImageScaler() = default;

namespace {
// 4:2:0 YUV, what cameras and recordings give. libswscale scales it quickly in planar YUV and converts
// planar YUV to RGB quickly at one size, where scaling it into RGB in one go (or converting the cameras'
// semi-planar NV12 to RGB at all) takes its slow general path: this format is the step between. None
// when the frame is best converted in one go. A preview also takes 4:2:2 pictures (most webcams') down
// to 4:2:0 at its size: converting them to RGB in one go costs nearly twice as much, and a preview shows
// no finer colour.
int U_PlanarStepFormat(const AVFrame* frame, const QSize& size, bool forPreview = false) {
  const int planar420 = frame->color_range == AVCOL_RANGE_JPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  switch (frame->format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
      return size != QSize(frame->width, frame->height) ? frame->format : AV_PIX_FMT_NONE;
    case AV_PIX_FMT_NV12:
    case AV_PIX_FMT_NV21:
      return planar420;
    case AV_PIX_FMT_YUYV422:
    case AV_PIX_FMT_UYVY422:
    case AV_PIX_FMT_YUV422P:
      return forPreview ? planar420 : AV_PIX_FMT_NONE;
    case AV_PIX_FMT_YUVJ422P:
      return forPreview ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_NONE;
    default:
      return AV_PIX_FMT_NONE;
  }
}

void U_FreeImageMemory(void* memory) { av_free(memory); }
}  // namespace

bool FFmpegImageScaler::U_ScaleYUV(const AVFrame* frame, const QSize& size, int format, AVFrame* into) {
  SwsContext* down = m_yuvScaler.get(frame->width, frame->height, frame->format, size.width(), size.height(), format, m_flags);
  return down && sws_scale(down, frame->data, frame->linesize, 0, frame->height, into->data, into->linesize) > 0;
}

bool FFmpegImageScaler::scale(const AVFrame* frame, const QSize& size, QImage::Format format, QImage* image) {
  if (!frame || frame->width <= 0 || frame->height <= 0 || size.isEmpty()) return false;
  const AVFrame* source = frame;
  if (const int step = U_PlanarStepFormat(frame, size); step != AV_PIX_FMT_NONE) {
    if (!m_scaledYUV || m_scaledYUV->width != size.width() || m_scaledYUV->height != size.height() ||
        m_scaledYUV->format != step) {
      m_scaledYUV = FFmpeg_MakeVideoFrame(step, size.width(), size.height());
      if (!m_scaledYUV) return false;
    }
    if (!U_ScaleYUV(frame, size, step, m_scaledYUV.get())) return false;
    source = m_scaledYUV.get();
  }
  SwsContext* ctx =
      m_scaler.get(source->width, source->height, source->format, size.width(), size.height(), AV_PIX_FMT_BGRA, m_flags);
  if (!ctx) return false;
  // Memory still shown through a copy of an image is never written: only an image of the pool that
  // nobody else holds is used again.
  *image = QImage();
  QImage* slot = nullptr;
  for (QImage& candidate : m_pool)
    if (!candidate.isNull() && candidate.size() == size && candidate.format() == format && candidate.isDetached()) {
      slot = &candidate;
      break;
    }
  if (!slot) {
    // Rows a multiple of 64 bytes and a spare row at the end: the converters write up to 16 pixels past
    // the last one of a row.
    const qsizetype stride = (qsizetype(size.width()) * 4 + 63) & ~qsizetype(63);
    auto* memory = static_cast<uchar*>(av_malloc(size_t(stride) * size_t(size.height() + 1)));
    if (!memory) return false;
    slot = &m_pool[m_nextSlot];
    m_nextSlot = (m_nextSlot + 1) % int(std::size(m_pool));
    *slot = QImage(memory, size.width(), size.height(), stride, format, U_FreeImageMemory, memory);
  }
  uint8_t* dst[4] = {const_cast<uchar*>(slot->constBits()), nullptr, nullptr, nullptr};
  int dstStride[4] = {int(slot->bytesPerLine()), 0, 0, 0};
  if (sws_scale(ctx, source->data, source->linesize, 0, source->height, dst, dstStride) <= 0) return false;
  *image = *slot;
  return true;
}

QSize PreviewPicture::size() const { return m_yuv ? QSize(m_yuv->width, m_yuv->height) : m_image.size(); }

PreviewPicture FFmpegImageScaler::previewPicture(const AVFrame* frame, const QSize& size) {
  if (!frame || frame->width <= 0 || frame->height <= 0 || size.isEmpty()) return {};
  const bool planar = frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P;
  if (planar && size == QSize(frame->width, frame->height) && frame->buf[0]) {
    // Already as wanted: shared, not copied.
    FFmpegFramePtr ref(av_frame_clone(frame));
    return ref ? PreviewPicture(std::shared_ptr<const AVFrame>(std::move(ref))) : PreviewPicture();
  }
  if (const int step = U_PlanarStepFormat(frame, size, true); step != AV_PIX_FMT_NONE) {
    FFmpegFramePtr scaled = m_previewPool.frame(step, size.width(), size.height());
    if (!scaled || !U_ScaleYUV(frame, size, step, scaled.get())) return {};
    return PreviewPicture(std::shared_ptr<const AVFrame>(std::move(scaled)));
  }
  QImage image;
  // A camera picture is opaque: painted as such it is copied, not blended.
  if (!scale(frame, size, QImage::Format_RGB32, &image)) return {};
  return PreviewPicture(std::move(image));
}

QImage FFmpegImageScaler::image(const PreviewPicture& picture) {
  if (!picture.yuv()) return picture.image();
  QImage image;
  scale(picture.yuv(), picture.size(), QImage::Format_RGB32, &image);
  return image;
}

namespace {
// libswscale's converters write this many pixels at a time at most (fewer on most machines): a row as
// wide as a multiple of it ends where the picture does.
constexpr int kConverterBlock = 32;
}  // namespace

PreviewPictureConverter::PreviewPictureConverter() = default;
PreviewPictureConverter::~PreviewPictureConverter() = default;

bool PreviewPictureConverter::convertInto(const PreviewPicture& picture, uchar* topLeft, qsizetype bytesPerLine) {
  const AVFrame* frame = picture.yuv();
  if (!frame || !topLeft || frame->width <= 0 || frame->height <= 0 || bytesPerLine < qsizetype(frame->width) * 4 ||
      (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P))
    return false;
  const int width = frame->width, height = frame->height;
  const int body = width / kConverterBlock * kConverterBlock;
  const int edge = width - body;
  SwsContext* bodyCtx = body > 0 ? m_body.get(body, height, frame->format, body, height, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR) : nullptr;
  SwsContext* edgeCtx = edge > 0 ? m_edge.get(edge, height, frame->format, edge, height, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR) : nullptr;
  if ((body > 0 && !bodyCtx) || (edge > 0 && !edgeCtx)) return false;
  // A block wide, laid out (and padded) as FFmpeg's own pictures are.
  if (edge > 0 && (!m_edgeRows || m_edgeRows->height < height)) {
    m_edgeRows = FFmpeg_MakeVideoFrame(AV_PIX_FMT_BGRA, kConverterBlock, height);
    if (!m_edgeRows) return false;
  }
  if (bodyCtx) {
    uint8_t* dst[4] = {topLeft, nullptr, nullptr, nullptr};
    const int dstStride[4] = {int(bytesPerLine), 0, 0, 0};
    if (sws_scale(bodyCtx, frame->data, frame->linesize, 0, height, dst, dstStride) <= 0) return false;
  }
  if (edgeCtx) {
    // 4:2:0: the chroma planes are half as wide, and body is even.
    const uint8_t* src[4] = {frame->data[0] + body, frame->data[1] + body / 2, frame->data[2] + body / 2, nullptr};
    if (sws_scale(edgeCtx, src, frame->linesize, 0, height, m_edgeRows->data, m_edgeRows->linesize) <= 0) return false;
    for (int y = 0; y < height; ++y)
      std::memcpy(topLeft + y * bytesPerLine + qsizetype(body) * 4, m_edgeRows->data[0] + y * m_edgeRows->linesize[0],
                  size_t(edge) * 4);
  }
  return true;
}

FFmpegFrameScaler::FFmpegFrameScaler(FFmpegScaleQuality quality, int threads)
    : m_flags(U_SwsFlags(quality)), m_threads(threads) {}
FFmpegFrameScaler::~FFmpegFrameScaler() = default;

int FFmpegFrameScaler::scale(const AVFrame* src, AVFrame* dst) {
  if (!src || !dst || src->width <= 0 || src->height <= 0 || dst->width <= 0 || dst->height <= 0) return AVERROR(EINVAL);
  SwsContext* ctx = m_ctx.get(src->width, src->height, src->format, dst->width, dst->height, dst->format, m_flags, m_threads);
  if (!ctx) return AVERROR(EINVAL);
  // Slices on several threads need frames that hold their buffers; a picture of memory owned elsewhere
  // (a QImage) is converted in one go.
  if (m_threads != 1 && src->buf[0] && dst->buf[0]) return sws_scale_frame(ctx, dst, src);
  const int rows = sws_scale(ctx, src->data, src->linesize, 0, src->height, dst->data, dst->linesize);
  return rows > 0 ? 0 : AVERROR(EINVAL);
}

struct FFmpegResampler::Key {
  int inFormat = -1;
  int inRate = 0;
  AVChannelLayout inLayout{};
  int outFormat = -1;
  int outRate = 0;
  int outChannels = 0;
  ~Key() { av_channel_layout_uninit(&inLayout); }
};

FFmpegResampler::FFmpegResampler() : m_key(std::make_unique<Key>()) {}
FFmpegResampler::~FFmpegResampler() = default;

void FFmpegResampler::reset() { m_ctx.reset(); }

bool FFmpegResampler::prepare(const AVFrame* in, int outSampleFormat, int outRate, int outChannels, int* result) {
  if (result) *result = 0;
  AVChannelLayout inLayout{};
  if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || in->ch_layout.nb_channels <= 0)
    av_channel_layout_default(&inLayout, in->ch_layout.nb_channels > 0 ? in->ch_layout.nb_channels : 1);
  else if (const int rc = av_channel_layout_copy(&inLayout, &in->ch_layout); rc < 0) {
    if (result) *result = rc;
    return false;
  }
  Key& k = *m_key;
  if (m_ctx && k.inFormat == in->format && k.inRate == in->sample_rate &&
      av_channel_layout_compare(&k.inLayout, &inLayout) == 0 && k.outFormat == outSampleFormat &&
      k.outRate == outRate && k.outChannels == outChannels) {
    av_channel_layout_uninit(&inLayout);
    return true;
  }
  m_ctx.reset();
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, outChannels);
  SwrContext* ctx = nullptr;
  int rc = swr_alloc_set_opts2(&ctx, &outLayout, AVSampleFormat(outSampleFormat), outRate, &inLayout,
                               AVSampleFormat(in->format), in->sample_rate, 0, nullptr);
  m_ctx.reset(ctx);
  if (rc >= 0) rc = swr_init(ctx);
  if (rc < 0) {
    m_ctx.reset();
    av_channel_layout_uninit(&inLayout);
    if (result) *result = rc;
    return false;
  }
  k.inFormat = in->format;
  k.inRate = in->sample_rate;
  av_channel_layout_uninit(&k.inLayout);
  k.inLayout = inLayout;  // takes over what inLayout held
  k.outFormat = outSampleFormat;
  k.outRate = outRate;
  k.outChannels = outChannels;
  return true;
}

int FFmpegResampler::convert(uint8_t** out, int outCapacity, const AVFrame* in) {
  if (!m_ctx) return AVERROR(EINVAL);
  return swr_convert(m_ctx.get(), out, outCapacity, in ? const_cast<const uint8_t**>(in->extended_data) : nullptr,
                     in ? in->nb_samples : 0);
}
