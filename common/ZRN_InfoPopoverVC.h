#pragma once
// The content of an info popover: an HTML text styled by the application's info_popup.css, sized to its
// document, and one action button.

#include "common/ZRNBaseClasses.h"

#include <QFrame>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTextBrowser>

#include <functional>

// One row of an info table: the label (markup) and the value (text, escaped here) in cells that carry the
// style sheet's two classes.
QString ZRN_InfoRow(const QString& label, const QString& value);

class ZRN_InfoPopoverVC : public ZRN_CommonInitViewC {
  Q_OBJECT
 public:
  // The layout's name becomes the panel's objectName ("ZRN_InfoPopover_plain", "ZRN_InfoPopover").
  explicit ZRN_InfoPopoverVC(const QString& layoutName, QWidget* parent = nullptr);

  QPushButton* actionButton() const { return m_actionButton; }
  QTextBrowser* theWebView() const { return m_theWebView; }
  void setTheWebView(QTextBrowser* view) { m_theWebView = view; }

  void setActionTo(std::function<void()> action, QObject* target);
  // What the action button says to a listener and in its tool tip.
  void setActionTitle(const QString& title);
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

// The popover that shows `content`: a popup window on the dark popover background, white text, its
// accessible role a dialog named `accessibleName`. Owned by `parent`.
QFrame* ZRN_MakeInfoPopover(QWidget* parent, ZRN_InfoPopoverVC* content, const QString& objectName,
                            const QString& accessibleName);
// Sizes the popover to its content and places it next to `anchor`: below it, centred on it, or above it
// when there is no room below, always wholly inside the available area of the anchor's screen. A text
// taller than that area scrolls.
void ZRN_PlaceInfoPopover(QFrame* popover, ZRN_InfoPopoverVC* content, QWidget* anchor);

// The folder of the popover's style sheet and what it refers to.
inline constexpr const char* kZRNInfoPopupResourceFolder = ":/html";
