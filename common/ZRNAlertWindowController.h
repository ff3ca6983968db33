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

  // The text with a place to break a line (a zero-width space) inside every run of characters too long to
  // wrap at a space or a slash, so that a long file name wraps instead of running out of the window. What
  // the user copies from an alert comes without those characters.
  static QString textWithLineBreaks(const QString& text);

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
