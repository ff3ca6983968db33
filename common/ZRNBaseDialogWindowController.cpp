#include "common/ZRNBaseDialogWindowController.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>

ZRNBaseDialogWindowController::ZRNBaseDialogWindowController(QWidget* parent)
    : ZRN_CommonInitWC<QDialog>(parent) {
  // No close box: a dialog ends through its buttons (or Escape where it has a Cancel button).
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}

ZRNBaseDialogWindowController::~ZRNBaseDialogWindowController() = default;

void ZRNBaseDialogWindowController::awakeFromNib() {
  m_mainTextfield = findChild<QLabel*>(QStringLiteral("mainTextfield"));
  m_explainTextfield = findChild<QLabel*>(QStringLiteral("explainTextfield"));
  m_okBtn = findChild<QPushButton*>(QStringLiteral("okBtn"));
  m_cancelBtn = findChild<QPushButton*>(QStringLiteral("cancelBtn"));
  m_otherBtn = findChild<QPushButton*>(QStringLiteral("otherBtn"));

  if (m_mainTextfield) {
    QFont font = m_mainTextfield->font();
    font.setBold(true);
    font.setPointSizeF(Gui_StandardFontSize());
    m_mainTextfield->setFont(font);
  }
  if (m_explainTextfield) {
    QFont font = m_explainTextfield->font();
    font.setBold(false);
    font.setPointSizeF(Gui_SmallFontSize());
    m_explainTextfield->setFont(font);
    m_explainTextfield->hide();
  }
  if (m_okBtn) connect(m_okBtn, &QPushButton::clicked, this, &ZRNBaseDialogWindowController::okAction);
  if (m_cancelBtn) {
    connect(m_cancelBtn, &QPushButton::clicked, this, &ZRNBaseDialogWindowController::cancelAction);
    m_cancelBtn->hide();
  }
  if (m_otherBtn) {
    connect(m_otherBtn, &QPushButton::clicked, this, &ZRNBaseDialogWindowController::otherAction);
    m_otherBtn->hide();
  }
}

bool ZRNBaseDialogWindowController::hasCancelButton() const {
  return m_cancelBtn && !m_cancelBtn->isHidden() && m_cancelBtn->isEnabled();
}

// The same codes end a sheet (QDialog::done answers the sheet's completion through finished()).
void ZRNBaseDialogWindowController::okAction() { done(kDialogResultFirst); }

void ZRNBaseDialogWindowController::cancelAction() { done(kDialogResultCancel); }

void ZRNBaseDialogWindowController::otherAction() { done(kDialogResultOther); }

void ZRNBaseDialogWindowController::reject() {
  if (hasCancelButton()) cancelAction();
}
