// Watching the recording while it is made: the live recording's window, shown a few seconds into a
// recording from the virtual camera and played at once, keeps playing into every new fragment, and a goal
// pressed while it plays lands at the time it shows.

#include "app/ZRNAppDelegate.h"

#include "common/ZRNAppPrefs.h"
#include "capture/VLLiveWC.h"
#include "platform/media/player/Player.h"
#include "platform/media/player/PlayerItem.h"
#include "platform/media/capture/VirtualDevices.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/VLProgressivePlayWC.h"
#include "playback/ZRNSynchroMovieControllerView.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {
double seconds(const MediaTime& time) { return MediaTimeGetSeconds(time); }

// The home goals in the session's settings file, in milliseconds.
QList<qint64> savedHomeGoals(const QString& package) {
  QFile file(package + QStringLiteral("/VLSettings.json"));
  QList<qint64> goals;
  if (!file.open(QIODevice::ReadOnly)) return goals;
  const QJsonArray tags = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("tags")).toArray();
  for (const QJsonValue& tag : tags) {
    const QJsonObject record = tag.toObject();
    if (record.value(QStringLiteral("tagTitle")).toString() == QLatin1String("teamGoal") &&
        record.value(QStringLiteral("teamNum")).toInteger() == 1)
      goals << record.value(QStringLiteral("eventMillis")).toInteger();
  }
  return goals;
}
}  // namespace

TEST(LiveRecordingPlayback, PlaysOnIntoEveryNewFragmentAndMarksAtTheTimeShown) {
  constexpr double kFragment = 2.0;
  constexpr double kFrame = 1.0 / 30;
  Test_FreshPrefs(true);
  const QString folder = Test_MakeTempDir(QStringLiteral("live-playback"));
  {
    ZRNAppPrefs prefs;
    Test_RecordFromVirtualDevices(prefs, folder, static_cast<int>(kFragment));
    prefs.setMovieSize(QSizeF(640, 360));
    prefs.setCaptureFPS(30);
    prefs.setSegmentKBPS(1000);
    prefs.setPreviewShowsLastFrame(false);
  }
  ZRNAppDelegate delegate;
  QPointer<VLLiveWC> live = Test_LaunchAndRecord(delegate);
  ASSERT_TRUE(live);
  QElapsedTimer recording;
  recording.start();
  QStringList packages;
  ASSERT_TRUE(Test_WaitUntil([&] {
    packages = QDir(folder).entryList({QStringLiteral("*.vlvidcapb")}, QDir::Dirs);
    return packages.size() == 1;
  }));
  const QString package = folder + QLatin1Char('/') + packages.first();

  // Three seconds in, "Show Recording", and Space on the picture.
  // (The button shows once the movie is playable.)
  ASSERT_TRUE(Test_WaitUntil([&] {
    return live->showFootageBtn()->isVisible() && live->showFootageBtn()->isEnabled() && recording.elapsed() >= 3000;
  }, 20000));
  live->showFootageBtn()->click();
  ASSERT_TRUE(Test_WaitUntil([&] {
    VLProgressivePlayWC* window = delegate.capturePlaybackWC();
    return window && window->isVisible() && window->fragmentedAssetMinder() && window->player()->currentItem() &&
           window->player()->currentItem()->status() == PlayerItemStatus::ReadyToPlay;
  }, 20000)) << "window " << (delegate.capturePlaybackWC() != nullptr) << " shown "
             << (delegate.capturePlaybackWC() && delegate.capturePlaybackWC()->isVisible()) << " minder "
             << (delegate.capturePlaybackWC() && delegate.capturePlaybackWC()->fragmentedAssetMinder());
  QPointer<VLProgressivePlayWC> window = delegate.capturePlaybackWC();
  ZRNSynchroMovieControllerView* bar = window->synchroMovieController();
  const std::shared_ptr<Player> player = window->player();
  Test_ProcessEvents(100);  // the first activation's seek to the usable start
  EXPECT_EQ(bar->playBtn()->accessibleName(), QStringLiteral("Play"));
  // Every picture shown from now on: none may come from before the one shown last.
  QList<double> shown;
  QObject::connect(player.get(), &Player::videoFrameChanged, [&] {
    if (auto item = player->currentItem(); item && item->currentVideoFrameTime().isNumeric())
      shown << seconds(item->currentVideoFrameTime());
  });
  QTest::keyClick(window->playerView(), Qt::Key_Space);
  ASSERT_TRUE(Test_WaitUntil([&] { return player->rate() == 1.0f && bar->playBtn()->accessibleName() == QStringLiteral("Pause"); }));

  // Sampled every second while the recording grows to 20 s.
  QElapsedTimer clock;
  clock.start();
  double lastTime = seconds(player->currentTime());
  qint64 lastClock = 0;
  int advancing = 0;
  int samples = 0;
  bool goalPressed = false;
  double goalShownAt = -1;
  while (recording.elapsed() < 20000) {
    Test_ProcessEvents(1000);
    const double now = seconds(player->currentTime());
    const qint64 at = clock.elapsed();
    const double advance = now - lastTime;
    const double elapsed = (at - lastClock) / 1000.0;
    const double end = seconds(bar->maxSynchroTime());
    ++samples;
    SCOPED_TRACE(::testing::Message() << "sample " << samples << " at " << now << " s, end " << end << " s, advanced "
                                      << advance << " s in " << elapsed << " s");
    EXPECT_GE(advance, 0.0) << "the picture never goes back";
    const bool normalSpeed = std::abs(advance - elapsed) < 0.2;
    // Anything short of normal speed may only happen at the growing end, waiting for the next fragment.
    EXPECT_TRUE(normalSpeed || end - now <= kFragment);
    if (normalSpeed) ++advancing;
    EXPECT_EQ(player->rate(), 1.0f);
    EXPECT_EQ(bar->playBtn()->accessibleName(), QStringLiteral("Pause"));
    EXPECT_EQ(bar->playBtnImageName(), QStringLiteral("zrn_av_cine_pause_plain"));
    if (!goalPressed && samples == 6) {
      // The home team scores: the goal lands at the time the picture shows.
      goalShownAt = seconds(player->currentTime());
      window->addHomeTeamGoal();
      goalPressed = true;
    }
    lastTime = now;
    lastClock = at;
  }
  EXPECT_GE(samples, 14);
  int backwards = 0;
  for (qsizetype i = 1; i < shown.size(); ++i)
    if (shown[i] < shown[i - 1]) ++backwards;
  EXPECT_EQ(backwards, 0) << "pictures shown: " << shown.size();
  EXPECT_GT(shown.size(), 250) << "about one picture for each 1/30 s played";
  EXPECT_GE(advancing, samples - 1) << "it plays on at normal speed, not from fragment to fragment";
  EXPECT_GT(lastTime, 12.0);

  ASSERT_TRUE(goalPressed);
  ASSERT_EQ(window->teamGoals().size(), 1);
  EXPECT_NEAR(window->teamGoals().first().eventMillis() / 1000.0, goalShownAt, kFrame);
  const QList<qint64> saved = savedHomeGoals(package);
  ASSERT_EQ(saved.size(), 1);
  EXPECT_NEAR(saved.first() / 1000.0, goalShownAt, kFrame);

  live->toggleCapture();
  ASSERT_TRUE(Test_WaitUntil([&] { return window.isNull() && live.isNull(); }, 30000));
  delegate.applicationWillTerminate();
  VirtualDevices_Unplug(true, true);
}
