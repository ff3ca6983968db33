#include "capture/ZRNCaptureDevices.h"

#include "app/DialogTestSupport.h"
#include "capture/CaptureTestSupport.h"
#include "capture/ZRNWaitingForDeviceWC.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/media/VirtualDevices.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QPushButton>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

namespace {

// The presence checks run where the live window runs them: on a capture-session queue, while the
// main thread keeps its event loop. The waiting dialog must show on the main thread meanwhile.
class PresenceTest : public CaptureDevicesFixture {
 protected:
  void TearDown() override {
    VirtualDevices_Unplug(true, true);
    CaptureDevicesFixture::TearDown();
  }
  std::optional<bool> runOnSessionQueue(bool (*check)()) {
    std::atomic<int> answer{-1};
    queue->async([&answer, check] { answer = check() ? 1 : 0; });
    if (!Test_WaitUntil([&] { return answer.load() >= 0; }, 20000)) return std::nullopt;
    return answer.load() == 1;
  }
  // The dialog runs in a nested event loop of the main thread; it is looked at and answered from
  // inside that loop. `button` empty leaves it to end by itself.
  struct Seen {
    int errorType = 0;
    MediaType type = MediaType::Video;
    QString uid;
    QString buttonTitle;
    bool shown = false;
  };
  std::shared_ptr<Seen> answerDialog(const QString& button, std::function<void()> whileShown = {}) {
    auto seen = std::make_shared<Seen>();
    Test_AnswerNextModal(button, [seen, whileShown](QWidget* modal) {
      auto* dialog = qobject_cast<ZRNWaitingWindowController*>(modal);
      if (!dialog) return;
      seen->shown = true;
      seen->errorType = dialog->errorType();
      seen->type = dialog->deviceType();
      seen->uid = dialog->savedUID();
      seen->buttonTitle = dialog->okBtn()->text();
      if (whileShown) whileShown();
    });
    return seen;
  }
  std::shared_ptr<DispatchQueue> queue = DispatchQueue::create(QStringLiteral("test.capture"));
};

}  // namespace

TEST_F(PresenceTest, ForgettingAMissingCameraChoosesAConnectedOne) {
  addDevice(TestCamera("cam-present", "Present", {{FourCC("2vuy"), 1280, 720, {{30, 30}}}}));
  prefs->setCameraUID("cam-gone");
  prefs->setCameraName("Gone");
  auto seen = answerDialog(QStringLiteral("okBtn"));
  EXPECT_EQ(runOnSessionQueue(&CapDev_CheckCameraPresence), std::optional<bool>(true));
  EXPECT_TRUE(seen->shown);
  EXPECT_EQ(seen->errorType, -1);
  EXPECT_EQ(seen->uid, "cam-gone");
  EXPECT_EQ(seen->buttonTitle, "Forget device");
  EXPECT_EQ(prefs->cameraUID(), "cam-present");
  EXPECT_FALSE(lists().camerasArray.empty());
}

TEST_F(PresenceTest, ArrivingCameraEndsTheWaitAndKeepsTheChoice) {
  VirtualDevices_Plug(false, true);
  prefs->setCameraUID(kVirtualCameraUID);
  // Plugged while the dialog shows: it ends by itself.
  auto seen = answerDialog(QString(), [] { VirtualDevices_Plug(true, false); });
  EXPECT_EQ(runOnSessionQueue(&CapDev_CheckCameraPresence), std::optional<bool>(true));
  EXPECT_TRUE(seen->shown);
  EXPECT_EQ(prefs->cameraUID(), kVirtualCameraUID);
}

TEST_F(PresenceTest, IgnoringAudioWithoutMicrophonesAnswersNo) {
  if (!CaptureDevice::devicesWithMediaType(MediaType::Audio).empty()) GTEST_SKIP() << "this machine has microphones of its own";
  prefs->setMicrophoneUID("mic-gone");
  auto seen = answerDialog(QStringLiteral("okBtn"));
  EXPECT_EQ(runOnSessionQueue(&CapDev_CheckMicrophonePresence), std::optional<bool>(false));
  EXPECT_EQ(seen->errorType, -2);
  EXPECT_EQ(seen->type, MediaType::Audio);
  EXPECT_EQ(seen->buttonTitle, "Ignore Audio");
}

TEST_F(PresenceTest, PresentDevicesNeedNoDialog) {
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  prefs->setMicrophoneUID(kVirtualMicrophoneUID);
  EXPECT_EQ(runOnSessionQueue(&CapDev_CheckCameraPresence), std::optional<bool>(true));
  EXPECT_EQ(runOnSessionQueue(&CapDev_CheckMicrophonePresence), std::optional<bool>(true));
  EXPECT_EQ(prefs->microphoneUID(), kVirtualMicrophoneUID);
  EXPECT_TRUE(prefs->hasAudioDevice());
  ASSERT_FALSE(lists().microphonesArray.empty());
  EXPECT_EQ(lists().microphonesArray[size_t(prefs->microphoneIndex())]->uniqueID(), kVirtualMicrophoneUID);
}
