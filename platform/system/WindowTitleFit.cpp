#include "platform/system/WindowTitleFit.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QTextDocument>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
// The icon, the three buttons (minimise, maximise, close) and the margins of a common title bar.
constexpr int kTitleBarChrome = 150;
}  // namespace

int Window_TitleBarWidth(const QWidget* window) {
  QFont font = QApplication::font();
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(window->windowTitle()) + kTitleBarChrome;
}

void Window_FitTitleAndTexts(QWidget* window, int maxTextWidth) {
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (!label->wordWrap() || label->text().isEmpty()) continue;
    QTextDocument document;
    document.setDefaultFont(label->font());
    document.setDocumentMargin(0);
    if (label->textFormat() == Qt::PlainText || (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text())))
      document.setPlainText(label->text());
    else
      document.setHtml(label->text());
    const QMargins margins = label->contentsMargins();
    const int oneLine = static_cast<int>(std::ceil(document.idealWidth())) + margins.left() + margins.right() + 2 * label->margin();
    label->setMinimumWidth(std::max(label->minimumWidth(), std::min(oneLine, maxTextWidth)));
  }
  if (window->layout()) window->layout()->activate();
  window->setMinimumWidth(std::max(window->minimumWidth(), Window_TitleBarWidth(window)));
  if (window->width() < window->minimumWidth()) window->resize(window->minimumWidth(), window->height());
}
