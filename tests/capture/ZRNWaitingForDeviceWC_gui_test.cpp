#include "capture/ZRNWaitingForDeviceWC.h"
#include "common/ZRNAlerts.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/media/capture/CaptureDevice.h"
#include "support/DialogTestSupport.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace {

void postConnected(const char* mediaType, const QString& uid) {
  NotificationCenter::defaultCenter().post(QString::fromLatin1(kCaptureDeviceWasConnectedNotification), nullptr,
                                           {{QStringLiteral("uniqueID"), uid},
                                            {QStringLiteral("mediaType"), QString::fromLatin1(mediaType)},
                                            {QStringLiteral("localizedName"), QStringLiteral("Some Device")}});
}

// Lets every main-thread event queued so far run.
void drainMainQueue() {
  bool drained = false;
  Dispatch_MainAsync([&] { drained = true; });
  ASSERT_TRUE(Test_WaitUntil([&] { return drained; }));
}

}  // namespace

TEST(WaitingDialog, LooksDarkWithARunningSpinner) {
  ZRNWaitingWindowController dialog(QStringLiteral("usb-cam-1"), QStringLiteral("Cam One"));
  EXPECT_FALSE(dialog.deviceIcon()->pixmap().isNull());
  EXPECT_EQ(dialog.progressIndicator()->maximum(), 0);
  EXPECT_LT(dialog.palette().color(QPalette::Window).lightness(), 80);
  EXPECT_GT(dialog.palette().color(QPalette::WindowText).lightness(), 180);
  EXPECT_TRUE(dialog.cancelBtn()->isHidden());
}

TEST(WaitingDialog, TextAndButtonFollowTheErrorType) {
  struct Case {
    MediaType type;
    int errorType;
    const char* text;  // title, blank line, explanation
    const char* button;
    bool spinnerShown;
    const char* savedName = "Cam 100% One";
  };
  const Case cases[] = {
      {MediaType::Video, -3,
       "No cameras were found...\n\nCheck whether a camera is connected and properly setup and try again.", "Cancel",
       false},
      {MediaType::Audio, -3,
       "No microphones were found...\n\nCheck whether an audio recording device is connected and properly setup and "
       "try again, or choose to forgo audio recording.",
       "Ignore Audio", false},
      {MediaType::Video, -2,
       "No cameras were found...\n\nCheck whether your camera is connected and properly setup and try again.",
       "Cancel", true},
      {MediaType::Audio, -2,
       "No microphones were found...\n\nCheck whether your audio recording device is connected and properly setup "
       "and try again, or choose to forgo audio recording.",
       "Ignore Audio", true},
      {MediaType::Video, -1,
       "Waiting for last used device 'Cam 100% One' to become available...\n\nIf this dialog persists, check whether "
       "the device is properly setup or click the button below to use another device.",
       "Forget device", true},
      // No name saved: nothing to quote, rather than a pair of empty quotes.
      {MediaType::Video, -1,
       "Waiting for the last used device to become available...\n\nIf this dialog persists, check whether "
       "the device is properly setup or click the button below to use another device.",
       "Forget device", true, ""},
      {MediaType::Video, -7, "", "OK", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errorType);
    ZRNWaitingWindowController dialog(QStringLiteral("uid"), QString::fromUtf8(c.savedName));
    dialog.setDeviceType(c.type);
    dialog.setErrorType(c.errorType);
    EXPECT_EQ(Test_LabelText(dialog.mainTextfield()), QString::fromUtf8(c.text));
    EXPECT_EQ(dialog.okBtn()->text(), QString::fromUtf8(c.button));
    EXPECT_EQ(!dialog.progressIndicator()->isHidden(), c.spinnerShown);
  }
}

TEST(WaitingDialog, SettingTheSameErrorTypeAgainKeepsTheText) {
  ZRNWaitingWindowController dialog(QStringLiteral("uid"), QStringLiteral("Cam"));
  dialog.setErrorType(-1);
  dialog.mainTextfield()->setText(QStringLiteral("left alone"));
  dialog.okBtn()->setText(QStringLiteral("left alone too"));
  dialog.setErrorType(-1);
  EXPECT_EQ(dialog.mainTextfield()->text(), QStringLiteral("left alone"));
  EXPECT_EQ(dialog.okBtn()->text(), QStringLiteral("left alone too"));
  dialog.setErrorType(-2);
  EXPECT_TRUE(Test_LabelText(dialog.mainTextfield()).startsWith(QStringLiteral("No cameras were found...")));
}

