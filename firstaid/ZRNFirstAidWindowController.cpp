#include "firstaid/ZRNFirstAidWindowController.h"

#include "common/ZRNDarkLook.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNLogger.h"
#include "firstaid/FirstAidLogs.h"
#include "platform/gui/DialogRunner.h"
#include "ui_ZRNFirstAidWindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QRadioButton>
#include <QTextEdit>

namespace {
constexpr int kAlertResetPrefs = 20011;
constexpr int kButtonsTopAfterCrash = 46;
constexpr int kButtonsTopOnRequest = 20;
// Without the heading, the reset option takes its place.
constexpr int kResetShiftWithoutHeading = 28;

QString localized(const char* text) { return QCoreApplication::translate("Localizable", text); }

void moveUp(QWidget* widget, int by) {
  if (widget) widget->move(widget->x(), widget->y() - by);
}
}  // namespace

ZRNFirstAidWindowController::ZRNFirstAidWindowController(QWidget* parent) : ZRNBaseDialogWindowController(parent) {
  Ui::ZRNFirstAidWindow layout;
  layout.setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  m_selectedAction = kFirstAid_ActionEmail;
  m_clearLogsFlag = false;
  awakeFromNib();
  windowDidLoad();
}

ZRNFirstAidWindowController::~ZRNFirstAidWindowController() = default;

void ZRNFirstAidWindowController::windowDidLoad() {
  m_resetSettingsBtn = findChild<QRadioButton*>(QStringLiteral("resetSettingsBtn"));
  m_saveLogsBtn = findChild<QRadioButton*>(QStringLiteral("saveLogsBtn"));
  m_prepareEmailBtn = findChild<QRadioButton*>(QStringLiteral("prepareEmailBtn"));
  m_title = findChild<QLabel*>(QStringLiteral("title"));
  m_resetExplain = findChild<QLabel*>(QStringLiteral("resetExplain"));
  m_userText = findChild<QTextEdit*>(QStringLiteral("userText"));
  m_clearLogsCheck = findChild<QCheckBox*>(QStringLiteral("clearLogsCheck"));
  m_buttonsTopDistance = findChild<QWidget*>(QStringLiteral("buttonsTopDistance"));
  m_expandedView = findChild<QWidget*>(QStringLiteral("expandedView"));
  m_enclosingView = findChild<QWidget*>(QStringLiteral("enclosingView"));
  for (QRadioButton* radio : {m_resetSettingsBtn.data(), m_saveLogsBtn.data(), m_prepareEmailBtn.data()})
    if (radio) connect(radio, &QRadioButton::clicked, this, [this, radio] { buttonPressed(radio); });

  // Dark whatever the desktop's theme; the user's text white.
  setAutoFillBackground(true);
  ZRN_ApplyDarkLook(this, palette());
  setWindowTitle(localized("First Aid"));
  if (m_title) {
    m_title->setText(localized("App quit unexpectedly"));
    QFont font = m_title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() + 3);
    m_title->setFont(font);
  }
  if (m_resetExplain) {
    QFont font = m_resetExplain->font();
    font.setPointSizeF(Gui_SmallFontSize());
    m_resetExplain->setFont(font);
    // Each choice is read by its whole text; the explanation beside the reset is its description.
    if (m_resetSettingsBtn) m_resetSettingsBtn->setAccessibleDescription(m_resetExplain->text());
  }
  if (m_userText) {
    // The question shown in the empty field is its name, also once the user has written there.
    m_userText->setAccessibleName(m_userText->placeholderText());
    QFont font = m_userText->font();
    font.setFamilies({QStringLiteral("Lucida Grande"), font.family()});
    font.setPointSize(12);
    m_userText->setFont(font);
  }
  if (QPushButton* cancel = cancelBtn()) {
    cancel->setText(localized("Cancel"));
    cancel->show();
    cancel->setEnabled(true);
  }
  if (QPushButton* ok = okBtn()) ok->show();
  // The expanded state needs no redraw of its own.
  m_expanded = true;
}

void ZRNFirstAidWindowController::U_ClearAllRadioButtons() {
  // Exclusive radio buttons refuse to be all off: lift the rule for a moment.
  for (QRadioButton* radio : {m_resetSettingsBtn.data(), m_saveLogsBtn.data(), m_prepareEmailBtn.data()}) {
    if (!radio) continue;
    radio->setAutoExclusive(false);
    radio->setChecked(false);
    radio->setAutoExclusive(true);
  }
}

void ZRNFirstAidWindowController::U_SetOKTitle(const QString& title) {
  if (QPushButton* ok = okBtn()) {
    ok->setText(localized(title.toUtf8().constData()));
    ok->setAccessibleName(ok->text());
  }
}

void ZRNFirstAidWindowController::U_SetButtonsTopDistance(int distance) {
  if (!m_buttonsTopDistance) return;
  m_buttonsTopDistance->setFixedHeight(distance);
  const int buttonsY = m_buttonsTopDistance->y() + distance;
  for (QPushButton* button : {okBtn(), cancelBtn()})
    if (button) button->move(button->x(), buttonsY);
}

