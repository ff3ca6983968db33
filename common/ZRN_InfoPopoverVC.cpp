#include "common/ZRN_InfoPopoverVC.h"

#include "common/ZRNAccessibility.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QTextDocument>
#include <QVBoxLayout>

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
