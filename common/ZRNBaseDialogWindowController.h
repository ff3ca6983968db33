#pragma once
// Base of the application's own dialogs (alerts, the startup note, the first-aid window, the waiting
// dialog). A dialog ends with -1000 (first button), -1001 (Cancel, Escape where there is a Cancel
// button, or the window closed) or -1002 (third button); a subclass may end with a code of its own.

#include "common/ZRNBaseClasses.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>

class ZRNBaseDialogWindowController : public ZRN_CommonInitWC<QDialog> {
  Q_OBJECT
 public:
  explicit ZRNBaseDialogWindowController(QWidget* parent = nullptr);
  ~ZRNBaseDialogWindowController() override;

  QLabel* mainTextfield() const { return m_mainTextfield; }
  QLabel* explainTextfield() const { return m_explainTextfield; }
  QPushButton* okBtn() const { return m_okBtn; }
  QPushButton* cancelBtn() const { return m_cancelBtn; }
  QPushButton* otherBtn() const { return m_otherBtn; }

  // Run as a sheet: window-modal over a parent window.
  bool isSheet() const { return windowModality() == Qt::WindowModal; }

 public slots:
  virtual void okAction();
  virtual void cancelAction();
  virtual void otherAction();
  // Escape and the window's close box: Cancel where the dialog shows a Cancel button, else nothing.
  void reject() override;

 protected:
  // Called by a subclass once its layout is loaded: finds the outlets by name, wires the buttons, sets
  // the text fonts and hides the explanation, the Cancel button and the third button.
  virtual void awakeFromNib();
  bool hasCancelButton() const;

 private:
  QPointer<QLabel> m_mainTextfield;
  QPointer<QLabel> m_explainTextfield;
  QPointer<QPushButton> m_okBtn;
  QPointer<QPushButton> m_cancelBtn;
  QPointer<QPushButton> m_otherBtn;
};
