#include "playback/ZRNSliderOverlayView.h"

#include "common/ZRNTimeFormatting.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace {
bool U_IsSet(const MediaTime& t) { return t.isNumeric() && MediaTimeCompare(t, kMediaTimeZero) >= 0; }
}  // namespace

ZRNSliderOverlayView::ZRNSliderOverlayView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
}

void ZRNSliderOverlayView::reset() {
  m_maxTime = MediaTime_ClearedMark();
  m_inTime = MediaTime_ClearedMark();
  m_outTime = MediaTime_ClearedMark();
  update();
}

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
