#include "composition/ZRNImageOverlayEdit.h"

#include "common/ZRNFileFunctions.h"

#include <QPainter>

#include <cmath>

namespace {
// Overlay pictures are small; a file beyond this is not read.
constexpr int64_t kMaxPictureFileBytes = 64 * 1024 * 1024;

bool finitePositive(double v) { return std::isfinite(v) && v > 0.0; }
bool usableSize(const QSizeF& s) { return finitePositive(s.width()) && finitePositive(s.height()); }

// A picture file as the overlays use it; a file that is not a readable picture gives a null image.
QImage U_ReadPicture(const QString& path) { return File_ReadPicture(path, kMaxPictureFileBytes); }
}  // namespace

void ZRNMatchOverlayEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNSrcBaseCAEdit::loadFromDictionary(d);
  const double opacity = U_Double(d.value(QStringLiteral("opacity")));
  if (opacity > 0) m_opacity = float(opacity);
}

MediaTimeRange ZRNMatchOverlayEdit::timeRangeForComposition(const AssetRef& composition) const {
  const MediaTime total = composition ? composition->duration() : kMediaTimeZero;
  const MediaTime start = MediaTimeMake(m_start, 1000);
  if (!(start < total)) return kMediaTimeRangeZero;
  return MediaTimeRangeMake(start, total - start);
}

void ZRNImageOverlayEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNMatchOverlayEdit::loadFromDictionary(d);
  const QVariantMap info = d.value(QStringLiteral("info")).toMap();
  m_imagePath = info.value(QStringLiteral("path")).toString();
  const double width = U_Double(info.value(QStringLiteral("targetWidth")));
  if (width > 0) m_targetWidth = float(width);
  if (!m_imagePath.isEmpty()) {
    m_imagePath = U_ResolvedPath(m_imagePath);
    m_image = U_ReadPicture(m_imagePath);
    m_imageSize = m_image.isNull() ? QSizeF() : QSizeF(m_image.size());
  }
}

bool ZRNImageOverlayEdit::U_HasPicture() const { return !m_image.isNull() && usableSize(m_imageSize); }

void ZRNImageOverlayEdit::drawOnTopOfImage(QImage& image) {
  if (!U_HasPicture() || image.isNull()) return;
  QSizeF size = m_imageSize;
  if (m_targetWidth > 0) size *= m_targetWidth / m_imageSize.width();
  // Placed by the alignment like the overlay's layer, in the picture's own y-upwards units.
  const QPointF centre = U_CalculatePositionForSize(size, QSizeF(image.size()), 1.0);
  const QRectF rect(centre.x() - size.width() / 2, image.height() - centre.y() - size.height() / 2, size.width(),
                    size.height());
  QPainter painter(&image);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.drawImage(rect, m_image);
}

void ZRNImageOverlayEdit::U_PrepareOverlayForFrameSize(const QSizeF& frameSize, const QSizeF& targetSize) {
  if (!m_caLayer) return;
  if (CALayerRef layer = makeImageLayerWithSize(frameSize, targetSize)) m_caLayer->addSublayer(layer);
}

CALayerRef ZRNImageOverlayEdit::makeImageLayerWithSize(const QSizeF& frameSize, const QSizeF& targetSize) {
  if (!U_HasPicture() || !usableSize(frameSize) || !usableSize(targetSize)) return nullptr;
  const double fw = frameSize.width(), fh = frameSize.height();
  const double tw = targetSize.width(), th = targetSize.height();
  const double iw = m_imageSize.width(), ih = m_imageSize.height();
  CALayerRef layer = CALayer::layer();
  layer->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
  layer->setGeometryFlipped(m_exporting);
  layer->setContents(m_image);
  layer->setOpacity(float(m_opacity));
  if (m_scaleToWidth) {
    double kx = tw / fw, ky = th / fh;
    if (m_targetWidth > 0) kx = ky = (m_targetWidth / iw) * (tw / fw);
    const QPointF c = U_CalculatePositionForSize(QSizeF(iw * kx, ih * kx), targetSize, kx);
    layer->setContentsGravity(QString::fromLatin1(kCAGravityResize));
    layer->setBounds(QRectF(0, 0, iw * kx, ih * ky));
    layer->setPosition(QPointF(iw * kx / 2 + c.x(), ih * ky / 2 + c.y()));
  } else if (m_scaleToFit) {
    const double k = std::min(th / ih, tw / iw);
    layer->setContentsGravity(QString::fromLatin1(kCAGravityResizeAspect));
    layer->setBounds(QRectF(0, 0, iw * k, ih * k));
    layer->setPosition(QPointF(iw * k / 2, ih * k / 2));
  } else if (m_alignTopLeft) {
    const bool frameSized = m_imageSize == frameSize;
    const double w = iw * tw / fw, h = ih * th / fh;
    layer->setContentsGravity(QString::fromLatin1(frameSized ? kCAGravityResize : kCAGravityResizeAspect));
    if (!m_exporting && !frameSized) {
      layer->setBounds(QRectF(0, th - h, w, h));
      layer->setPosition(QPointF(w / 2, th - h / 2));
    } else {
      layer->setBounds(QRectF(0, 0, w, h));
      layer->setPosition(QPointF(w / 2, h / 2));
    }
  }
  return layer;
}

