#include "platform/layers/LayerRenderer.h"

#include <QHash>
#include <QTextOption>

#include <cmath>
#include <mutex>

namespace {

// The part of a picture that is not fully transparent. Overlay pictures are often frame-sized with a
// small drawing in them; painting only that part keeps the cost per frame down. Cached by the picture's
// identity (a changed picture has a new key).
QRect visibleRect(const QImage& image) {
  if (image.isNull()) return {};
  if (!image.hasAlphaChannel()) return image.rect();
  static std::mutex mutex;
  static QHash<qint64, QRect> cache;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = cache.constFind(image.cacheKey());
    if (it != cache.constEnd()) return it.value();
  }
  const QImage argb = image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_ARGB32
                          ? image
                          : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  int left = argb.width(), right = -1, top = argb.height(), bottom = -1;
  for (int y = 0; y < argb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    int first = -1, last = -1;
    for (int x = 0; x < argb.width(); ++x) {
      if (qAlpha(line[x]) == 0) continue;
      if (first < 0) first = x;
      last = x;
    }
    if (first < 0) continue;
    left = std::min(left, first);
    right = std::max(right, last);
    top = std::min(top, y);
    bottom = y;
  }
  const QRect found = right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
  std::lock_guard<std::mutex> lock(mutex);
  if (cache.size() > 256) cache.clear();
  cache.insert(image.cacheKey(), found);
  return found;
}

bool finiteRect(const QRectF& r) {
  return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

// Where the picture goes inside the bounds, by the gravity.
QRectF contentsRect(const QRectF& bounds, const QSize& picture, const QString& gravity) {
  const double iw = picture.width(), ih = picture.height();
  if (iw <= 0 || ih <= 0) return {};
  if (gravity == QLatin1String(kCAGravityResizeAspect) || gravity == QLatin1String(kCAGravityResizeAspectFill)) {
    const double sx = bounds.width() / iw, sy = bounds.height() / ih;
    const double s = gravity == QLatin1String(kCAGravityResizeAspect) ? std::min(sx, sy) : std::max(sx, sy);
    const QSizeF size(iw * s, ih * s);
    return QRectF(bounds.center().x() - size.width() / 2, bounds.center().y() - size.height() / 2, size.width(),
                  size.height());
  }
  if (gravity == QLatin1String(kCAGravityCenter))
    return QRectF(bounds.center().x() - iw / 2, bounds.center().y() - ih / 2, iw, ih);
  return bounds;
}

// A layer whose geometry is not finite (a picture without pixels can make one) draws nothing.
bool finiteGeometry(const CALayer& layer) {
  const QPointF p = layer.position();
  return finiteRect(layer.bounds()) && std::isfinite(p.x()) && std::isfinite(p.y());
}

// The local-to-superlayer transform of a layer: its bounds' centre goes to its position, and a flipped
// layer turns its y axis over.
QTransform localTransform(const CALayer& layer) {
  const QRectF b = layer.bounds();
  const QPointF p = layer.position();
  const double f = layer.isGeometryFlipped() ? -1.0 : 1.0;
  const QPointF c = b.center();
  return QTransform(1, 0, 0, f, p.x() - c.x(), p.y() - f * c.y());
}

// Pictures and text are drawn upright whichever way the local y axis points on the target.
QTransform uprightIn(const QRectF& rect, const QTransform& toTarget) {
  if (toTarget.m22() >= 0) return toTarget;
  return QTransform(1, 0, 0, -1, 0, rect.top() + rect.bottom()) * toTarget;
}

void renderLayer(QPainter& painter, const CALayer& layer, const QTransform& parent, double parentOpacity,
                 double seconds, const CALayer* skip) {
  if (&layer == skip || layer.isHidden()) return;
  const double opacity = parentOpacity * layer.presentationOpacityAtTime(seconds);
  if (opacity <= 0.0) return;
  if (!finiteGeometry(layer)) return;
  const QRectF bounds = layer.bounds();
  const QTransform toTarget = localTransform(layer) * parent;
  painter.save();
  painter.setTransform(toTarget);
  if (layer.masksToBounds()) painter.setClipRect(bounds, Qt::IntersectClip);
  painter.setOpacity(opacity);
  const QColor background = layer.backgroundColor();
  if (background.isValid() && background.alpha() > 0) painter.fillRect(bounds, background);
  const QImage picture = layer.contents();
  if (!picture.isNull()) {
    const QRectF target = contentsRect(bounds, picture.size(), layer.contentsGravity());
    const QRect source = visibleRect(picture);
    if (!source.isEmpty() && !target.isEmpty() && finiteRect(target)) {
      const double sx = target.width() / picture.width(), sy = target.height() / picture.height();
      const QRectF part(target.left() + source.left() * sx, target.top() + source.top() * sy, source.width() * sx,
                        source.height() * sy);
      painter.setTransform(uprightIn(target, toTarget));
      painter.drawImage(part, picture, source);
      painter.setTransform(toTarget);
    }
  }
  if (layer.drawsText()) {
    const auto& text = static_cast<const CATextLayer&>(layer);
    const QString string = text.string();
    if (!string.isEmpty()) {
      QTextOption option;
      option.setWrapMode(QTextOption::WordWrap);
      const QString mode = text.alignmentMode();
      option.setAlignment(mode == QLatin1String(kCAAlignmentRight)    ? Qt::AlignRight
                          : mode == QLatin1String(kCAAlignmentCenter) ? Qt::AlignHCenter
                                                                      : Qt::AlignLeft);
      painter.setTransform(uprightIn(bounds, toTarget));
      painter.setFont(text.font());
      painter.setPen(text.foregroundColor());
      painter.drawText(bounds, string, option);
      painter.setTransform(toTarget);
    }
  }
  const_cast<CALayer&>(layer).layoutSublayers();
  for (const CALayerRef& sub : layer.sublayers()) renderLayer(painter, *sub, toTarget, opacity, seconds, skip);
  painter.restore();
}

bool drawsLayer(const CALayer& layer, double parentOpacity, double seconds, const CALayer* skip) {
  if (&layer == skip || layer.isHidden()) return false;
  const double opacity = parentOpacity * layer.presentationOpacityAtTime(seconds);
  if (opacity <= 0.0 || !finiteGeometry(layer)) return false;
  const QColor background = layer.backgroundColor();
  if (background.isValid() && background.alpha() > 0 && !layer.bounds().isEmpty()) return true;
  if (!visibleRect(layer.contents()).isEmpty() && !layer.bounds().isEmpty()) return true;
  if (layer.drawsText() && !static_cast<const CATextLayer&>(layer).string().isEmpty()) return true;
  for (const CALayerRef& sub : layer.sublayers())
    if (drawsLayer(*sub, opacity, seconds, skip)) return true;
  return false;
}

}  // namespace

