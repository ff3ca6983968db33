#include "composition/ZRNAVProjectFunctions.h"

#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "composition/ZRNImageOverlayEdit.h"
#include "composition/ZRNTitleEdit.h"
#include "platform/media/asset/ImageGenerator.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
// Larger contexts are refused: a hostile size must not allocate gigabytes.
constexpr int64_t kMaxContextSide = 16384;
}  // namespace

QImage ZRNCopyImageAtTime(const AssetRef& asset, const MediaTime& time, bool exact) {
  return ImageGenerator(asset).copyImageAtTime(time, exact);
}

QList<QVariantMap> ZRNChaptersOfAsset(const AssetRef& asset) {
  QList<QVariantMap> chapters;
  if (!asset) return chapters;
  const QString path = asset->URL().isLocalFile() ? asset->URL().toLocalFile() : asset->URL().toString();
  // The artwork is shared by every chapter.
  QImage artwork;
  for (const AssetChapter& ch : Asset_ReadChapters(path, &artwork)) {
    QVariantMap chapter;
    chapter.insert(QString::fromLatin1(kChapterStart), ch.start);
    if (ch.duration) chapter.insert(QString::fromLatin1(kChapterDuration), *ch.duration);
    if (ch.title) chapter.insert(QString::fromLatin1(kChapterTitle), *ch.title);
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
  const QImage picture = File_ReadPicture(path, 256LL * 1024 * 1024);
  if (picture.isNull()) return {};
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
