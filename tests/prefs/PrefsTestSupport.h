#pragma once
// The preferences window as the tests meet it: fresh preferences and device lists, the shared window
// made anew for each test, and a user's choice in a pop-up.

#include "capture/CaptureTestSupport.h"
#include "platform/foundation/UserDefaults.h"
#include "prefs/MBPreferencesController.h"
#include "prefs/ZRNPrefsController.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QStringList>

class PrefsWindowFixture : public CaptureDevicesFixture {
 protected:
  void SetUp() override {
    CaptureDevicesFixture::SetUp();
    ZRNPrefsController::releaseSharedController();
  }
  void TearDown() override {
    ZRNPrefsController::releaseSharedController();
    Test_ProcessEvents(20);
    CaptureDevicesFixture::TearDown();
  }
  // The shared window, shown on the module it chooses itself.
  ZRNPrefsController* openWindow() {
    ZRNPrefsController* controller = ZRNPrefsController::sharedPreferencesController();
    controller->showWindow();
    return controller;
  }
  static void waitForResize(ZRNPrefsController* controller) {
    ASSERT_TRUE(Test_WaitUntil([&] { return !controller->isResizing(); }));
  }
};

// What a user's choice of an item does: the item is selected and the pop-up's action runs.
inline void Test_Choose(QComboBox* popup, int index) {
  popup->setCurrentIndex(index);
  emit popup->activated(index);
}

inline QStringList Test_Items(const QComboBox* popup) {
  QStringList items;
  for (int i = 0; i < popup->count(); ++i) items << popup->itemText(i);
  return items;
}
