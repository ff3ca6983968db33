#include "prefs/UpdatesPrefsTabController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString Tr(const char* text) { return QCoreApplication::translate("Localizable", text); }
}  // namespace

UpdatesPrefsTabController::UpdatesPrefsTabController(QWidget* parent) : ZRNBasePrefsTabVC(parent) {
  setObjectName(QStringLiteral("Prefs_Updates"));
  loadView();
  awakeFromNib();
}

UpdatesPrefsTabController::~UpdatesPrefsTabController() {
  if (SUUpdater::sharedUpdater()->delegate() == this) SUUpdater::sharedUpdater()->setDelegate(nullptr);
}

QString UpdatesPrefsTabController::title() const { return Tr("Updates"); }
QString UpdatesPrefsTabController::windowTitle() const { return Tr("Software Update"); }
QIcon UpdatesPrefsTabController::image() const { return QIcon(QStringLiteral(":/images/Prefs_SoftwareUpdate.png")); }

void UpdatesPrefsTabController::loadView() {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(20, 20, 20, 20);
  auto* form = new QFormLayout;
  m_checkWhenButton = new QComboBox(this);
  m_checkWhenButton->setObjectName(QStringLiteral("checkWhenButton"));
  m_checkWhenButton->addItems({Tr("Daily"), Tr("Weekly"), Tr("Every 8¾ days")});
  connect(m_checkWhenButton, &QComboBox::activated, this, [this](int index) { setUpdateEveryTag(index + 1); });
  // The caption is the menu's buddy: a screen reader reads the choice shown, labelled by the caption.
  form->addRow(Tr("Check for updates:"), m_checkWhenButton);
  column->addLayout(form);
  m_lastCheckText = new QLabel(this);
  m_lastCheckText->setObjectName(QStringLiteral("lastCheckText"));
  // Read as it shows, the date of the last check (or "never") included: it has no name of its own.
  column->addWidget(m_lastCheckText);
  m_doCheckBox = new QPushButton(Tr("Check Now"), this);
  m_doCheckBox->setObjectName(QStringLiteral("doCheckBox"));
  m_doCheckBox->setAccessibleName(Tr("Check Now"));
  connect(m_doCheckBox, &QPushButton::clicked, this, [this] { checkNow(); });
  column->addWidget(m_doCheckBox, 0, Qt::AlignLeft);
  // Nothing is ever sent about the system: the check box stays hidden and off.
  m_doSendDataCheck = new QCheckBox(Tr("Include anonymous system profile"), this);
  m_doSendDataCheck->setObjectName(QStringLiteral("doSendDataCheck"));
  m_doSendDataCheck->setAccessibleName(Tr("Include anonymous system profile"));
  m_doSendDataCheck->setEnabled(false);
  m_doSendDataCheck->hide();
  column->addWidget(m_doSendDataCheck);
  column->addStretch(1);
  setMinimumSize(440, 150);
}

void UpdatesPrefsTabController::willBeDisplayed() {
  m_checkWhenButton->setCurrentIndex(updateEveryTag() - 1);
  updateCheckDateString();
}

void UpdatesPrefsTabController::updateCheckDateString() {
  const QDateTime last = SUUpdater::sharedUpdater()->lastUpdateCheckDate();
  if (!last.isValid()) {
    m_lastCheckText->setText(Tr("Last check never"));
    return;
  }
  const QString when = QLocale().toString(last.toLocalTime(), QStringLiteral("dddd, MMMM d, yyyy h:mm AP"));
  m_lastCheckText->setText(QStringLiteral("%1 %2").arg(Tr("Last check"), when));
}

int UpdatesPrefsTabController::updateEveryTag() const {
  const double interval = SUUpdater::sharedUpdater()->updateCheckInterval();
  if (interval <= kUpdatesIntervalDaily) return 1;
  if (interval <= kUpdatesIntervalWeekly) return 2;
  return 3;
}

void UpdatesPrefsTabController::setUpdateEveryTag(int tag) {
  double interval = kUpdatesIntervalLongest;
  if (tag == 1) interval = kUpdatesIntervalDaily;
  if (tag == 2) interval = kUpdatesIntervalWeekly;
  SUUpdater::sharedUpdater()->setUpdateCheckInterval(interval);
}

void UpdatesPrefsTabController::checkNow() {
  SUUpdater::sharedUpdater()->setDelegate(this);
  SUUpdater::sharedUpdater()->checkForUpdates();
}

void UpdatesPrefsTabController::updater_didFinishLoadingAppcast(SUUpdater*, const SUAppcast&) { updateCheckDateString(); }
