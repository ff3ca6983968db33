// The playback window keeps the display awake while its video plays: a hold on the desktop's screen
// saver (a stand-in org.freedesktop.ScreenSaver on a private session bus records the calls), taken on
// play and given back on pause, at the end and when the window closes.

#include "playback/VLPlaybackWC.h"

#include "platform/system/PrivateDBus.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/ZRNSynchroMovieControllerView.h"

#include <gtest/gtest.h>

TEST(PlaybackDisplaySleep, TheScreenSaverIsHeldOffOnlyWhileTheVideoPlays) {
  PrivateBusDaemon daemon;
  if (!daemon.isRunning()) GTEST_SKIP() << "dbus-daemon is not available";
  FakeDesktopOnBus desktop(daemon.address(), {QStringLiteral("org.freedesktop.ScreenSaver")});
  ASSERT_TRUE(desktop.isReady());
  ScopedEnvironment sessionBus("DBUS_SESSION_BUS_ADDRESS", daemon.address().toUtf8());
  FakeDesktopServices& screenSaver = desktop.services();

  const QString package = Test_MakeTempDir(QStringLiteral("sessions")) + QStringLiteral("/Derby.vlvidcapb");
  QDir().mkpath(package);
  ASSERT_TRUE(PlaybackTest_MakeMovie(package + QStringLiteral("/VLCapturedMovie.mov"), 3.0));
  PlaybackTest_Document(package)->updateSettingsFile();
  PlaybackTestHost host;
  QPointer<VLPlaybackWC> window = host.openPlayable(package);
  ASSERT_TRUE(window);
  ZRNSynchroMovieControllerView* transport = window->synchroMovieController();
  auto calls = [&] { return screenSaver.screenSaverCalls().size(); };
  Test_ProcessEvents(100);
  EXPECT_EQ(calls(), 0) << "an open, paused window holds nothing";

  // Play, pause.
  transport->togglePlay();
  ASSERT_TRUE(Test_WaitUntil([&] { return screenSaver.screenSaverHolds() == 1; }));
  transport->togglePlay();
  ASSERT_TRUE(Test_WaitUntil([&] { return calls() == 2 && screenSaver.screenSaverHolds() == 0; }));

  // Play to the end.
  transport->togglePlay();
  ASSERT_TRUE(Test_WaitUntil([&] { return screenSaver.screenSaverHolds() == 1; }));
  ASSERT_TRUE(Test_WaitUntil([&] { return window->player()->rate() == 0.0f; }, 20000));
  ASSERT_TRUE(Test_WaitUntil([&] { return calls() == 4 && screenSaver.screenSaverHolds() == 0; }));

  // Play, close the window.
  ASSERT_TRUE(PlaybackTestHost::seekTo(window, 0));
  transport->togglePlay();
  ASSERT_TRUE(Test_WaitUntil([&] { return screenSaver.screenSaverHolds() == 1; }));
  window->close();
  ASSERT_TRUE(Test_WaitUntil([&] { return calls() == 6 && screenSaver.screenSaverHolds() == 0; }));

  // Every hold was given back with its own cookie.
  const auto all = screenSaver.screenSaverCalls();
  for (qsizetype i = 0; i + 1 < all.size(); i += 2) {
    EXPECT_EQ(all[i].method, QStringLiteral("Inhibit"));
    EXPECT_EQ(all[i + 1].method, QStringLiteral("UnInhibit"));
    EXPECT_EQ(all[i + 1].cookie, all[i].cookie);
  }
}
