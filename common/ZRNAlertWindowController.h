#pragma once
// The window of one numbered alert (layout "ZRNAlertDialog"): icon, message, up to three buttons.

#include "common/ZRNBaseDialogWindowController.h"

#include <QCheckBox>
#include <QLabel>
#include <QVariantMap>

// The alert's text field. Alerts often name a path or a file longer than a line: such a word wraps
// inside itself where it must, by the text layout's own wrapping, so that the text stays exactly what the
// user reads, selects and copies.
class ZRNAlertTextField : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  int heightForWidth(int width) const override;

 protected:
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void U_WrapInsideWords() const;

  mutable QString m_wrappedText;
  mutable bool m_wrapStale = true;
};

class ZRNAlertWindowController : public ZRNBaseDialogWindowController {
  Q_OBJECT
 public:
  // Loads the layout; the controller keeps a copy of the catalogue entry.
  explicit ZRNAlertWindowController(const QVariantMap& errorDict, QWidget* parent = nullptr);
  ~ZRNAlertWindowController() override;

  QVariantMap errorDict() const { return m_errorDict; }
  QLabel* alertIcon() const { return m_alertIcon; }
  QCheckBox* dontShowAgainCheck() const { return m_dontShowAgainCheck; }

  // The first button is always shown; a Cancel title shows the Cancel button, an other title shows the
  // third button.
  void setupWithOKText(const QString& okText, const QString& cancelText, const QString& otherText);
  // Plain texts: the main text, and the explanation in its own field when there is one.
  void setupWithMainText(const QString& mainText, const QString& explainText);
  // The whole message as rich text in the main field.
  void setupWithText(const QString& html);

  // What Escape, closing the window and an end from outside answer: never a button that removes
  // something. Cancel where it keeps things as they are, no answer (kAlertResultNoAnswer) where the second
  // button removes something, OK where it is the only button.
  int dismissResult() const;

  // Before it shows, the window takes the size its text needs at its width (never wider than the screen),
  // and the keyboard starts on the default button.
  void setVisible(bool visible) override;

 public slots:
  // The third button answers the entry's own code ("ErrorOtherResult"); as a sheet it answers -1002.
  void otherAction() override;
  void reject() override;

 protected:
  void awakeFromNib() override;

 private:
  void U_FitToText();
  QPushButton* U_DefaultButton() const;

  QVariantMap m_errorDict;
  QLabel* m_alertIcon = nullptr;
  QPointer<QCheckBox> m_dontShowAgainCheck;
};
