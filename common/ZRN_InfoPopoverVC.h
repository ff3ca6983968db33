#pragma once
// The content of an info popover: an HTML text styled by the application's info_popup.css, sized to its
// document, and one action button.

#include "common/ZRNBaseClasses.h"

#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTextBrowser>

#include <functional>

class ZRN_InfoPopoverVC : public ZRN_CommonInitViewC {
  Q_OBJECT
 public:
  // The layout's name becomes the panel's objectName ("ZRN_InfoPopover_plain", "ZRN_InfoPopover").
  explicit ZRN_InfoPopoverVC(const QString& layoutName, QWidget* parent = nullptr);

  QPushButton* actionButton() const { return m_actionButton; }
  QTextBrowser* theWebView() const { return m_theWebView; }
  void setTheWebView(QTextBrowser* view) { m_theWebView = view; }

  void setActionTo(std::function<void()> action, QObject* target);
  void enableActionButton(bool enable);
  // Shows the HTML; relative names in it (style sheets, images) are looked up beside info_popup.css.
  void setWebViewPsaxnoTo(const QString& html);
  // The document's size; the height with 20 points to spare.
  double textWidth() const;
  double textHeight() const;

 signals:
  void didFinishLoad();

 private:
  // The web view takes the document's height; its top edge, left edge and width stay.
  void webViewDidFinishLoad();

  QPushButton* m_actionButton = nullptr;
  QPointer<QTextBrowser> m_theWebView;
  QMetaObject::Connection m_actionConnection;
};

// The folder of the popover's style sheet and what it refers to.
inline constexpr const char* kZRNInfoPopupResourceFolder = ":/html";
