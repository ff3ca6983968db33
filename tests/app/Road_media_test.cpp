// The road of one recording, driven from launch through the application's own menus with the virtual
// camera and microphone: name it, record, watch and mark the recording while it runs, export a clip
// from it, stop, and find the saved session open with its clip beside it.

#include "app/ZRNAppDelegate.h"

#include "app/ZRNAppMenus.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNRecentDocument.h"
#include "capture/VLLiveWC.h"
#include "composition/ZRNJobsController.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "support/MediaTestSupport.h"
#include "platform/media/player/Player.h"
#include "platform/media/capture/VirtualDevices.h"
#include "playback/VLPlaybackWC.h"
#include "playback/VLProgressivePlayWC.h"
#include "playback/ZRNSynchroMovieControllerView.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
bool seekAndWait(VLPlaybackWC* window, double seconds) {
  const MediaTime time = MediaTimeMake(static_cast<int64_t>(seconds * 1000), 1000);
  window->player()->seekToTime(time, kMediaTimeZero, kMediaTimeZero);
  return Test_WaitUntil([&] { return std::abs(MediaTimeGetSeconds(window->player()->currentTime()) - seconds) < 0.001; });
}

VLPlaybackWC* savedSessionWindow(ZRNAppDelegate& delegate) {
  for (const QPointer<QWidget>& window : delegate.playbackWindows()) {
    auto* playback = qobject_cast<VLPlaybackWC*>(window.data());
    if (playback && playback->metaObject() == &VLPlaybackWC::staticMetaObject) return playback;
  }
  return nullptr;
}
}  // namespace

TEST(Road, RecordMarkExportWhileRecordingStopAndReopen) {
  Test_FreshPrefs(true);
  const QString folder = Test_MakeTempDir(QStringLiteral("road"));
  {
    ZRNAppPrefs prefs;
    Test_RecordFromVirtualDevices(prefs, folder, 2);
    prefs.setSegmentKBPS(2000);
  }

  // Launch: no files given, so a new live session starts and asks for the recording's name.
  ZRNAppDelegate delegate;
  QPointer<VLLiveWC> live = Test_LaunchToNamingPanel(delegate);
  ASSERT_TRUE(live);
  // Typed into the panel's name field, as a user names it.
  auto* nameField = live->savePanel()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(nameField, nullptr);
  nameField->setText(QStringLiteral("Road Match"));
  QMetaObject::invokeMethod(live->savePanel(), "accept");
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 20000));
  const QString package = folder + QStringLiteral("/Road Match.vlvidcapb");

  // Start Recording from the menu, with the live window in front.
  delegate.setKeyWindowForTesting(live);
  ZRNAppMenus* menus = delegate.mainMenu();
  ASSERT_TRUE(delegate.validateMenuItem(menus->action(QStringLiteral("startRecording"))));
  menus->action(QStringLiteral("startRecording"))->trigger();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->isRecording(); }, 10000));

  // Once the movie holds one and a half fragments its playback window exists, hidden.
  ASSERT_TRUE(Test_WaitUntil([&] { return delegate.capturePlaybackWC() != nullptr; }, 20000));
  QPointer<VLProgressivePlayWC> progressive = delegate.capturePlaybackWC();
  // From now on the end of its transport bar follows the recording, fragment by fragment.
  QList<double> ends;
  QTimer watchEnds;
  QObject::connect(&watchEnds, &QTimer::timeout, [&] {
    if (!progressive) return;
    const double end = MediaTimeGetSeconds(progressive->synchroMovieController()->maxSynchroTime());
    if (end > 0 && (ends.isEmpty() || end > ends.last())) ends << end;
  });
  watchEnds.start(10);
  EXPECT_FALSE(progressive->isVisible());
  QAction* show = menus->action(QStringLiteral("showRecFootage"));
  ASSERT_TRUE(delegate.validateMenuItem(show));
  EXPECT_EQ(show->text(), QStringLiteral("Show Live Recording"));
  show->trigger();
  ASSERT_TRUE(Test_WaitUntil([&] { return progressive->isVisible() && progressive->fragmentedAssetMinder(); }, 20000));
  EXPECT_EQ(progressive->windowTitle(), QStringLiteral("Road Match -- Live Recording"));
  Test_ProcessEvents(100);  // lets the first activation's seek run before the marks are set


  // Mark 0.5 s to 2 s in it and export that clip while the recording goes on.
  ASSERT_TRUE(seekAndWait(progressive, 0.5));
  progressive->defineInPoint();
  ASSERT_TRUE(Test_WaitUntil([&] { return progressive->inTimeMillis() == 500; }));
  ASSERT_TRUE(seekAndWait(progressive, 2.0));
  progressive->defineOutPoint();
  ASSERT_TRUE(Test_WaitUntil([&] { return progressive->outTimeMillis() == 2000; }));
  progressive->exportInOutClip();
  const QString clips = folder + QStringLiteral("/Road Match Clips");
  ASSERT_TRUE(Test_WaitUntil([&] {
    return progressive->jobsController()->numberOfJobs() == 1 && progressive->jobsController()->numberOfPendingJobs() == 0;
  }, 30000));
  const QStringList clipFiles = QDir(clips).entryList({QStringLiteral("VLClip_*")}, QDir::Files);
  ASSERT_EQ(clipFiles.size(), 1) << "clips folder: " << clips.toStdString();
  EXPECT_TRUE(live->isRecording());

  // 8 s recorded (as the live window counts it), then Stop from the menu, no question asked.
  const QDateTime started = progressive->vlDocument()->docCaptureDate();
  ASSERT_TRUE(started.isValid());
  ASSERT_TRUE(Test_WaitUntil([&] {
    return progressive && started.msecsTo(QDateTime::currentDateTime()) >= 8000 && ends.size() >= 3;
  }, 30000)) << "the duration must grow at least twice while recording";
  watchEnds.stop();
  ASSERT_TRUE(delegate.validateMenuItem(menus->action(QStringLiteral("stopRecording"))));
  menus->action(QStringLiteral("stopRecording"))->trigger();

  // The live recording's window closes; the saved session opens in its own window and tops the recents.
  ASSERT_TRUE(Test_WaitUntil([&] { return progressive.isNull(); }, 20000));
  ASSERT_TRUE(Test_WaitUntil([&] {
    VLPlaybackWC* saved = savedSessionWindow(delegate);
    return saved && saved->isVisible() && saved->windowTitle() == QStringLiteral("Road Match");
  }, 20000));
  ASSERT_NE(delegate.topRecentDoc(), nullptr);
  EXPECT_TRUE(delegate.topRecentDoc()->matches(ZRNRecentDocument(package)));
  EXPECT_FALSE(QFile::exists(package + QStringLiteral("/VLRecording.lock")));

  const double movieSeconds = TestMovie_Duration(package + QStringLiteral("/VLCapturedMovie.mp4"));
  EXPECT_GE(movieSeconds, 7.0);
  const double clipSeconds = TestMovie_Duration(clips + QLatin1Char('/') + clipFiles.first());
  EXPECT_NEAR(clipSeconds, 1.5, 0.1);

  for (const QPointer<QWidget>& window : delegate.playbackWindows()) delete window.data();
  delete live.data();
  delegate.applicationWillTerminate();
  VirtualDevices_Unplug(true, true);
}
