#include "app/ZRNStartupNoteWC.h"

#include "common/ZRNAlerts.h"
#include "ui_ZRNStartupNoteWC.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTextBrowser>

// The resources live in the core library; registering them again is harmless.
static void ensureResources() { Q_INIT_RESOURCE(resources); }

ZRNStartupNoteWC::ZRNStartupNoteWC(QWidget* parent) : ZRNBaseDialogWindowController(parent) {
  Ui::ZRNStartupNoteWC layout;
  layout.setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  awakeFromNib();
}

ZRNStartupNoteWC::~ZRNStartupNoteWC() = default;

void ZRNStartupNoteWC::awakeFromNib() {
  ZRNBaseDialogWindowController::awakeFromNib();
  m_agreeCheck = findChild<QCheckBox*>(QStringLiteral("agreeCheck"));
  m_licenseText = findChild<QTextBrowser*>(QStringLiteral("licenseText"));
  if (QPushButton* ok = okBtn()) {
    ok->show();
    ok->setEnabled(true);
  }
  if (QPushButton* cancel = cancelBtn()) {
    cancel->show();
    cancel->setEnabled(true);
  }
  if (m_agreeCheck) m_agreeCheck->setEnabled(false);
  if (m_licenseText) {
    m_licenseText->setAccessibleName(QStringLiteral("Note"));
    ensureResources();
    QFile note(QStringLiteral(":/html/HV_blah.html"));
    if (note.open(QIODevice::ReadOnly)) m_licenseText->setHtml(QString::fromUtf8(note.readAll()));
  }
}

int ZRNStartupNoteWC_RunModal() {
  ZRNStartupNoteWC note;
  // Neither button answers Return: the note is read, not clicked away.
  if (QPushButton* ok = note.okBtn()) {
    ok->setDefault(false);
    ok->setAutoDefault(false);
  }
  return Alert_RunAlertModal(&note);
}
