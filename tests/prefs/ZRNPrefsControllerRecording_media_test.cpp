#include "prefs/ZRNPrefsController.h"

#include "capture/VLLiveWC.h"
#include "platform/media/capture/VirtualDevices.h"
#include "prefs/PrefsTestSupport.h"
#include "prefs/VLCameraPrefsTabVC.h"
#include "prefs/VLExportPrefsTabVC.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

class PrefsWhileRecording : public PrefsWindowFixture {
 protected:
  void TearDown() override {
    ZRNPrefsController::releaseSharedController();
    delete live.data();
    Test_ProcessEvents(50);
    VirtualDevices_Unplug(true, true);
    PrefsWindowFixture::TearDown();
  }
  QPointer<VLLiveWC> live;
};

}  // namespace

// While a recording runs the camera cannot be changed: its module is neither offered nor reachable, and
// the recording's bit rate is fixed.
TEST_F(PrefsWhileRecording, OffersOnlyTheExportAndUpdateModules) {
  const QString folder = Test_MakeTempDir("recordings");
  prefs->setSaveTargetDirectory(QUrl::fromLocalFile(folder));
  prefs->setMovieSize(QSizeF(640, 360));
  prefs->setCaptureFPS(30);
  prefs->setFragmentSeconds(1);
  prefs->setAskForCaptureStop(false);
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  prefs->setMicrophoneUID(kVirtualMicrophoneUID);
  UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("CameraPrefsPane"));
  ZRNPrefsController* controller = openWindow();

  live = new VLLiveWC;
  live->show();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->savePanel() && live->savePanel()->isVisible(); }));
  QMetaObject::invokeMethod(live->savePanel(), "accept");
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
  live->recordButton()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->isRecording(); }));
  const CaptureSessionRef session = live->captureSession();

  // The camera module shown when the recording started gives way, and a change still pending in it
  // leaves the recording's session alone.
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->currentModule()->identifier() == "ExportPrefsPane"; }));
  controller->cameraTab()->handleSettingsChange(true, true, false);
  Test_ProcessEvents(100);
  EXPECT_EQ(live->captureSession(), session);
  controller->showWindow();
  EXPECT_FALSE(controller->toolbarItem("CameraPrefsPane")->isVisible());
  EXPECT_TRUE(controller->toolbarItem("ExportPrefsPane")->isVisible());
  EXPECT_TRUE(controller->toolbarItem("UpdatesPrefsPane")->isVisible());
  EXPECT_EQ(controller->toolbarAllowedItemIdentifiers(), QStringList({"ExportPrefsPane", "UpdatesPrefsPane"}));
  EXPECT_FALSE(controller->cameraTab()->isEnabled());
  EXPECT_FALSE(controller->exportTab()->kbpsField()->isEnabled());
  EXPECT_TRUE(controller->exportTab()->secsBefore()->isEnabled());

  controller->toolbarItem("CameraPrefsPane")->trigger();
  EXPECT_EQ(controller->currentModule()->identifier(), "ExportPrefsPane");
  EXPECT_TRUE(controller->toolbarItem("ExportPrefsPane")->isChecked());
  // Closing the window does not touch the session being recorded.
  controller->close();
  Test_ProcessEvents(100);
  EXPECT_EQ(live->captureSession(), session);
  EXPECT_TRUE(live->isRecording());

  // Once the recording has stopped, the camera module is back.
  live->recordButton()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return !live || !live->isRecording(); }, 20000));
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->toolbarItem("CameraPrefsPane")->isVisible(); }, 20000));
  controller->toolbarItem("CameraPrefsPane")->trigger();
  EXPECT_EQ(controller->currentModule()->identifier(), "CameraPrefsPane");
}
