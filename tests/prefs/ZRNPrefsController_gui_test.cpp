#include "prefs/ZRNPrefsController.h"

#include "prefs/PrefsTestSupport.h"
#include "prefs/UpdatesPrefsTabController.h"
#include "prefs/VLCameraPrefsTabVC.h"
#include "prefs/VLExportPrefsTabVC.h"

#include <QAction>
#include <QToolBar>

#include <gtest/gtest.h>

using PrefsWindow = PrefsWindowFixture;

TEST_F(PrefsWindow, OpensOnTheModuleShownLastAndFallsBackToTheCameraModule) {
  const struct {
    const char* stored;
    const char* shown;
  } rows[] = {{"UpdatesPrefsPane", "UpdatesPrefsPane"},
              {"ExportPrefsPane", "ExportPrefsPane"},
              {"NoSuchPane", "CameraPrefsPane"},
              {nullptr, "CameraPrefsPane"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stored ? row.stored : "(none)");
    UserDefaults::standard().setObject(kMBPreferencesSelectionKey, row.stored ? QVariant(QString(row.stored)) : QVariant());
    ZRNPrefsController::releaseSharedController();
    ZRNPrefsController* controller = openWindow();
    ASSERT_NE(controller->currentModule(), nullptr);
    EXPECT_EQ(controller->currentModule()->identifier(), row.shown);
    EXPECT_EQ(controller->windowTitle(), controller->currentModule()->windowTitle());
    EXPECT_TRUE(controller->toolbarItem(row.shown)->isChecked());
    EXPECT_TRUE(controller->currentModule()->view()->isVisible());
  }
  // A module chosen on the tool bar is the one remembered.
  ZRNPrefsController* controller = ZRNPrefsController::sharedPreferencesController();
  controller->toolbarItem("ExportPrefsPane")->trigger();
  EXPECT_EQ(controller->currentModule()->identifier(), "ExportPrefsPane");
  EXPECT_EQ(UserDefaults::standard().stringForKey(kMBPreferencesSelectionKey), "ExportPrefsPane");
}

TEST_F(PrefsWindow, ToolbarOffersTheThreeModulesInOrderWithNamesAndLabels) {
  ZRNPrefsController* controller = openWindow();
  QStringList names;
  for (QAction* item : controller->toolbar()->actions()) {
    names << item->objectName();
    EXPECT_TRUE(item->isVisible());
    EXPECT_FALSE(item->text().isEmpty());
    EXPECT_FALSE(item->icon().isNull()) << item->objectName().toStdString();
  }
  EXPECT_EQ(names, QStringList({"CameraPrefsPane", "ExportPrefsPane", "UpdatesPrefsPane"}));
  EXPECT_EQ(controller->toolbarAllowedItemIdentifiers(), names);
  EXPECT_TRUE(controller->cameraTab()->isEnabled());
}

TEST_F(PrefsWindow, SwitchingModulesKeepsTheTopEdgeAndFitsTheModule) {
  UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("CameraPrefsPane"));
  ZRNPrefsController* controller = openWindow();
  ASSERT_NO_FATAL_FAILURE(waitForResize(controller));
  controller->move(100, 120);
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->frameGeometry().top() == 120; }));
  const QRect tall = controller->geometry();
  // The window shows the whole module, its own minimum size included: nothing on its right is cut off.
  auto shownWhole = [](QWidget* module) {
    return module->parentWidget() && module->parentWidget()->rect().contains(module->geometry()) &&
           module->width() >= module->minimumWidth() && module->height() >= module->minimumHeight();
  };
  EXPECT_TRUE(shownWhole(controller->cameraTab()));

  controller->toolbarItem("ExportPrefsPane")->trigger();
  ASSERT_NO_FATAL_FAILURE(waitForResize(controller));
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->geometry().height() != tall.height(); }));
  EXPECT_TRUE(shownWhole(controller->exportTab()));
  const QRect shortRect = controller->geometry();
  EXPECT_LT(shortRect.height(), tall.height());
  EXPECT_EQ(shortRect.top(), tall.top());
  EXPECT_EQ(shortRect.left(), tall.left());
  EXPECT_TRUE(controller->exportTab()->isVisible());
  EXPECT_FALSE(controller->cameraTab()->isVisible());

  controller->toolbarItem("CameraPrefsPane")->trigger();
  ASSERT_NO_FATAL_FAILURE(waitForResize(controller));
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->geometry().height() == tall.height(); }));
  EXPECT_EQ(controller->geometry().top(), tall.top());
}

TEST_F(PrefsWindow, ClosingOrdersTheWindowOutAndShowingItAgainKeepsTheModule) {
  ZRNPrefsController* controller = openWindow();
  controller->selectModuleWithIdentifier("UpdatesPrefsPane");
  EXPECT_FALSE(ZRNPrefsController::isONAndShowingCameraSettings());
  controller->selectModuleWithIdentifier("CameraPrefsPane");
  EXPECT_TRUE(ZRNPrefsController::isONAndShowingCameraSettings());
  bool told = true;
  ZRNPrefsController::setWindowShownHandler([&](bool shown) { told = shown; });
  controller->close();
  EXPECT_FALSE(told);
  EXPECT_FALSE(controller->isVisible());
  EXPECT_FALSE(ZRNPrefsController::isONAndShowingCameraSettings());
  EXPECT_EQ(ZRNPrefsController::sharedPreferencesController(), controller);
  controller->showWindow();
  EXPECT_TRUE(told);
  EXPECT_EQ(controller->currentModule()->identifier(), "CameraPrefsPane");
  ZRNPrefsController::setWindowShownHandler({});
}