void LayerRenderer_Render(QPainter& painter, const CALayerRef& root, const QSizeF& space, double seconds,
                          const CALayer* skip) {
  if (!root) return;
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.setRenderHint(QPainter::Antialiasing);
  // The space's y axis points up: its origin is the target's bottom-left corner.
  const QTransform space2target = QTransform(1, 0, 0, -1, 0, space.height()) * painter.transform();
  renderLayer(painter, *root, space2target, 1.0, seconds, skip);
  painter.restore();
}

void LayerRenderer_RenderOverImage(QImage& frame, const CALayerRef& root, double seconds, const CALayer* skip) {
  if (frame.isNull() || !root) return;
  QPainter painter(&frame);
  LayerRenderer_Render(painter, root, QSizeF(frame.size()), seconds, skip);
}

bool LayerRenderer_DrawsAtTime(const CALayerRef& root, double seconds, const CALayer* skip) {
  return root && drawsLayer(*root, 1.0, seconds, skip);
}

std::shared_ptr<CoreAnimationTool> CoreAnimationTool::videoCompositionCoreAnimationToolWithPostProcessingAsVideoLayer(
    const CALayerRef& videoLayer, const CALayerRef& parentLayer) {
  return std::shared_ptr<CoreAnimationTool>(new CoreAnimationTool(videoLayer, parentLayer));
}

namespace {
double U_Seconds(const MediaTime& time) { return time.isNumeric() ? MediaTimeGetSeconds(time) : 0.0; }
}  // namespace

bool CoreAnimationTool::prepareFrameAtTime(const MediaTime& time) {
  if (m_willRender) m_willRender(time);
  return LayerRenderer_DrawsAtTime(m_parentLayer, U_Seconds(time), m_videoLayer.get());
}

void CoreAnimationTool::compositeOntoFrame(QImage& frame, const MediaTime& time) const {
  // The frame already holds the picture the video layer stands for; only the overlays are painted.
  LayerRenderer_RenderOverImage(frame, m_parentLayer, U_Seconds(time), m_videoLayer.get());
}