int ZRNFirstAidWindowController::buttonsTopDistance() const {
  return m_buttonsTopDistance ? m_buttonsTopDistance->height() : 0;
}

void ZRNFirstAidWindowController::setBombed(bool afterCrash) {
  int height = kFirstAid_HeightAfterCrash;
  if (m_title) m_title->show();
  U_ClearAllRadioButtons();
  const QString mailer = ZRNAppSetup::sharedAppSetup()->currentMailerName();
  if (FirstAid_MailerCanAttach(mailer)) {
    U_SetOKTitle(QStringLiteral("Prepare email"));
    m_selectedAction = kFirstAid_ActionEmail;
    if (m_prepareEmailBtn) m_prepareEmailBtn->setChecked(true);
  } else {
    U_SetOKTitle(QStringLiteral("Save logs"));
    m_selectedAction = kFirstAid_ActionSaveLogs;
    if (m_saveLogsBtn) m_saveLogsBtn->setChecked(true);
  }
  U_SetButtonsTopDistance(kButtonsTopAfterCrash);
  if (!afterCrash) {
    height = kFirstAid_HeightOnRequest;
    if (m_title) m_title->hide();
    U_SetOKTitle(QStringLiteral("Reset"));
    U_SetButtonsTopDistance(kButtonsTopOnRequest);
    m_selectedAction = kFirstAid_ActionReset;
    U_ClearAllRadioButtons();
    if (m_resetSettingsBtn) m_resetSettingsBtn->setChecked(true);
    moveUp(m_resetSettingsBtn, kResetShiftWithoutHeading);
    moveUp(m_resetExplain, kResetShiftWithoutHeading);
  }
  U_TextViewSetupFor(m_selectedAction == kFirstAid_ActionEmail);
  // The keys start on the chosen action, not on the first one (the reset): Space, pressed to act, must
  // not pick another.
  for (QRadioButton* radio : {m_resetSettingsBtn.data(), m_saveLogsBtn.data(), m_prepareEmailBtn.data()})
    if (radio && radio->isChecked()) radio->setFocus(Qt::OtherFocusReason);
  // The window is laid out by hand: its size is part of the case.
  setFixedSize(width(), height);
}

QString ZRNFirstAidWindowController::textToAdd() const { return m_userText ? m_userText->toPlainText() : QString(); }

bool ZRNFirstAidWindowController::cleanUpLogs() const { return m_clearLogsCheck && m_clearLogsCheck->isChecked(); }

void ZRNFirstAidWindowController::U_TextViewSetupFor(bool email) {
  if (m_clearLogsCheck) m_clearLogsCheck->setEnabled(email);
  if (!m_userText) return;
  m_userText->setReadOnly(!email);
  m_userText->setTextInteractionFlags(email ? Qt::TextEditorInteraction : Qt::NoTextInteraction);
  QPalette palette = m_userText->palette();
  const QColor text = email ? QColor(Qt::white) : QColor(255, 255, 255, 178);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    palette.setColor(group, QPalette::Text, text);
  m_userText->setPalette(palette);
}

void ZRNFirstAidWindowController::setExpanded(bool expanded) {
  m_expanded = expanded;
  updateView();
}

void ZRNFirstAidWindowController::buttonPressed(QObject* sender) {
  if (sender == m_prepareEmailBtn) {
    m_selectedAction = kFirstAid_ActionEmail;
    setExpanded(true);
    U_SetOKTitle(QStringLiteral("Prepare email"));
    U_TextViewSetupFor(true);
  } else if (sender == m_saveLogsBtn) {
    m_selectedAction = kFirstAid_ActionSaveLogs;
    setExpanded(false);
    U_SetOKTitle(QStringLiteral("Save logs"));
    U_TextViewSetupFor(false);
  } else if (sender == m_resetSettingsBtn) {
    m_selectedAction = kFirstAid_ActionReset;
    setExpanded(false);
    U_SetOKTitle(QStringLiteral("Reset"));
    U_TextViewSetupFor(false);
  }
}

void ZRNFirstAidWindowController::okAction() {
  // Resetting loses every setting: only Continue goes on.
  if (m_selectedAction == kFirstAid_ActionReset && Alert_ShowAlertWithID(kAlertResetPrefs, QString()) != kDialogResultFirst)
    return;
  ZRNBaseDialogWindowController::okAction();
}

FirstAidChoice FirstAid_RunWindow(bool afterCrash) {
  ZRNFirstAidWindowController window;
  window.setBombed(afterCrash);
  ZRNLogger_Log(QStringLiteral("first aid window shown: %@, %d high, heading %@, action %d"),
                afterCrash ? QStringLiteral("after a crash") : QStringLiteral("on request"), window.height(),
                window.title() && !window.title()->isHidden() ? QStringLiteral("shown") : QStringLiteral("hidden"),
                window.selectedAction());
  FirstAidChoice choice;
  choice.result = Alert_RunAlertModal(&window);
  choice.action = window.selectedAction();
  choice.userText = window.textToAdd();
  choice.cleanUp = window.cleanUpLogs();
  window.close();
  ZRNLogger_Log(QStringLiteral("first aid window closed: %d, action %d"), choice.result, choice.action);
  return choice;
}
