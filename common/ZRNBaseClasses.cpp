#include "common/ZRNBaseClasses.h"

#include <QAction>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

ZRNSizingWC::ZRNSizingWC(QWidget* parent) : ZRN_CommonInitWC<QMainWindow>(parent) {}

ZRNSizingWC::~ZRNSizingWC() = default;

bool ZRNSizingWC::validateMenuItem(const QAction* item) const {
  if (item && item->objectName() == QLatin1String("resizeToNaturalSize")) return !windowIsNaturalSize();
  return true;
}

void ZRNSizingWC::validateMenuItems(const QList<QAction*>& items) const {
  for (QAction* item : items) {
    if (item) item->setEnabled(validateMenuItem(item));
  }
}

namespace {
class ZRNDividerHandle : public QSplitterHandle {
 public:
  ZRNDividerHandle(Qt::Orientation orientation, ZRN_CommonInitSplitView* parent)
      : QSplitterHandle(orientation, parent), m_view(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), m_view->dividerColor());
  }

 private:
  ZRN_CommonInitSplitView* m_view;
};
}  // namespace

ZRN_CommonInitSplitView::ZRN_CommonInitSplitView(QWidget* parent) : QSplitter(parent) {}

ZRN_CommonInitSplitView::ZRN_CommonInitSplitView(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {}

QColor ZRN_CommonInitSplitView::dividerColor() const { return palette().color(QPalette::Mid); }

QSplitterHandle* ZRN_CommonInitSplitView::createHandle() { return new ZRNDividerHandle(orientation(), this); }

ZRNHyperlinkButton::ZRNHyperlinkButton(QWidget* parent) : ZRNHyperlinkButton(QString(), parent) {}

ZRNHyperlinkButton::ZRNHyperlinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
}

QSize ZRNHyperlinkButton::sizeHint() const {
  const QFontMetrics metrics = fontMetrics();
  const int room = metrics.height() / 2;
  return {metrics.horizontalAdvance(text()) + 2 * room, std::max(QPushButton::sizeHint().height(), metrics.height() + room)};
}

void ZRNHyperlinkButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
  // The link colour reads on the window's background in the light and the dark palettes alike; the
  // style's own focus frame is drawn in colours that a dark window hides.
  const QColor link = palette().color(group, isEnabled() ? QPalette::Link : QPalette::WindowText);
  if (hasFocus()) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(link, 1.5));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
  }
  QFont underlined = font();
  underlined.setUnderline(true);
  painter.setFont(underlined);
  painter.setPen(isDown() ? link.darker(130) : link);
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
}

ZRNAspectRatioBox::ZRNAspectRatioBox(QWidget* parent) : QWidget(parent) {
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void ZRNAspectRatioBox::setContentWidget(QWidget* content) {
  if (m_content == content) return;
  if (m_content) m_content->deleteLater();
  m_content = content;
  if (m_content) {
    m_content->setParent(this);
    m_content->show();
  }
  layoutContent();
}

void ZRNAspectRatioBox::updateMultiplier(double multiplier) {
  if (!(multiplier > 0.0) || !std::isfinite(multiplier) || multiplier == m_multiplier) return;
  m_multiplier = multiplier;
  updateGeometry();
  layoutContent();
}

int ZRNAspectRatioBox::heightForWidth(int width) const {
  return static_cast<int>(std::lround(width / m_multiplier));
}

void ZRNAspectRatioBox::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutContent();
}

void ZRNAspectRatioBox::layoutContent() {
  if (!m_content) return;
  const QSize box = size();
  int width = box.width();
  int height = static_cast<int>(std::lround(width / m_multiplier));
  if (height > box.height()) {
    height = box.height();
    width = static_cast<int>(std::lround(height * m_multiplier));
  }
  m_content->setGeometry((box.width() - width) / 2, (box.height() - height) / 2, width, height);
}
