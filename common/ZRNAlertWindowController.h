#pragma once
// The window of one numbered alert (layout "ZRNAlertDialog"): icon, message, up to three buttons.

#include "common/ZRNBaseDialogWindowController.h"

#include <QCheckBox>
#include <QVariantMap>

class ZRNAlertWindowController : public ZRNBaseDialogWindowController {
  Q_OBJECT
 public:
  // Loads the layout; the controller keeps a copy of the catalogue entry.
  explicit ZRNAlertWindowController(const QVariantMap& errorDict, QWidget* parent = nullptr);
  ~ZRNAlertWindowController() override;

  QVariantMap errorDict() const { return m_errorDict; }
  QLabel* alertIcon() const { return m_alertIcon; }
  QCheckBox* dontShowAgainCheck() const { return m_dontShowAgainCheck; }

  // The first button is always shown; a Cancel title shows the Cancel button (Escape presses it),
  // an other title shows the third button.
  void setupWithOKText(const QString& okText, const QString& cancelText, const QString& otherText);
  // Plain texts: the main text, and the explanation in its own field when there is one.
  void setupWithMainText(const QString& mainText, const QString& explainText);
  // The whole message as rich text in the main field.
  void setupWithText(const QString& html);

  // The text with places to break a line (zero-width spaces) inside every run of characters, between the
  // spaces and slashes where lines break anyway, that is wider in this font than the narrowest line of the
  // alert: a long folder name wraps instead of running out of the window. Other text is left as it is.
  // What the user copies from an alert comes without those characters.
  QString textWithLineBreaks(const QString& text, const QFont& font) const;

  // Before it shows, the window takes the size its text needs at its width (never wider than the screen),
  // and the keyboard starts on the default button.
  void setVisible(bool visible) override;

 public slots:
  // The third button answers the entry's own code ("ErrorOtherResult"); as a sheet it answers -1002.
  void otherAction() override;

 protected:
  void awakeFromNib() override;

 private:
  void U_FitToText();
  QPushButton* U_DefaultButton() const;

  QVariantMap m_errorDict;
  QLabel* m_alertIcon = nullptr;
  QPointer<QCheckBox> m_dontShowAgainCheck;
};
