#pragma once
// The software-update module of the preferences window: how often the updater looks for a new version,
// when it last looked, and a look on request.

#include "platform/system/SUUpdater.h"
#include "prefs/ZRNPrefsController.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

class UpdatesPrefsTabController : public ZRNBasePrefsTabVC, public SUUpdaterDelegate {
  Q_OBJECT
 public:
  explicit UpdatesPrefsTabController(QWidget* parent = nullptr);
  ~UpdatesPrefsTabController() override;

  QString title() const override;
  QString windowTitle() const override;
  QString identifier() const override { return QString::fromLatin1(kUpdatesPrefsPaneID); }
  QIcon image() const override;
  void willBeDisplayed() override;

  QLabel* lastCheckText() const { return m_lastCheckText; }
  QComboBox* checkWhenButton() const { return m_checkWhenButton; }
  QPushButton* doCheckBox() const { return m_doCheckBox; }
  QCheckBox* doSendDataCheck() const { return m_doSendDataCheck; }

  void updateCheckDateString();
  // 1 daily, 2 weekly, 3 the longest interval, from the updater's interval.
  int updateEveryTag() const;
  void setUpdateEveryTag(int tag);
  void checkNow();
  void updater_didFinishLoadingAppcast(SUUpdater* updater, const SUAppcast& appcast) override;

 private:
  void loadView();

  QLabel* m_lastCheckText = nullptr;
  QComboBox* m_checkWhenButton = nullptr;
  QPushButton* m_doCheckBox = nullptr;
  QCheckBox* m_doSendDataCheck = nullptr;
};

// The intervals the module offers, in seconds.
inline constexpr double kUpdatesIntervalDaily = 86400;
inline constexpr double kUpdatesIntervalWeekly = 604800;
// 8.75 days: the third choice, however it is labelled.
inline constexpr double kUpdatesIntervalLongest = 756000;
