#include "common/ZRNDrawnViews.h"

#include "common/ZRNImageTint.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>

#include <cmath>

QColor ZRN_WhiteColor(double white, double alpha) { return QColor::fromRgbF(white, white, white, alpha); }

namespace {

double U_Cut(double value) { return std::trunc(value); }

double U_Length(const QPointF& v) { return std::hypot(v.x(), v.y()); }

// Qt's angles run counter-clockwise with y pointing down.
double U_AngleOf(const QPointF& v) { return std::atan2(-v.y(), v.x()) * 180.0 / M_PI; }

// The arc of `radius` that turns from the line (current point -> corner) onto the line (corner -> to):
// a straight piece up to the first tangent point, then the arc to the second.
void U_ArcFromPoint(QPainterPath& path, const QPointF& corner, const QPointF& to, double radius) {
  const QPointF from = path.currentPosition();
  const QPointF a = from - corner;
  const QPointF b = to - corner;
  const double la = U_Length(a);
  const double lb = U_Length(b);
  if (la <= 0 || lb <= 0 || radius <= 0) {
    path.lineTo(corner);
    return;
  }
  const QPointF ua = a / la;
  const QPointF ub = b / lb;
  const double cosTheta = std::clamp(ua.x() * ub.x() + ua.y() * ub.y(), -1.0, 1.0);
  const double theta = std::acos(cosTheta);
  if (theta <= 1e-9 || std::abs(theta - M_PI) <= 1e-9) {
    path.lineTo(corner);
    return;
  }
  const double tangent = radius / std::tan(theta / 2.0);
  const QPointF t1 = corner + ua * tangent;
  const QPointF t2 = corner + ub * tangent;
  QPointF bisector = ua + ub;
  bisector /= U_Length(bisector);
  const QPointF centre = corner + bisector * (radius / std::sin(theta / 2.0));
  path.lineTo(t1);
  const double start = U_AngleOf(t1 - centre);
  double sweep = U_AngleOf(t2 - centre) - start;
  while (sweep > 180.0) sweep -= 360.0;
  while (sweep <= -180.0) sweep += 360.0;
  path.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), start, sweep);
}

}  // namespace

QPainterPath ZRN_RoundedPathForRect(const QRectF& rect, double radius) {
  const double x = rect.x();
  const double y = rect.y();
  const double midX = U_Cut(x + rect.width() / 2.0);
  const double maxX = U_Cut(x + rect.width());
  const double midY = U_Cut(y + rect.height() / 2.0);
  const double maxY = U_Cut(y + rect.height());
  QPainterPath path;
  path.moveTo(midX, U_Cut(y));
  U_ArcFromPoint(path, QPointF(maxX, U_Cut(y)), QPointF(maxX, midY), radius);
  U_ArcFromPoint(path, QPointF(maxX, maxY), QPointF(midX, maxY), radius);
  U_ArcFromPoint(path, QPointF(U_Cut(x), maxY), QPointF(U_Cut(x), midY), radius);
  U_ArcFromPoint(path, QPointF(x, y), QPointF(midX, U_Cut(y)), radius);
  path.closeSubpath();
  return path;
}

// Separators

LineView::LineView(QWidget* parent) : ZRN_CommonInitView(parent), m_lineColor(ZRN_WhiteColor(0.8)) {}

void LineView::setLineColor(const QColor& color) {
  m_lineColor = color;
  update();
}

void LineView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), m_lineColor);
}

Gray50LineView::Gray50LineView(QWidget* parent) : LineView(parent) { setLineColor(ZRN_WhiteColor(0.4)); }
Gray71LineView::Gray71LineView(QWidget* parent) : LineView(parent) { setLineColor(ZRN_WhiteColor(0.71)); }
Gray10LineView::Gray10LineView(QWidget* parent) : LineView(parent) { setLineColor(ZRN_WhiteColor(0.1)); }
BlackLineView::BlackLineView(QWidget* parent) : LineView(parent) { setLineColor(ZRN_WhiteColor(0.0)); }
Gray40LineView::Gray40LineView(QWidget* parent) : LineView(parent) { setLineColor(ZRN_WhiteColor(0.4)); }
ZRNDottedLineView::ZRNDottedLineView(QWidget* parent) : LineView(parent) { setLineColor(ZRN_WhiteColor(0.71)); }

void ZRNDottedLineView::paintEvent(QPaintEvent*) {
  const QRectF bounds = rect();
  const double x = bounds.x();
  const double y = bounds.y();
  const double w = bounds.width();
  const double h = bounds.height();
  const bool vertical = h > w;
  const double lw = vertical ? w : h;
  if (lw <= 0) return;
  const QPointF start(x + lw / 2.0, y + lw / 2.0);
  const QPointF end = vertical ? QPointF(start.x(), start.y() + h - lw) : QPointF(start.x() + w - lw, start.y());
  QPen pen(lineColor());
  pen.setWidthF(lw);
  pen.setCapStyle(Qt::FlatCap);
  // Qt counts dashes in line widths: one width on, two off, starting one width into the pattern.
  pen.setDashPattern({1.0, 2.0});
  pen.setDashOffset(1.0);
  QPainter painter(this);
  painter.setPen(pen);
  painter.drawLine(start, end);
}

// Boxes

ZRNRoundedView::ZRNRoundedView(QWidget* parent)
    : ZRN_CommonInitView(parent), m_fillColor(ZRN_WhiteColor(0.0, 0.9)), m_strokeColor(ZRN_WhiteColor(2.0 / 3.0)) {}

void ZRNRoundedView::setFillColor(const QColor& color) {
  if (color == m_fillColor) return;
  m_fillColor = color;
  update();
}

