#include "common/ZRN_InfoPopoverVC.h"

#include "common/ZRNAccessibility.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLayout>
#include <QScreen>
#include <QIcon>
#include <QTextDocument>
#include <QVBoxLayout>

#include "common/ZRNDrawnViews.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kPopoverTextWidth = 360;
}

ZRN_InfoPopoverVC::ZRN_InfoPopoverVC(const QString& layoutName, QWidget* parent) : ZRN_CommonInitViewC(parent) {
  setObjectName(layoutName);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(4);
  m_theWebView = new QTextBrowser(this);
  m_theWebView->setObjectName(QStringLiteral("theWebView"));
  m_theWebView->setAccessibleName(QStringLiteral("Session Info"));
  ZRNAccessible_ExposePlainText(m_theWebView);
  m_theWebView->setFrameShape(QFrame::NoFrame);
  // No background of its own: the popover's shows through.
  m_theWebView->viewport()->setAutoFillBackground(false);
  m_theWebView->setAttribute(Qt::WA_TranslucentBackground);
  m_theWebView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_theWebView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_theWebView->setOpenLinks(false);
  m_theWebView->setFixedWidth(kPopoverTextWidth);
  m_theWebView->setSearchPaths({QString::fromLatin1(kZRNInfoPopupResourceFolder)});
  layout->addWidget(m_theWebView, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  m_actionButton = new QPushButton(this);
  m_actionButton->setObjectName(QStringLiteral("actionButton"));
  m_actionButton->setIcon(QIcon(QStringLiteral(":/images/thincircle_rightarrow.png")));
  m_actionButton->setFlat(true);
  m_actionButton->setToolTip(QStringLiteral("Show in File Manager"));
  m_actionButton->setAccessibleName(QStringLiteral("Show in File Manager"));
  buttons->addWidget(m_actionButton);
  layout->addLayout(buttons);
}

void ZRN_InfoPopoverVC::setActionTo(std::function<void()> action, QObject* target) {
  if (m_actionConnection) disconnect(m_actionConnection);
  if (action) m_actionConnection = connect(m_actionButton, &QPushButton::clicked, target ? target : this, std::move(action));
}

void ZRN_InfoPopoverVC::setActionTitle(const QString& title) {
  m_actionButton->setToolTip(title);
  m_actionButton->setAccessibleName(title);
}

void ZRN_InfoPopoverVC::enableActionButton(bool enable) { m_actionButton->setEnabled(enable); }

void ZRN_InfoPopoverVC::setWebViewPsaxnoTo(const QString& html) {
  if (!m_theWebView) return;
  m_theWebView->setHtml(html);
  webViewDidFinishLoad();
}

double ZRN_InfoPopoverVC::textWidth() const {
  if (!m_theWebView) return 0;
  QTextDocument* document = m_theWebView->document();
  document->setTextWidth(m_theWebView->contentsRect().width());
  return document->size().width();
}

double ZRN_InfoPopoverVC::textHeight() const {
  if (!m_theWebView) return 0;
  QTextDocument* document = m_theWebView->document();
  document->setTextWidth(m_theWebView->contentsRect().width());
  return document->size().height() + 20.0;
}

void ZRN_InfoPopoverVC::webViewDidFinishLoad() {
  QTextDocument* document = m_theWebView->document();
  document->setTextWidth(m_theWebView->contentsRect().width());
  m_theWebView->setFixedHeight(static_cast<int>(std::ceil(document->size().height())));
  emit didFinishLoad();
}

QFrame* ZRN_MakeInfoPopover(QWidget* parent, ZRN_InfoPopoverVC* content, const QString& objectName,
                            const QString& accessibleName) {
  // No window-manager frame: the popover's edge is its own, so where it is placed is where it shows.
  auto* popover = new QFrame(parent, Qt::Popup | Qt::FramelessWindowHint);
  popover->setObjectName(objectName);
  popover->setAccessibleName(accessibleName);
  popover->setFrameShape(QFrame::StyledPanel);
  // Dark whatever the window under it is: the style sheet's light text needs it, and so do the
  // text view's own colours (Text) and the button's (ButtonText).
  QPalette palette = popover->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Window, ZRN_WhiteColor(0.15));
    palette.setColor(group, QPalette::Base, ZRN_WhiteColor(0.15));
    palette.setColor(group, QPalette::Button, ZRN_WhiteColor(0.25));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      palette.setColor(group, role, Qt::white);
  }
  palette.setColor(QPalette::Disabled, QPalette::Window, ZRN_WhiteColor(0.15));
  palette.setColor(QPalette::Disabled, QPalette::Button, ZRN_WhiteColor(0.2));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(QPalette::Disabled, role, ZRN_WhiteColor(0.6));
  popover->setPalette(palette);
  popover->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(popover);
  layout->setContentsMargins(0, 0, 0, 0);
  content->setParent(popover);
  // The text is read out under the popover's own name.
  if (content->theWebView()) content->theWebView()->setAccessibleName(accessibleName);
  layout->addWidget(content);
  return popover;
}

void ZRN_PlaceInfoPopover(QFrame* popover, ZRN_InfoPopoverVC* content, QWidget* anchor) {
  QTextBrowser* text = content ? content->theWebView() : nullptr;
  if (text) text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The style's frame and margins count in the size: polished before it is measured.
  popover->ensurePolished();
  popover->adjustSize();
  const QScreen* screen = anchor ? anchor->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect();
  // Too tall for the screen: the text gives up what is missing and scrolls.
  if (text && area.isValid() && popover->height() > area.height()) {
    // The text's fixed height is its document's (set when it was loaded).
    text->setFixedHeight(std::max(40, text->maximumHeight() - (popover->height() - area.height())));
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The layouts keep the sizes they measured before: measured again.
    if (content->layout()) content->layout()->invalidate();
    content->updateGeometry();
    if (popover->layout()) popover->layout()->invalidate();
    popover->adjustSize();
  }
  QPoint position;
  if (anchor) {
    const QPoint below = anchor->mapToGlobal(QPoint(anchor->width() / 2 - popover->width() / 2, anchor->height()));
    position = below;
    if (area.isValid() && below.y() + popover->height() > area.bottom() + 1) {
      const int above = anchor->mapToGlobal(QPoint(0, 0)).y() - popover->height();
      position.setY(above >= area.top() ? above : area.bottom() + 1 - popover->height());
    }
  } else if (area.isValid()) {
    position = area.center() - QPoint(popover->width() / 2, popover->height() / 2);
  }
  if (area.isValid()) {
    position.setX(std::clamp(position.x(), area.left(), std::max(area.left(), area.right() + 1 - popover->width())));
    position.setY(std::clamp(position.y(), area.top(), std::max(area.top(), area.bottom() + 1 - popover->height())));
  }
  popover->move(position);
}

QString ZRN_InfoRow(const QString& label, const QString& value) {
  return QStringLiteral("<tr>\n<td class=\"infolabel\">") + label + QStringLiteral("</td>\n<td class=\"infovalue\">") +
         value.toHtmlEscaped() + QStringLiteral("</td>\n</tr>");
}
