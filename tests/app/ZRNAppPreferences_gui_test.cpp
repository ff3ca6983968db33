// Velmora > Preferences… and Check for Updates… from the main menu.

#include "app/ZRNAppMenus.h"
#include "app/ZRNAppPreferences.h"
#include "platform/system/SUUpdater.h"
#include "prefs/ZRNPrefsController.h"
#include "tests/app/AppTestSupport.h"

#include <QAction>

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

TEST_F(AppPreferences, CheckForUpdatesWithoutAFeedPointsToTheDistribution) {
  SUUpdater::sharedUpdater()->setFeedURL(QUrl());
  EXPECT_TRUE(SUUpdater_StartSharedUpdater(delegate.get()));
  delegate->sparkleUpdateCheck();
  EXPECT_EQ(SUUpdater::sharedUpdater()->lastResult(), SUUpdater::CheckResult::NoFeed);
  ASSERT_NE(SUUpdater::sharedUpdater()->activeAlert(), nullptr);
  EXPECT_EQ(SUUpdater::sharedUpdater()->activeAlert()->objectName(), "SUStatusAlert");
  EXPECT_FALSE(SUUpdater::sharedUpdater()->nextScheduledCheck().isValid());
}