void ZRNRoundedView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (m_superBackColor.isValid()) painter.fillRect(rect(), m_superBackColor);
  // The shape is the whole view even when only part of it is repainted (a progress bar above it redraws
  // often): a shape cut to the repainted part would show rounded corners in the middle of the view.
  QRectF shape = rect();
  // Inset by half the outline so that the outline stays inside the rectangle.
  if (m_strokeWidth > 0) shape.adjust(m_strokeWidth / 2.0, m_strokeWidth / 2.0, -m_strokeWidth / 2.0, -m_strokeWidth / 2.0);
  const QPainterPath path = ZRN_RoundedPathForRect(shape, m_cornerRadius);
  if (m_fillColor.isValid()) painter.fillPath(path, m_fillColor);
  if (m_strokeWidth > 0) {
    QPen pen(m_strokeColor);
    pen.setWidthF(m_strokeWidth);
    painter.strokePath(path, pen);
  }
}

ZRN_FramedView::ZRN_FramedView(QWidget* parent)
    : ZRN_CommonInitView(parent), m_backgroundColor(ZRN_WhiteColor(0.0, 0.9)), m_frameColor(Qt::black) {}

void ZRN_FramedView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRectF bounds = rect();
  if (m_backgroundColor.isValid()) {
    if (m_cornerRadius > 1.0f) {
      painter.setRenderHint(QPainter::Antialiasing);
      painter.fillPath(ZRN_RoundedPathForRect(bounds, m_cornerRadius), m_backgroundColor);
      painter.setRenderHint(QPainter::Antialiasing, false);
    } else {
      painter.fillRect(bounds, m_backgroundColor);
    }
  }
  // The frame stays square even around a rounded fill, and lies inside the bounds.
  if (m_frameWidth > 0 && m_frameColor.isValid()) {
    const double fw = m_frameWidth;
    painter.fillRect(QRectF(bounds.x(), bounds.y(), bounds.width(), fw), m_frameColor);
    painter.fillRect(QRectF(bounds.x(), bounds.bottom() - fw, bounds.width(), fw), m_frameColor);
    painter.fillRect(QRectF(bounds.x(), bounds.y() + fw, fw, bounds.height() - 2 * fw), m_frameColor);
    painter.fillRect(QRectF(bounds.right() - fw, bounds.y() + fw, fw, bounds.height() - 2 * fw), m_frameColor);
  }
}

// Badges

ZRNBaseBadgeView::ZRNBaseBadgeView(QWidget* parent)
    : ZRN_CommonInitView(parent), m_backColor(ZRN_WhiteColor(0.4, 0.6)), m_lineColor(ZRN_WhiteColor(0.85)) {}

ZRNTypeBadgeView::ZRNTypeBadgeView(QWidget* parent) : ZRNBaseBadgeView(parent) {}

void ZRNTypeBadgeView::setTitle(const QString& title) {
  if (title == m_title) return;
  m_title = title;
  update();
}

void ZRNTypeBadgeView::setHidden(bool hidden) {
  ZRNBaseBadgeView::setHidden(hidden);
  update();
}

QFont ZRNTypeBadgeView::titleFont() const {
  QFont font = this->font();
  font.setBold(true);
  font.setPointSizeF(m_fontSize);
  return font;
}

QColor ZRNTypeBadgeView::titleDrawColor() const { return m_titleColor.isValid() ? m_titleColor : lineColor(); }

void ZRNTypeBadgeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF b = rect();
  const double inset = lineWidth() / 2.0;
  const QRectF r = b.adjusted(inset, inset, -inset, -inset);
  if (backColor().isValid()) {
    QPainterPath back;
    back.addRoundedRect(b, cornerRadius(), cornerRadius());
    painter.fillPath(back, backColor());
  }
  auto strokeOutline = [&] {
    QPainterPath outline;
    outline.addRoundedRect(r, cornerRadius(), cornerRadius());
    QPen pen(lineColor());
    pen.setWidthF(lineWidth());
    painter.strokePath(outline, pen);
  };
  if (!m_hasPicture) {
    if (!lineColor().isValid()) return;
    if (lineWidth() > 0) strokeOutline();
    if (m_title.isEmpty()) return;
    const QFont font = titleFont();
    const QRectF text = QFontMetricsF(font).boundingRect(QRectF(0, 0, 3000, 120), Qt::AlignLeft | Qt::AlignTop, m_title);
    // The shift moves the title up, as a baseline shift does on screen.
    const QPointF origin(r.x() + (r.width() - text.width()) / 2.0, r.y() - m_baselineDelta + (r.height() - text.height()) / 2.0);
    painter.setFont(font);
    painter.setPen(titleDrawColor());
    painter.drawText(QRectF(origin, text.size()), Qt::AlignLeft | Qt::AlignTop, m_title);
    return;
  }
  if (lineColor().isValid() && lineWidth() > 0) strokeOutline();
  // Hidden on purpose, not merely not shown yet (as a badge being drawn off screen is).
  const bool hidden = isHidden() && testAttribute(Qt::WA_WState_ExplicitShowHide);
  if (hidden || m_badgeImage.isNull()) return;
  const QImage picture = m_badgeColor.isValid() ? ksu5ImageTintedWithColor(m_badgeImage, m_badgeColor) : m_badgeImage;
  QRectF target = r;
  // A square picture keeps its shape: the longer side is cut to the shorter, centred.
  if (picture.width() == picture.height()) {
    if (target.width() > target.height())
      target = QRectF(target.x() + (target.width() - target.height()) / 2.0, target.y(), target.height(), target.height());
    else if (target.height() > target.width())
      target = QRectF(target.x(), target.y() + (target.height() - target.width()) / 2.0, target.width(), target.width());
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, picture);
}
