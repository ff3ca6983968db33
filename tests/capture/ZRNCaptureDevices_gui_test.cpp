#include "capture/ZRNCaptureDevices.h"

#include "support/DialogTestSupport.h"
#include "capture/CaptureTestSupport.h"
#include "capture/ZRNWaitingForDeviceWC.h"
#include "platform/foundation/DispatchQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

namespace {

// The presence checks run where the live window runs them: on a capture-session queue, while the
// main thread keeps its event loop. The waiting dialog must show on the main thread meanwhile.
class PresenceTest : public CaptureDevicesFixture {
 protected:
  // Runs the check and answers its waiting dialog with OK from inside the dialog's event loop; `shown`
  // gets the dialog's error type, device type and saved device.
  std::optional<bool> runAnsweringOK(bool (*check)(), QString* shown) {
    Test_AnswerNextModal(QStringLiteral("okBtn"), [shown](QWidget* modal) {
      if (auto* dialog = qobject_cast<ZRNWaitingWindowController*>(modal))
        *shown = QStringLiteral("%1 %2 %3")
                     .arg(dialog->errorType())
                     .arg(dialog->deviceType() == MediaType::Audio ? QStringLiteral("audio") : QStringLiteral("video"),
                          dialog->savedUID());
    });
    std::atomic<int> answer{-1};
    queue->async([&answer, check] { answer = check() ? 1 : 0; });
    if (!Test_WaitUntil([&] { return answer.load() >= 0; }, 20000)) return std::nullopt;
    return answer.load() == 1;
  }
  std::shared_ptr<DispatchQueue> queue = DispatchQueue::create(QStringLiteral("test.capture"));
};

}  // namespace

TEST_F(PresenceTest, ForgettingAMissingCameraChoosesAConnectedOne) {
  addDevice(TestCamera("cam-present", "Present", {{FourCC("2vuy"), 1280, 720, {{30, 30}}}}));
  prefs->setCameraUID("cam-gone");
  QString shown;
  EXPECT_EQ(runAnsweringOK(&CapDev_CheckCameraPresence, &shown), std::optional<bool>(true));
  EXPECT_EQ(shown, "-1 video cam-gone");
  EXPECT_EQ(prefs->cameraUID(), "cam-present");
}

TEST_F(PresenceTest, IgnoringAudioWithoutMicrophonesAnswersNo) {
  if (!CaptureDevice::devicesWithMediaType(MediaType::Audio).empty()) GTEST_SKIP() << "this machine has microphones of its own";
  prefs->setMicrophoneUID("mic-gone");
  QString shown;
  EXPECT_EQ(runAnsweringOK(&CapDev_CheckMicrophonePresence, &shown), std::optional<bool>(false));
  EXPECT_TRUE(shown.startsWith("-2 audio")) << shown.toStdString();
}
