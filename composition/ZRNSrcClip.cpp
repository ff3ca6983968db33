#include "composition/ZRNSrcClip.h"

#include "platform/foundation/Fmt.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdint>

ZRNSrcClip::ZRNSrcClip() = default;

int64_t ZRNSrcClip::U_Integer(const QVariant& value, int64_t fallback) {
  if (!value.isValid() || value.isNull()) return fallback;
  bool ok = false;
  if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
    const double d = value.toDouble();
    if (!std::isfinite(d)) return fallback;
    return int64_t(std::clamp(std::trunc(d), -9.0e18, 9.0e18));
  }
  if (value.typeId() == QMetaType::QString) {
    const double d = value.toString().trimmed().toDouble(&ok);
    return ok && std::isfinite(d) ? int64_t(std::clamp(std::trunc(d), -9.0e18, 9.0e18)) : 0;
  }
  const qlonglong v = value.toLongLong(&ok);
  return ok ? v : fallback;
}

double ZRNSrcClip::U_Double(const QVariant& value, double fallback) {
  if (!value.isValid() || value.isNull()) return fallback;
  bool ok = false;
  const double d = value.typeId() == QMetaType::QString ? value.toString().trimmed().toDouble(&ok) : value.toDouble(&ok);
  return ok && std::isfinite(d) ? d : (value.typeId() == QMetaType::QString ? 0.0 : fallback);
}

QString ZRNSrcClip::U_ResolvedPath(const QString& path) const {
  if (path.isEmpty() || m_baseDirectory.isEmpty() || path.startsWith(QLatin1Char('/'))) return path;
  return QDir(m_baseDirectory).filePath(path);
}

bool ZRNSrcClip::U_IsRegularFile(const QString& path, int64_t maxBytes) {
  const QFileInfo info(path);
  return info.isFile() && info.size() <= maxBytes;
}

QColor ZRNSrcClip::U_ColorFromRGB(int64_t rgb, double alpha) {
  QColor color;
  color.setRgbF(float(((rgb >> 16) & 0xFF) / 255.0), float(((rgb >> 8) & 0xFF) / 255.0), float((rgb & 0xFF) / 255.0),
                float(std::clamp(alpha, 0.0, 1.0)));
  return color;
}

void ZRNSrcClip::loadFromDictionary(const QVariantMap& d) {
  m_IDString = d.value(QStringLiteral("id")).toString();
  const QString movie = d.value(QStringLiteral("srcMovie")).toString();
  if (!movie.isEmpty()) m_assetKey = movie;
  m_start = U_Integer(d.value(QStringLiteral("start")));
  m_duration = U_Integer(d.value(QStringLiteral("duration")));
  m_srcStart = U_Integer(d.value(QStringLiteral("srcStart")));
  m_srcDuration = U_Integer(d.value(QStringLiteral("srcDuration")));
  if (d.contains(QStringLiteral("muteClip"))) m_discardAudio = d.value(QStringLiteral("muteClip")).toBool();
}

MediaTimeRange ZRNSrcClip::timeRangeForComposition(const AssetRef& composition) const {
  const MediaTime total = composition ? composition->duration() : kMediaTimeZero;
  const MediaTime start = MediaTimeMake(m_start, 1000);
  if (!(start < total)) return kMediaTimeRangeZero;
  const MediaTime end = MediaTimeMinimum(MediaTimeMake(m_start + m_duration, 1000), total);
  return MediaTimeRangeMake(start, end - start);
}

double ZRNSrcScaleEdit::rate() const {
  if (m_duration < 1 || m_srcDuration < 1) return 1.0;
  return double(m_duration) / double(m_srcDuration);
}

ZRNSrcBaseCAEdit::ZRNSrcBaseCAEdit() { m_placement = QStringLiteral("tl"); }

int ZRNSrcBaseCAEdit::alignmentForPlacement(const QString& placement) {
  static const char* const kCodes[] = {"tl", "tc", "tr", "ml", "mc", "mr", "bl", "bc", "br"};
  for (int i = 0; i < 9; ++i)
    if (placement == QLatin1String(kCodes[i])) return i + 1;
  return 1;
}

void ZRNSrcBaseCAEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNSrcClip::loadFromDictionary(d);
  const QVariantMap info = d.value(QStringLiteral("info")).toMap();
  m_placement = info.contains(QStringLiteral("placement")) ? info.value(QStringLiteral("placement")).toString() : QString();
  m_alignment = alignmentForPlacement(m_placement);
  m_margin = U_Integer(info.value(QStringLiteral("margin")));
  if (info.contains(QStringLiteral("backRGBColor"))) {
    const double alpha = U_Double(info.value(QStringLiteral("backOpacity")), 1.0);
    if (alpha > 0) m_backgroundColor = U_ColorFromRGB(U_Integer(info.value(QStringLiteral("backRGBColor"))), alpha);
  }
}

CALayerRef ZRNSrcBaseCAEdit::buildLayerForComposition(const AssetRef& composition, const QSizeF& size) {
  CALayerRef layer = CALayer::layer();
  layer->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
  layer->setContentsGravity(QString::fromLatin1(kCAGravityResizeAspect));
  layer->setOpacity(0.0f);
  layer->setPosition(QPointF(size.width() * 0.5, size.height() * 0.5));
  layer->setBounds(QRectF(QPointF(0, 0), size));
  layer->setGeometryFlipped(m_exporting);
  m_caLayer = layer;
  U_PrepareOverlayForFrameSize(size, size);
  m_caLayer->setMasksToBounds(true);
  if (m_animateInOut) layer->addAnimation(makeFadeInFadeOutAnimationForComposition(composition), U_FadeAnimationKey());
  else layer->setOpacity(1.0f);
  return layer;
}

void ZRNSrcBaseCAEdit::drawOnTopOfImage(QImage& image) { (void)image; }

void ZRNSrcBaseCAEdit::U_PrepareOverlayForFrameSize(const QSizeF& frameSize, const QSizeF& targetSize) {
  (void)frameSize;
  (void)targetSize;
}

QString ZRNSrcBaseCAEdit::U_FadeAnimationKey() const {
  return Fmt("0x%lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
}

CAKeyframeAnimation ZRNSrcBaseCAEdit::makeFadeInFadeOutAnimationForComposition(const AssetRef& composition) const {
  CAKeyframeAnimation fade = CAKeyframeAnimation::animationWithKeyPath(QStringLiteral("opacity"));
  fade.beginTime = m_start != 0 ? MediaTimeGetSeconds(MediaTimeMake(m_start, 1000)) : AVCoreAnimationBeginTimeAtZero;
  fade.duration = MediaTimeGetSeconds(timeRangeForComposition(composition).duration);
  fade.values = {m_exporting ? 0.0 : 0.9, 1.0, 1.0, 0.0};
  fade.keyTimes = {0.0, 0.01, 0.99, 1.0};
  fade.removedOnCompletion = false;
  return fade;
}

QPointF ZRNSrcBaseCAEdit::U_CalculatePositionForSize(const QSizeF& size, const QSizeF& frame, double scale) const {
  const double w = size.width(), h = size.height();
  const double W = frame.width() * scale, H = frame.height() * scale, M = double(m_margin) * scale;
  switch (m_alignment) {
    case 1: return {M + w / 2, H - M - h / 2};
    case 2: return {W / 2, H - M - h / 2};
    case 3: return {W - M - w / 2, H - M - h / 2};
    case 4: return {M + w / 2, H / 2};
    case 5: return {W / 2, H / 2};
    case 6: return {W - M - w / 2, H / 2};
    case 7: return {M + w / 2, M + h / 2};
    case 8: return {W / 2, M + h / 2};
    case 9: return {W - M - w / 2, M + h / 2};
    default: break;
  }
  double x = m_positionX.x() < W ? m_positionX.x() : W - 1;
  double y = m_positionX.y() < H ? m_positionX.y() : H - 1;
  x = std::max(0.0, x);
  y = std::max(0.0, y);
  if (m_alignment == 11) return {x + w / 2, y + h / 2};
  if (m_alignment == 12) return {x - w / 2, y + h / 2};
  return {w / 2, h / 2};
}