// Devices are plugged through the platform's registry, which announces them from its own thread.
TEST(WaitingDialog, EndsWhenTheAwaitedDeviceArrives) {
  struct Case {
    const char* name;
    MediaType type;
    const char* savedUID;
    MediaType connectedType;
    const char* connectedUID;
    bool ends;
  };
  const Case cases[] = {
      {"any camera when none is saved", MediaType::Video, "", MediaType::Video, "usb-new", true},
      {"the saved camera", MediaType::Video, "usb-cam-1", MediaType::Video, "usb-cam-1", true},
      {"another camera", MediaType::Video, "usb-cam-1", MediaType::Video, "usb-cam-2", false},
      {"a microphone while waiting for a camera", MediaType::Video, "", MediaType::Audio, "mic-1", false},
      {"any microphone when none is saved", MediaType::Audio, "", MediaType::Audio, "mic-1", true},
      {"a camera while waiting for a microphone", MediaType::Audio, "mic-1", MediaType::Video, "mic-1", false},
  };
  CaptureDeviceRegistry& registry = CaptureDeviceRegistry::shared();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZRNWaitingWindowController dialog(QString::fromLatin1(c.savedUID), QStringLiteral("Device"));
    dialog.setDeviceType(c.type);
    dialog.setErrorType(-1);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.open();
    CaptureDevice::Description d;
    d.uniqueID = QString::fromLatin1(c.connectedUID);
    d.localizedName = QStringLiteral("Some Device");
    d.mediaType = c.connectedType;
    std::thread([&] { registry.addDevice(std::make_shared<CaptureDevice>(d)); }).join();
    if (c.ends) {
      ASSERT_TRUE(Test_WaitUntil([&] { return finished.count() == 1; }));
      EXPECT_EQ(finished.first().first().toInt(), -1001);
    } else {
      drainMainQueue();
      EXPECT_EQ(finished.count(), 0);
      dialog.okBtn()->click();
      ASSERT_EQ(finished.count(), 1);
      EXPECT_EQ(finished.first().first().toInt(), -1000);
    }
    registry.removeAllAddedDevices();
  }
}

TEST(WaitingDialog, RunsModalAndStopsListeningOnceEnded) {
  auto dialog = std::make_unique<ZRNWaitingWindowController>(QString(), QStringLiteral("Device"));
  dialog->setErrorType(-2);
  QTimer::singleShot(0, [] { postConnected("vide", QStringLiteral("usb-late")); });
  EXPECT_EQ(Alert_RunAlertModal(dialog.get()), -1001);

  // Its one button reads "Cancel" here: Escape answers as it does.
  QSignalSpy finished(dialog.get(), &QDialog::finished);
  dialog->open();
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  EXPECT_FALSE(dialog->isVisible());
  ASSERT_EQ(finished.count(), 1);
  EXPECT_EQ(finished.first().first().toInt(), -1000);
  // Ended by its button: a device arriving later changes nothing.
  postConnected("vide", QStringLiteral("usb-later"));
  drainMainQueue();
  EXPECT_EQ(finished.count(), 1);

  // A dialog that is gone no longer hears of devices.
  dialog.reset();
  postConnected("vide", QStringLiteral("usb-after"));
  drainMainQueue();
}

// Escape gives the wait up only where the one button reads "Cancel"; "Forget device" and "Ignore Audio"
// change what is recorded and are chosen with the button alone. The window is named by what it awaits.
TEST(WaitingDialog, EscapeAnswersOnlyAsCancel) {
  const struct {
    MediaType type;
    int errorType;
    bool ends;
    const char* title;
  } cases[] = {{MediaType::Video, -2, true, "Waiting for a Camera"},     {MediaType::Video, -3, true, "Waiting for a Camera"},
               {MediaType::Video, -1, false, "Waiting for a Camera"},    {MediaType::Audio, -2, false, "Waiting for a Microphone"},
               {MediaType::Audio, -3, false, "Waiting for a Microphone"}, {MediaType::Audio, -1, false, "Waiting for a Microphone"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.errorType);
    SCOPED_TRACE(c.title);
    ZRNWaitingWindowController dialog(QStringLiteral("uid"), QStringLiteral("Device"));
    dialog.setDeviceType(c.type);
    dialog.setErrorType(c.errorType);
    EXPECT_EQ(dialog.windowTitle(), c.title);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.open();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(finished.count(), c.ends ? 1 : 0);
    if (c.ends) EXPECT_EQ(finished.first().first().toInt(), -1000);
    EXPECT_EQ(dialog.isVisible(), !c.ends);
  }
}
