#include "platform/layers/CALayer.h"

#include <algorithm>
#include <cmath>

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;

double attributeOf(const QRectF& frame, CAConstraintAttribute a) {
  switch (a) {
    case CAConstraintAttribute::MinX: return frame.left();
    case CAConstraintAttribute::MidX: return frame.center().x();
    case CAConstraintAttribute::MaxX: return frame.right();
    case CAConstraintAttribute::Width: return frame.width();
    case CAConstraintAttribute::MinY: return frame.top();
    case CAConstraintAttribute::MidY: return frame.center().y();
    case CAConstraintAttribute::MaxY: return frame.bottom();
    case CAConstraintAttribute::Height: return frame.height();
  }
  return 0.0;
}

bool isSize(CAConstraintAttribute a) { return a == CAConstraintAttribute::Width || a == CAConstraintAttribute::Height; }
}  // namespace

bool CAKeyframeAnimation::valueAtTime(double seconds, double* value) const {
  if (values.isEmpty() || !std::isfinite(seconds)) return false;
  const double begin = beginTime == AVCoreAnimationBeginTimeAtZero ? 0.0 : beginTime;
  if (!(duration > 0.0) || seconds < begin || seconds >= begin + duration) return false;
  const double local = (seconds - begin) / duration;
  QList<double> times = keyTimes;
  if (times.size() != values.size()) {
    times.clear();
    for (qsizetype i = 0; i < values.size(); ++i)
      times.append(values.size() == 1 ? 0.0 : double(i) / double(values.size() - 1));
  }
  if (local <= times.first()) {
    *value = values.first();
    return true;
  }
  for (qsizetype i = 1; i < times.size(); ++i) {
    if (local <= times[i]) {
      const double span = times[i] - times[i - 1];
      const double f = span > 0.0 ? (local - times[i - 1]) / span : 1.0;
      *value = values[i - 1] + (values[i] - values[i - 1]) * f;
      return true;
    }
  }
  *value = values.last();
  return true;
}

CALayerRef CALayer::layer() { return CALayerRef(new CALayer()); }

QString CALayer::name() const { Lock l(m_mutex); return m_name; }
void CALayer::setName(const QString& name) { Lock l(m_mutex); m_name = name; }
QRectF CALayer::bounds() const { Lock l(m_mutex); return m_bounds; }
void CALayer::setBounds(const QRectF& bounds) { Lock l(m_mutex); m_bounds = bounds; }
QPointF CALayer::position() const { Lock l(m_mutex); return m_position; }
void CALayer::setPosition(const QPointF& position) { Lock l(m_mutex); m_position = position; }

QRectF CALayer::frame() const {
  Lock l(m_mutex);
  const QSizeF s = m_bounds.size();
  return QRectF(m_position.x() - s.width() / 2, m_position.y() - s.height() / 2, s.width(), s.height());
}

void CALayer::setFrame(const QRectF& frame) {
  Lock l(m_mutex);
  m_bounds.setSize(frame.size());
  m_position = frame.center();
}

float CALayer::opacity() const { Lock l(m_mutex); return m_opacity; }
void CALayer::setOpacity(float opacity) { Lock l(m_mutex); m_opacity = opacity; }
bool CALayer::isHidden() const { Lock l(m_mutex); return m_hidden; }
void CALayer::setHidden(bool hidden) { Lock l(m_mutex); m_hidden = hidden; }
QImage CALayer::contents() const { Lock l(m_mutex); return m_contents; }
void CALayer::setContents(const QImage& image) { Lock l(m_mutex); m_contents = image; }
QString CALayer::contentsGravity() const { Lock l(m_mutex); return m_contentsGravity; }
void CALayer::setContentsGravity(const QString& gravity) { Lock l(m_mutex); m_contentsGravity = gravity; }
QColor CALayer::backgroundColor() const { Lock l(m_mutex); return m_backgroundColor; }
void CALayer::setBackgroundColor(const QColor& color) { Lock l(m_mutex); m_backgroundColor = color; }
bool CALayer::masksToBounds() const { Lock l(m_mutex); return m_masksToBounds; }
void CALayer::setMasksToBounds(bool masks) { Lock l(m_mutex); m_masksToBounds = masks; }
bool CALayer::isGeometryFlipped() const { Lock l(m_mutex); return m_geometryFlipped; }
void CALayer::setGeometryFlipped(bool flipped) { Lock l(m_mutex); m_geometryFlipped = flipped; }
unsigned CALayer::autoresizingMask() const { Lock l(m_mutex); return m_autoresizingMask; }
void CALayer::setAutoresizingMask(unsigned mask) { Lock l(m_mutex); m_autoresizingMask = mask; }

QList<CALayerRef> CALayer::sublayers() const { Lock l(m_mutex); return m_sublayers; }
CALayerRef CALayer::superlayer() const { Lock l(m_mutex); return m_superlayer.lock(); }

