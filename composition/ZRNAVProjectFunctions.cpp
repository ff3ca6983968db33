#include "composition/ZRNAVProjectFunctions.h"

#include "common/ZRNLogger.h"
#include "composition/ZRNImageOverlayEdit.h"
#include "composition/ZRNTitleEdit.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QScreen>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
// A chapter list longer than this is not believed (a hostile file may claim millions).
constexpr unsigned kMaxChapters = 10000;
// Larger contexts are refused: a hostile size must not allocate gigabytes.
constexpr int64_t kMaxContextSide = 16384;
}  // namespace

QImage ZRNCopyImageAtTime(const AssetRef& asset, const MediaTime& time, bool exact) {
  if (!asset || !time.isNumeric()) return {};
  const auto tracks = asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  if (tracks.isEmpty()) return {};
  const AssetTrackRef track = tracks.first();
  QString error;
  FFmpegInputPtr in = Asset_OpenInput(track->sourcePath(), track->sourceByteLimit(), &error);
  if (!in || track->streamIndex() < 0 || unsigned(track->streamIndex()) >= in->nb_streams) return {};
  const int stream = track->streamIndex();
  for (unsigned i = 0; i < in->nb_streams; ++i)
    in->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  AVStream* st = in->streams[stream];
  FFmpegCodecPtr dec = FFmpeg_OpenDecoder(st, false);
  FFmpegPacketPtr packet = FFmpeg_MakePacket();
  if (!dec || !packet) return {};
  const double wanted = MediaTimeGetSeconds(time);
  const int64_t ts = int64_t(std::floor(wanted / av_q2d(st->time_base)));
  // Fragmented movies seek by decode time and may land after the wanted time: step back until the
  // first packet is at or before it.
  int64_t target = ts;
  int64_t back = std::max<int64_t>(1, int64_t(0.5 / av_q2d(st->time_base)));
  for (int tries = 0; tries < 32; ++tries) {
    av_seek_frame(in.get(), stream, target, AVSEEK_FLAG_BACKWARD);
    int rc = 0;
    while ((rc = av_read_frame(in.get(), packet.get())) >= 0 && packet->stream_index != stream) av_packet_unref(packet.get());
    if (rc < 0) {
      av_seek_frame(in.get(), stream, target, AVSEEK_FLAG_BACKWARD);
      break;
    }
    const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (pts > ts && target > 0) {
      av_packet_unref(packet.get());
      target = std::max<int64_t>(0, ts - back);
      back *= 2;
      continue;
    }
    avcodec_send_packet(dec.get(), packet.get());
    av_packet_unref(packet.get());
    break;
  }
  // A frame counts as shown at the time when it starts no later than it (within a tick).
  const double tolerance = av_q2d(st->time_base);
  auto secondsOf = [&](const AVFrame* f) {
    const int64_t t = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    return t == AV_NOPTS_VALUE ? 0.0 : double(t) * av_q2d(st->time_base);
  };
  FFmpegFramePtr shown, frame = FFmpeg_MakeFrame();
  bool eof = false;
  while (frame) {
    const int rc = avcodec_receive_frame(dec.get(), frame.get());
    if (rc == 0) {
      if (shown && secondsOf(frame.get()) > wanted + tolerance) break;
      shown = std::move(frame);
      if (!exact) break;
      frame = FFmpeg_MakeFrame();
      continue;
    }
    if (rc == AVERROR_EOF || (rc != AVERROR(EAGAIN))) break;
    if (eof) break;
    if (av_read_frame(in.get(), packet.get()) < 0) {
      eof = true;
      avcodec_send_packet(dec.get(), nullptr);
      continue;
    }
    if (packet->stream_index == stream) avcodec_send_packet(dec.get(), packet.get());
    av_packet_unref(packet.get());
  }
  if (!shown) return {};
  QImage image;
  FFmpegImageScaler scaler(FFmpegScaleQuality::Bicubic);
  if (!scaler.scale(shown.get(), QSize(shown->width, shown->height), QImage::Format_RGB32, &image)) return {};
  return image;
}

