// Velmora > Preferences… and Check for Updates… from the main menu.

#include "app/ZRNAppMenus.h"
#include "app/ZRNAppPreferences.h"
#include "platform/system/SUUpdater.h"
#include "prefs/ZRNPrefsController.h"
#include "tests/app/AppTestSupport.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

namespace {
class AppPreferences : public ::testing::Test {
 protected:
  void SetUp() override {
    Test_FreshPrefs();
    ZRNPrefsController::releaseSharedController();
    delegate = std::make_unique<ZRNAppDelegate>();
  }
  void TearDown() override {
    ZRNPrefsController::releaseSharedController();
    ZRNPrefsController::setWindowShownHandler({});
    if (QWidget* alert = SUUpdater::sharedUpdater()->activeAlert()) alert->close();
    delegate.reset();
  }
  QAction* action(const char* name) { return delegate->mainMenu()->action(QString::fromLatin1(name)); }

  std::unique_ptr<ZRNAppDelegate> delegate;
};
}  // namespace

TEST_F(AppPreferences, MenuCommandsOpenThePreferencesWindow) {
  UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("UpdatesPrefsPane"));
  action("showHidePreferencesWindow")->trigger();
  ZRNPrefsController* controller = ZRNPrefsController::existingController();
  ASSERT_NE(controller, nullptr);
  EXPECT_TRUE(controller->isVisible());
  EXPECT_TRUE(delegate->prefsWindowIsON());
  EXPECT_EQ(controller->currentModule()->identifier(), "UpdatesPrefsPane");
  controller->close();
  EXPECT_FALSE(delegate->prefsWindowIsON());

  delegate->showHideCameraPreferences();
  EXPECT_TRUE(controller->isVisible());
  EXPECT_EQ(controller->currentModule()->identifier(), "CameraPrefsPane");
  EXPECT_TRUE(ZRNPrefsController::isONAndShowingCameraSettings());
}

// The Window menu lists the windows of one's work; the preferences, open beside a session, are not listed
// there, whichever window's menu is opened.
TEST_F(AppPreferences, ThePreferencesWindowIsNotListedInTheWindowMenu) {
  auto session = std::make_unique<QMainWindow>();
  session->setWindowTitle(QStringLiteral("Cup Final"));
  session->show();
  delegate->playbackWindows().append(session.get());
  action("showHidePreferencesWindow")->trigger();
  ZRNPrefsController* controller = ZRNPrefsController::existingController();
  ASSERT_NE(controller, nullptr);
  ASSERT_TRUE(controller->isVisible());

  EXPECT_EQ(delegate->mainMenu()->openWindows(), QList<QWidget*>{session.get()});
  for (QMainWindow* window : {static_cast<QMainWindow*>(session.get()), static_cast<QMainWindow*>(controller)}) {
    SCOPED_TRACE(window->windowTitle().toStdString());
    QMenu* menu = nullptr;
    for (QAction* item : window->menuBar()->actions())
      if (item->menu() && item->menu()->objectName() == QLatin1String("Window")) menu = item->menu();
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    QStringList listed;
    for (QAction* item : menu->actions())
      if (item->objectName() == QLatin1String("windowListItem")) listed << item->text();
    EXPECT_EQ(listed, QStringList{QStringLiteral("Cup Final")});
  }
  controller->close();
}

TEST_F(AppPreferences, CheckForUpdatesWithoutAFeedPointsToTheDistribution) {
  SUUpdater::sharedUpdater()->setFeedURL(QUrl());
  EXPECT_TRUE(SUUpdater_StartSharedUpdater(delegate.get()));
  delegate->sparkleUpdateCheck();
  EXPECT_EQ(SUUpdater::sharedUpdater()->lastResult(), SUUpdater::CheckResult::NoFeed);
  ASSERT_NE(SUUpdater::sharedUpdater()->activeAlert(), nullptr);
  EXPECT_EQ(SUUpdater::sharedUpdater()->activeAlert()->objectName(), "SUStatusAlert");
  EXPECT_FALSE(SUUpdater::sharedUpdater()->nextScheduledCheck().isValid());
}