ZRNBadgeOverlayEdit::ZRNBadgeOverlayEdit() { m_animateInOut = false; }

int ZRNBadgeOverlayEdit::positionForPlacement(const QString& placement) {
  if (placement == QLatin1String("tr")) return 3;
  if (placement == QLatin1String("bl")) return 7;
  if (placement == QLatin1String("br")) return 9;
  return 1;
}

void ZRNBadgeOverlayEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNImageOverlayEdit::loadFromDictionary(d);
  m_animateInOut = false;
  m_position = positionForPlacement(m_placement);
}

double ZRNBadgeOverlayEdit::U_ReferenceFactor(const QSizeF& frame) const {
  if (m_referenceSize == frame) return 1.0;
  if (m_targetDims.width() != 0 && m_referenceSize.width() != 0) return frame.width() / m_referenceSize.width();
  if (m_targetDims.height() != 0 && m_referenceSize.height() != 0) return frame.height() / m_referenceSize.height();
  return 1.0;
}

QPointF ZRNBadgeOverlayEdit::U_CalculatePositionForSize(const QSizeF& size, const QSizeF& frame, double scale) const {
  const double k = U_ReferenceFactor(frame);
  const double mx = m_margins.width() * scale * k, my = m_margins.height() * scale * k;
  const double w = size.width(), h = size.height(), W = frame.width(), H = frame.height();
  switch (m_position) {
    case 1: return {w * scale / 2 + mx, H - my - h * scale / 2};
    case 3: return {W - mx - w * scale / 2, H - my - h * scale / 2};
    case 7: return {w * scale / 2 + mx, h * scale / 2 + my};
    case 9: return {W - mx - w * scale / 2, h * scale / 2 + my};
    default: return {0, 0};
  }
}

CALayerRef ZRNBadgeOverlayEdit::makeImageLayerWithSize(const QSizeF& frameSize, const QSizeF& targetSize) {
  if (!U_HasPicture() || !usableSize(frameSize) || !usableSize(targetSize)) return nullptr;
  const double fw = frameSize.width(), fh = frameSize.height();
  const double tw = targetSize.width(), th = targetSize.height();
  const double iw = m_imageSize.width(), ih = m_imageSize.height();
  double f = U_ReferenceFactor(frameSize);
  double g = 1.0;
  if (m_targetDims.width() != 0) g = m_targetDims.width() / iw;
  else if (m_targetDims.height() != 0) g = m_targetDims.height() / ih;
  f *= g;
  const double s = std::min(th / fh, tw / fw);
  const QSizeF badge(iw * f, ih * f);
  if (!usableSize(badge) || !finitePositive(s)) return nullptr;
  m_imageSize = badge;
  CALayerRef layer = CALayer::layer();
  layer->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
  layer->setGeometryFlipped(m_exporting);
  layer->setContents(m_image);
  layer->setOpacity(float(m_opacity));
  layer->setPosition(U_CalculatePositionForSize(badge, targetSize, s));
  layer->setContentsGravity(QString::fromLatin1(kCAGravityResizeAspect));
  layer->setBounds(QRectF(0, 0, badge.width() * s, badge.height() * s));
  return layer;
}

void ZRNBadgeOverlayEdit::U_PrepareOverlayForFrameSize(const QSizeF& frameSize, const QSizeF& targetSize) {
  if (!m_caLayer) return;
  CALayerRef layer = makeImageLayerWithSize(frameSize, targetSize);
  if (!layer) return;
  // These constraints are the badge layer's own; they only take effect under a superlayer that lays
  // out by constraints, which the overlay layer does not.
  const double c = std::min(targetSize.width() / frameSize.width(), targetSize.height() / frameSize.height());
  const QString super = QStringLiteral("superlayer");
  layer->setConstraintLayoutManager(true);
  layer->addConstraint(CAConstraint::constraintWithAttribute(CAConstraintAttribute::MidY, super, CAConstraintAttribute::MidY));
  layer->addConstraint(CAConstraint::constraintWithAttribute(CAConstraintAttribute::MidX, super, CAConstraintAttribute::MidX));
  layer->addConstraint(
      CAConstraint::constraintWithAttribute(CAConstraintAttribute::Width, super, CAConstraintAttribute::Width, c, 0));
  layer->addConstraint(
      CAConstraint::constraintWithAttribute(CAConstraintAttribute::Height, super, CAConstraintAttribute::Height, c, 0));
  m_caLayer->addSublayer(layer);
}