QList<QVariantMap> ZRNChaptersOfAsset(const AssetRef& asset) {
  QList<QVariantMap> chapters;
  if (!asset) return chapters;
  const QString path = asset->URL().isLocalFile() ? asset->URL().toLocalFile() : asset->URL().toString();
  QString error;
  FFmpegInputPtr in = Asset_OpenInput(path, -1, &error, false);
  if (!in || in->nb_chapters == 0 || in->nb_chapters > kMaxChapters) return chapters;
  // Artwork: the first attached picture of the movie, shared by every chapter.
  QImage artwork;
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const AVStream* st = in->streams[i];
    if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0) continue;
    artwork = QImage::fromData(QByteArray::fromRawData(reinterpret_cast<const char*>(st->attached_pic.data),
                                                       st->attached_pic.size));
    if (!artwork.isNull()) break;
  }
  for (unsigned i = 0; i < in->nb_chapters; ++i) {
    const AVChapter* ch = in->chapters[i];
    if (!ch || ch->time_base.den == 0) continue;
    QVariantMap chapter;
    const double tb = av_q2d(ch->time_base);
    const double start = ch->start == AV_NOPTS_VALUE ? 0.0 : double(ch->start) * tb;
    chapter.insert(QString::fromLatin1(kChapterStart), std::isfinite(start) ? start : 0.0);
    if (ch->start != AV_NOPTS_VALUE && ch->end != AV_NOPTS_VALUE && ch->end >= ch->start) {
      const double duration = double(ch->end - ch->start) * tb;
      if (std::isfinite(duration)) chapter.insert(QString::fromLatin1(kChapterDuration), duration);
    }
    if (const AVDictionaryEntry* title = av_dict_get(ch->metadata, "title", nullptr, 0))
      chapter.insert(QString::fromLatin1(kChapterTitle), QString::fromUtf8(title->value));
    if (!artwork.isNull()) chapter.insert(QString::fromLatin1(kChapterImage), artwork);
    chapters.append(chapter);
  }
  return chapters;
}

double ZRNMaxScreenBackingScale() {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return 0.0;
  double scale = 0.0;
  for (const QScreen* screen : QGuiApplication::screens()) scale = std::max(scale, screen->devicePixelRatio());
  return scale;
}

QImage ZRNCGImageFromNSImage(const QImage& image) {
  if (image.isNull()) return {};
  QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  copy.detach();
  return copy;
}

void ZRNDrawImageInContextRect(const QImage& image, QImage& context, double width, double height) {
  if (image.isNull() || context.isNull() || !(width > 0) || !(height > 0)) return;
  const double iw = image.width(), ih = image.height();
  QPainter painter(&context);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (iw > width || ih > height) {
    const QRectF crop(0, 0, std::min(width, iw), std::min(height, ih));
    painter.drawImage(QRectF(0, 0, width, height), image, crop);
  } else if (width > iw && height > ih) {
    painter.drawImage(QPointF(0, 0), image);
  } else {
    painter.drawImage(QRectF(0, 0, width, height), image);
  }
}

namespace {
void U_FreeContextMemory(void* memory) { std::free(memory); }
}  // namespace

QImage ZRNCreateBitmapContextARGB(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > kMaxContextSide || height > kMaxContextSide) {
    ZRNLogger_Log(QStringLiteral("Error in ZRNCreateBitmapContextARGB: Context not created!"));
    return {};
  }
  const int64_t bytesPerRow = 4 * ((width + 3) / 4 * 4);
  void* memory = std::calloc(size_t(bytesPerRow), size_t(height));
  if (!memory) {
    ZRNLogger_Log(QStringLiteral("Error in ZRNCreateBitmapContextARGB: Memory not allocated!"));
    return {};
  }
  QImage context(static_cast<uchar*>(memory), int(width), int(height), qsizetype(bytesPerRow),
                 QImage::Format_ARGB32_Premultiplied, U_FreeContextMemory, memory);
  if (context.isNull()) {
    std::free(memory);
    ZRNLogger_Log(QStringLiteral("Error in ZRNCreateBitmapContextARGB: Context not created!"));
    return {};
  }
  return context;
}

QImage ZRNPosterImageFromSpec(const QString& path, const QVariantMap& editCommands) {
  if (!ZRNSrcClip::U_IsRegularFile(path, 256LL * 1024 * 1024)) return {};
  QImageReader reader(path);
  QImage picture = reader.read();
  if (picture.isNull()) return {};
  picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const int64_t W = ZRNSrcClip::U_Integer(editCommands.value(QStringLiteral("width")));
  const int64_t H = ZRNSrcClip::U_Integer(editCommands.value(QStringLiteral("height")));
  QImage poster = picture;
  if (W > 0 && H > 0 && QSize(int(std::min<int64_t>(W, kMaxContextSide)), int(std::min<int64_t>(H, kMaxContextSide))) != picture.size() &&
      W <= kMaxContextSide && H <= kMaxContextSide) {
    const double s = std::min(double(W) / picture.width(), double(H) / picture.height());
    poster = QImage(int(W), int(H), QImage::Format_ARGB32_Premultiplied);
    poster.fill(Qt::black);
    QPainter painter(&poster);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF size(picture.width() * s, picture.height() * s);
    painter.drawImage(QRectF((W - size.width()) / 2, (H - size.height()) / 2, size.width(), size.height()), picture);
  }
  // With fewer graphics or titles than one each, what there is is drawn.
  const QVariantList graphics = editCommands.value(QStringLiteral("graphics")).toList();
  if (!graphics.isEmpty())
    ZRNSrcClip::initWithDictionary<ZRNImageOverlayEdit>(graphics.first().toMap(), QString())->drawOnTopOfImage(poster);
  const QVariantList titles = editCommands.value(QStringLiteral("titles")).toList();
  if (!titles.isEmpty())
    ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(titles.first().toMap(), QString())->drawOnTopOfImage(poster);
  return ZRNCGImageFromNSImage(poster);
}
