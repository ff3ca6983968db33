#include "common/ZRNAlertWindowController.h"

#include "common/ZRNAlerts.h"
#include "ui_ZRNAlertDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

ZRNAlertWindowController::ZRNAlertWindowController(const QVariantMap& errorDict, QWidget* parent)
    : ZRNBaseDialogWindowController(parent), m_errorDict(errorDict) {
  Ui::ZRNAlertDialog layout;
  layout.setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  awakeFromNib();
}

ZRNAlertWindowController::~ZRNAlertWindowController() = default;

void ZRNAlertWindowController::awakeFromNib() {
  ZRNBaseDialogWindowController::awakeFromNib();
  m_alertIcon = findChild<QLabel*>(QStringLiteral("alertIcon"));
  m_dontShowAgainCheck = findChild<QCheckBox*>(QStringLiteral("dontShowAgainCheck"));
  // The problem-report picture of the platform: its warning sign.
  if (m_alertIcon) {
    m_alertIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(64, 64));
    m_alertIcon->setAccessibleName(QStringLiteral("Warning"));
  }
  // Alerts carry no window title; a listener still hears whose question it is.
  setAccessibleName(QStringLiteral("Velmora"));
  if (m_dontShowAgainCheck) m_dontShowAgainCheck->hide();
}

namespace {
// Titles are shown as written: "&" is a character ("Save & Quit"), not the mark of a shortcut letter.
QString literalTitle(const QString& title) { return QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")); }
}  // namespace

void ZRNAlertWindowController::setupWithOKText(const QString& okText, const QString& cancelText,
                                               const QString& otherText) {
  if (QPushButton* ok = okBtn()) {
    ok->setText(literalTitle(okText));
    ok->setEnabled(true);
    ok->setDefault(true);
  }
  if (QPushButton* cancel = cancelBtn(); cancel && !cancelText.isEmpty()) {
    cancel->setText(literalTitle(cancelText));
    cancel->show();
  }
  if (QPushButton* other = otherBtn(); other && !otherText.isEmpty()) {
    other->setText(literalTitle(otherText));
    other->show();
  }
}

void ZRNAlertWindowController::setupWithMainText(const QString& mainText, const QString& explainText) {
  if (QLabel* field = mainTextfield()) {
    field->setTextFormat(Qt::PlainText);
    field->setText(mainText);
  }
  if (QLabel* field = explainTextfield(); field && !explainText.isEmpty()) {
    field->setTextFormat(Qt::PlainText);
    field->setText(explainText);
    field->show();
  }
}

void ZRNAlertWindowController::setupWithText(const QString& html) {
  if (QLabel* field = mainTextfield()) {
    field->setTextFormat(Qt::RichText);
    field->setText(html);
  }
}

void ZRNAlertWindowController::otherAction() {
  if (isSheet()) {
    done(kDialogResultOther);
  } else {
    done(m_errorDict.value(QString::fromLatin1(kAlertKeyOtherResult)).toInt());
  }
}
