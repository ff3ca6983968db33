// Stopping a recording asks about the exports of the live recording's playback window: its waiting jobs
// count twice (waiting and pending), and the exports go with the window whether asked or not.

#include "app/ZRNAppDelegate.h"

#include "tests/app/AppTestSupport.h"
#include "common/ZRNAppPrefs.h"
#include "session/VLDocument.h"
#include "capture/VLLiveWC.h"
#include "composition/VL_ExportJobRecord.h"
#include "composition/ZRNJobsController.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/capture/VirtualDevices.h"
#include "playback/VLProgressivePlayWC.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QLabel>

#include <gtest/gtest.h>

TEST(LiveRecordingWindowExports, StopAsksWithTheWaitingJobCountedTwiceAndClearsTheExports) {
  Test_FreshPrefs();
  VirtualDevices_Plug(true, true);
  ZRNAppDelegate delegate;
  delegate.applicationWillFinishLaunching();
  gZRNAppPrefs->setCameraUID(QString::fromLatin1(kVirtualCameraUID));
  gZRNAppPrefs->setMicrophoneUID(QString::fromLatin1(kVirtualMicrophoneUID));
  VLLiveWC_MakeAndShow();
  ASSERT_TRUE(Test_WaitUntil([] { return VLLiveWC_Current() && VLLiveWC_Current()->savePanel() && VLLiveWC_Current()->savePanel()->isVisible(); }, 20000));
  QMetaObject::invokeMethod(VLLiveWC_Current()->savePanel(), "accept");
  ASSERT_TRUE(Test_WaitUntil([] { return !VLLiveWC_Current()->savePanel() || !VLLiveWC_Current()->savePanel()->isVisible(); }));

  const struct {
    const char* name;
    bool ask;
    const char* button;  // the answer to the question, when one is asked
    int result;
    bool exportsCleared;
  } cases[] = {{"asked and cancelled", true, "cancelBtn", -1001, false},
               {"not asked", false, nullptr, -1000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gZRNAppPrefs->setAskForCaptureStop(c.ask);
    auto document = std::make_shared<VLDocument>();
    auto job = std::make_shared<VL_ExportJobRecord>();
    job->setStatus(kJobStatusWaiting);
    document->jobsArray().append(job);
    QPointer<VLProgressivePlayWC> window = new VLProgressivePlayWC();
    window->setVlDocument(document);
    window->jobsController()->setJobsDoc(document);
    window->show();
    delegate.setCapturePlaybackWC(window);

    QString explanation;
    bool asked = false;
    if (c.button) {
      Test_AnswerNextModal(QString::fromLatin1(c.button), [&](QWidget* modal) {
        asked = true;
        for (auto* label : modal->findChildren<QLabel*>()) explanation += label->text();
      });
    }
    EXPECT_EQ(VLLiveWC_GetUserVerifiedCloseWithError(20001), c.result);
    EXPECT_EQ(asked, c.ask);
    if (c.ask) {
      // One waiting job counts as two pending exports: the question for several (20003).
      EXPECT_TRUE(explanation.contains(QStringLiteral("abort all pending exports"))) << "[" << explanation.toStdString() << "]";
    }
    Test_ProcessEvents(50);
    EXPECT_EQ(document->numberOfPendingJobs(), c.exportsCleared ? 0 : 1);
    EXPECT_EQ(window && window->isVisible(), !c.exportsCleared) << "the live recording's window closes with its exports";
    delegate.setCapturePlaybackWC(nullptr);
    delete window.data();
  }
  delete VLLiveWC_Current();
  delegate.applicationWillTerminate();
  VirtualDevices_Unplug(true, true);
}