void CALayer::addSublayer(const CALayerRef& layer) {
  if (!layer || layer.get() == this) return;
  layer->removeFromSuperlayer();
  {
    Lock l(m_mutex);
    m_sublayers.append(layer);
  }
  Lock child(layer->m_mutex);
  layer->m_superlayer = weak_from_this();
}

void CALayer::removeFromSuperlayer() {
  CALayerRef super;
  {
    Lock l(m_mutex);
    super = m_superlayer.lock();
    m_superlayer.reset();
  }
  if (!super) return;
  Lock l(super->m_mutex);
  super->m_sublayers.removeIf([this](const CALayerRef& s) { return s.get() == this; });
}

bool CALayer::hasConstraintLayoutManager() const { Lock l(m_mutex); return m_constraintLayout; }
void CALayer::setConstraintLayoutManager(bool on) { Lock l(m_mutex); m_constraintLayout = on; }
QList<CAConstraint> CALayer::constraints() const { Lock l(m_mutex); return m_constraints; }
void CALayer::addConstraint(const CAConstraint& constraint) { Lock l(m_mutex); m_constraints.append(constraint); }

void CALayer::layoutSublayers() {
  Lock l(m_mutex);
  if (!m_constraintLayout) return;
  // Sizes first, then places, so that an edge constraint sees the layer's final size.
  for (int pass = 0; pass < 2; ++pass) {
    for (const CALayerRef& sub : m_sublayers) {
      for (const CAConstraint& c : sub->constraints()) {
        if (isSize(c.attribute) != (pass == 0)) continue;
        QRectF source;
        if (c.sourceName == QLatin1String("superlayer")) {
          source = m_bounds;
        } else {
          const auto it = std::find_if(m_sublayers.begin(), m_sublayers.end(), [&](const CALayerRef& s) {
            return s != sub && s->name() == c.sourceName;
          });
          if (it == m_sublayers.end()) continue;
          source = (*it)->frame();
        }
        const double v = attributeOf(source, c.sourceAttribute) * c.scale + c.offset;
        if (!std::isfinite(v)) continue;
        QRectF b = sub->bounds();
        QPointF p = sub->position();
        switch (c.attribute) {
          case CAConstraintAttribute::Width: b.setWidth(std::max(0.0, v)); break;
          case CAConstraintAttribute::Height: b.setHeight(std::max(0.0, v)); break;
          case CAConstraintAttribute::MinX: p.setX(v + b.width() / 2); break;
          case CAConstraintAttribute::MidX: p.setX(v); break;
          case CAConstraintAttribute::MaxX: p.setX(v - b.width() / 2); break;
          case CAConstraintAttribute::MinY: p.setY(v + b.height() / 2); break;
          case CAConstraintAttribute::MidY: p.setY(v); break;
          case CAConstraintAttribute::MaxY: p.setY(v - b.height() / 2); break;
        }
        sub->setBounds(b);
        sub->setPosition(p);
      }
    }
  }
}

void CALayer::addAnimation(const CAKeyframeAnimation& animation, const QString& key) {
  Lock l(m_mutex);
  m_animations.removeIf([&](const QPair<QString, CAKeyframeAnimation>& a) { return a.first == key; });
  m_animations.append({key, animation});
}

QStringList CALayer::animationKeys() const {
  Lock l(m_mutex);
  QStringList keys;
  for (const auto& a : m_animations) keys.append(a.first);
  return keys;
}

bool CALayer::animationForKey(const QString& key, CAKeyframeAnimation* animation) const {
  Lock l(m_mutex);
  for (const auto& a : m_animations) {
    if (a.first != key) continue;
    if (animation) *animation = a.second;
    return true;
  }
  return false;
}

void CALayer::removeAllAnimations() { Lock l(m_mutex); m_animations.clear(); }

float CALayer::presentationOpacityAtTime(double seconds) const {
  Lock l(m_mutex);
  float opacity = m_opacity;
  // The last running animation added wins, as later animations are applied on top.
  for (const auto& a : m_animations) {
    double v = 0.0;
    if (a.second.keyPath == QLatin1String("opacity") && a.second.valueAtTime(seconds, &v)) opacity = float(v);
  }
  return std::clamp(opacity, 0.0f, 1.0f);
}

std::shared_ptr<CATextLayer> CATextLayer::layer() { return std::shared_ptr<CATextLayer>(new CATextLayer()); }

QString CATextLayer::string() const { Lock l(m_mutex); return m_string; }
void CATextLayer::setString(const QString& text) { Lock l(m_mutex); m_string = text; }
QFont CATextLayer::font() const { Lock l(m_mutex); return m_font; }
void CATextLayer::setFont(const QFont& font) { Lock l(m_mutex); m_font = font; }
QColor CATextLayer::foregroundColor() const { Lock l(m_mutex); return m_foregroundColor; }
void CATextLayer::setForegroundColor(const QColor& color) { Lock l(m_mutex); m_foregroundColor = color; }
QString CATextLayer::alignmentMode() const { Lock l(m_mutex); return m_alignmentMode; }
void CATextLayer::setAlignmentMode(const QString& mode) { Lock l(m_mutex); m_alignmentMode = mode; }
