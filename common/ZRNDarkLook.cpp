#include "common/ZRNDarkLook.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProxyStyle>
#include <QRadioButton>
#include <QStyleOption>
#include <QWidget>

namespace {

// Marks the window whose pop-ups take its palette.
constexpr const char* kDarkLookProperty = "ZRNDarkLook";

// Windows opened from a dark window (the list of a pop-up button, a context menu) are windows of their
// own, to which Qt does not hand the parent's palette: they take it when they are shown.
class DarkPopupFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show || !watched->isWidgetType()) return false;
    auto* popup = static_cast<QWidget*>(watched);
    if (popup->windowType() != Qt::Popup) return false;
    for (QWidget* w = popup->parentWidget(); w; w = w->parentWidget()) {
      if (!w->property(kDarkLookProperty).toBool()) continue;
      if (popup->palette() != w->palette()) popup->setPalette(w->palette());
      // A pop-up button's list draws its items as menu items, with the menu palette under every colour
      // the list did not set itself: the list is given the colours itself.
      // (Set even when its colours already match: what counts is that the list sets them.)
      for (QAbstractItemView* list : popup->findChildren<QAbstractItemView*>()) list->setPalette(w->palette());
      break;
    }
    return false;
  }
};

// Radio buttons and check boxes as the dark windows want them: the desktop style draws their rings in a
// shade darker than the window, which on a dark window cannot be seen.
class DarkIndicatorStyle : public QProxyStyle {
 public:
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const override {
    if (element != PE_IndicatorRadioButton && element != PE_IndicatorCheckBox) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    const bool enabled = option->state & State_Enabled;
    const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
    QColor ring = option->palette.color(group, QPalette::WindowText);
    if (enabled) ring.setAlphaF(0.85);
    const QColor mark = option->palette.color(group, QPalette::Text);
    const int side = std::min(option->rect.width(), option->rect.height());
    QRectF box(0, 0, side, side);
    box.moveCenter(QRectF(option->rect).center());
    box.adjust(1, 1, -1, -1);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(ring, 1.5));
    painter->setBrush(option->palette.brush(group, (option->state & State_Sunken) ? QPalette::Button : QPalette::Base));
    if (element == PE_IndicatorRadioButton) {
      painter->drawEllipse(box);
      if (option->state & State_On) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(mark);
        painter->drawEllipse(box.center(), box.width() * 0.23, box.height() * 0.23);
      }
    } else {
      painter->drawRoundedRect(box, 2, 2);
      painter->setPen(QPen(mark, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      const QRectF in = box.adjusted(3, 3, -3, -3);
      if (option->state & State_On) {
        QPainterPath tick;
        tick.moveTo(in.left(), in.center().y());
        tick.lineTo(in.left() + in.width() * 0.4, in.bottom());
        tick.lineTo(in.right(), in.top());
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(tick);
      } else if (option->state & State_NoChange) {
        painter->drawLine(QPointF(in.left(), in.center().y()), QPointF(in.right(), in.center().y()));
      }
    }
    painter->restore();
  }
};

}  // namespace

QPalette ZRN_DarkPalette(const QPalette& base) {
  QPalette dark = base;
  const QColor window(0x2b, 0x2b, 0x2d), field(0x1e, 0x1e, 0x20), text(Qt::white), dimmed(255, 255, 255, 110);
  const QColor button(0x45, 0x45, 0x48), disabledButton(0x36, 0x36, 0x39);
  // Dimmed, yet read on every disabled box (3:1 at least).
  const QColor disabledText(255, 255, 255, 150);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    dark.setColor(group, QPalette::Window, window);
    dark.setColor(group, QPalette::WindowText, text);
    dark.setColor(group, QPalette::Base, field);
    dark.setColor(group, QPalette::AlternateBase, window);
    dark.setColor(group, QPalette::Text, text);
    dark.setColor(group, QPalette::Button, button);
    dark.setColor(group, QPalette::ButtonText, text);
    dark.setColor(group, QPalette::Light, button.lighter(150));
    dark.setColor(group, QPalette::Midlight, button.lighter(120));
    dark.setColor(group, QPalette::Mid, QColor(0x46, 0x46, 0x46));
    dark.setColor(group, QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    dark.setColor(group, QPalette::Shadow, Qt::black);
    dark.setColor(group, QPalette::ToolTipBase, field);
    dark.setColor(group, QPalette::ToolTipText, text);
    dark.setColor(group, QPalette::Highlight, QColor(0x26, 0x5a, 0xb4));
    dark.setColor(group, QPalette::HighlightedText, text);
    dark.setColor(group, QPalette::PlaceholderText, dimmed);
    dark.setColor(group, QPalette::Link, QColor(0x6c, 0xa6, 0xff));
  }
  // Disabled: the same dark boxes, a little flatter, with dimmed text. Left to the desktop's palette,
  // these are light boxes, and the dimmed white text on them cannot be read.
  dark.setColor(QPalette::Disabled, QPalette::Window, window);
  dark.setColor(QPalette::Disabled, QPalette::Base, field);
  dark.setColor(QPalette::Disabled, QPalette::AlternateBase, window);
  dark.setColor(QPalette::Disabled, QPalette::Button, disabledButton);
  dark.setColor(QPalette::Disabled, QPalette::Light, disabledButton.lighter(130));
  dark.setColor(QPalette::Disabled, QPalette::Midlight, disabledButton.lighter(115));
  dark.setColor(QPalette::Disabled, QPalette::Mid, QColor(0x3c, 0x3c, 0x3c));
  dark.setColor(QPalette::Disabled, QPalette::Dark, QColor(0x18, 0x18, 0x1a));
  dark.setColor(QPalette::Disabled, QPalette::Shadow, Qt::black);
  dark.setColor(QPalette::Disabled, QPalette::Highlight, disabledButton);
  dark.setColor(QPalette::Disabled, QPalette::ToolTipBase, field);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText,
                                   QPalette::ToolTipText})
    dark.setColor(QPalette::Disabled, role, disabledText);
  dark.setColor(QPalette::Disabled, QPalette::PlaceholderText, dimmed);
  return dark;
}

QStyle* ZRN_DarkIndicatorStyle() {
  static QPointer<QStyle> style;
  if (!style) {
    style = new DarkIndicatorStyle;
    style->setParent(qApp);
  }
  return style;
}

void ZRN_ApplyDarkLook(QWidget* window, const QPalette& base) {
  static QPointer<DarkPopupFilter> filter;
  if (!filter && qApp) {
    filter = new DarkPopupFilter(qApp);
    qApp->installEventFilter(filter);
  }
  window->setPalette(ZRN_DarkPalette(base));
  window->setProperty(kDarkLookProperty, true);
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
    if (qobject_cast<QRadioButton*>(button) || qobject_cast<QCheckBox*>(button)) button->setStyle(ZRN_DarkIndicatorStyle());
}
