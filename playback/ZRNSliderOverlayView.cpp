#include "playback/ZRNSliderOverlayView.h"

#include "common/ZRNTimeFormatting.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace {
bool U_IsSet(const MediaTime& t) { return t.isNumeric() && MediaTimeCompare(t, kMediaTimeZero) >= 0; }
QString U_Shown(const MediaTime& t) { return stringWithCMTime(t).trimmed(); }
}  // namespace

ZRNSliderOverlayView::ZRNSliderOverlayView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  U_Describe();
}

void ZRNSliderOverlayView::setMaxTime(const MediaTime& t) { m_maxTime = t; }

void ZRNSliderOverlayView::setInTime(const MediaTime& t) {
  m_inTime = t;
  U_Describe();
}

void ZRNSliderOverlayView::setOutTime(const MediaTime& t) {
  m_outTime = t;
  U_Describe();
}

void ZRNSliderOverlayView::reset() {
  m_maxTime = MediaTime_ClearedMark();
  m_inTime = MediaTime_ClearedMark();
  m_outTime = MediaTime_ClearedMark();
  U_Describe();
  update();
}

QString ZRNSliderOverlayView::describedMarks() const {
  const bool in = U_IsSet(m_inTime);
  const bool out = U_IsSet(m_outTime);
  if (in && out)
    return tr("In point %1, out point %2, %3 selected")
        .arg(U_Shown(m_inTime), U_Shown(m_outTime), U_Shown(MediaTimeSubtract(m_outTime, m_inTime)));
  if (in) return tr("In point %1").arg(U_Shown(m_inTime));
  if (out) return tr("Out point %1").arg(U_Shown(m_outTime));
  return tr("No in or out point");
}

// A listener hears the marks that the band and the flags show.
void ZRNSliderOverlayView::U_Describe() { setAccessibleDescription(describedMarks()); }

void ZRNSliderOverlayView::paintEvent(QPaintEvent*) {
  const double maxSeconds = MediaTimeGetSeconds(m_maxTime);
  // Marks cannot be placed before the duration is known.
  if (!m_maxTime.isNumeric() || maxSeconds <= 0) return;
  const double w = width();
  const double h = height();
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  // Geometry is worked out with y measured up from the bottom edge (top = h), then flipped for Qt.
  auto flipY = [h](double y) { return h - y; };
  const double top = h;

  if (U_IsSet(m_inTime) && U_IsSet(m_outTime)) {
    double xIn = MediaTimeGetSeconds(m_inTime) / maxSeconds * w;
    xIn += MediaTimeCompare(m_inTime, kMediaTimeZero) > 0 ? -1.0 : 1.0;
    const double xOut = MediaTimeCompare(m_outTime, m_maxTime) > 0 ? w - 1.0
                                                                    : MediaTimeGetSeconds(m_outTime) / maxSeconds * w - 1.0;
    const double bandBottom = top - 24.0;
    const QRectF band(xIn, flipY(bandBottom + 23.0), xOut - xIn, 23.0);
    QColor fill = m_handleColor;
    fill.setAlphaF(0.3f);
    QColor stroke = m_handleColor;
    stroke.setAlphaF(0.7f);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(band, 2, 2);
    p.setPen(QPen(stroke, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(band, 2, 2);

    const QString label = cmtimeAsTimeStamp(MediaTimeSubtract(m_outTime, m_inTime), QStringLiteral(":"));
    QFont font = this->font();
    font.setBold(true);
    font.setPointSizeF(9);
    const QRectF size = QFontMetricsF(font).boundingRect(QRectF(0, 0, 3000, 120), Qt::AlignLeft | Qt::AlignTop, label);
    if (band.width() > size.width()) {
      const double x = xIn + (band.width() - size.width()) / 2.0;
      const double y = bandBottom + (23.0 - size.height()) / 2.0 - 4.0;
      p.setFont(font);
      p.setPen(QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f));
      p.drawText(QRectF(x, flipY(y + size.height()), size.width(), size.height()), Qt::AlignLeft | Qt::AlignTop, label);
    }
    return;
  }

  QColor bar = m_handleColor;
  bar.setAlphaF(0.7f);
  p.setPen(Qt::NoPen);
  auto triangle = [&](QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.moveTo(a.x(), flipY(a.y()));
    path.lineTo(b.x(), flipY(b.y()));
    path.lineTo(c.x(), flipY(c.y()));
    path.closeSubpath();
    p.fillPath(path, m_handleColor);
  };
  if (U_IsSet(m_inTime)) {
    double x = MediaTimeGetSeconds(m_inTime) / maxSeconds * (w - 8.0) + 4.0 - 3.0;
    p.fillRect(QRectF(x, flipY(top), 3.0, 24.0), bar);
    x += 1.0;
    triangle({x, top}, {x + 6, top}, {x, top - 6});
    triangle({x, top - 24}, {x + 6, top - 24}, {x, top - 18});
  }
  if (U_IsSet(m_outTime)) {
    double x = MediaTimeGetSeconds(m_outTime) / maxSeconds * (w - 8.0) + 4.0 + 3.0;
    p.fillRect(QRectF(x - 3.0, flipY(top), 3.0, 24.0), bar);
    x -= 1.0;
    triangle({x, top}, {x - 6, top}, {x, top - 6});
    triangle({x, top - 24}, {x - 6, top - 24}, {x, top - 18});
  }
}
