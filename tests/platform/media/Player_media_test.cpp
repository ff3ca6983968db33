#include "platform/media/asset/Asset.h"
#include "platform/media/player/Player.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/media/asset/Composition.h"
#include "platform/media/player/PlayerItem.h"
#include "support/TestSupport.h"
#include "PlayerTestMovie.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class PlayerMedia : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = Test_MakeTempDir(QStringLiteral("player"));
    s_movie = PlayerTest_MakeMovie(s_folder, 4.0);
    s_pics = PlayerTest_Pictures(s_movie);
  }

  std::shared_ptr<PlayerItem> readyItem(const QString& path) {
    auto item = PlayerItem::itemWithPath(path);
    EXPECT_TRUE(Test_WaitUntil([&] { return item->status() != PlayerItemStatus::Unknown; }));
    return item;
  }

  // Exact seek and wait for it to finish; answers whether it finished.
  static bool seekExactly(Player& player, double seconds) {
    bool done = false, finished = false;
    player.seekToTime(MediaTimeMakeWithSeconds(seconds, 600), kMediaTimeZero, kMediaTimeZero, [&](bool ok) {
      done = true;
      finished = ok;
    });
    Test_WaitUntil([&] { return done; });
    return finished;
  }

  // The item shows picture `index` of the movie: same checksum as ffmpeg's decode of it.
  static bool showsPicture(const PlayerItem& item, size_t index) {
    return index < s_pics.size() && PlayerTest_PictureChecksum(item.currentVideoFrame()) == s_pics[index].md5;
  }
  static double seconds(size_t index) { return s_pics[index].seconds; }
  static size_t at(double t) { return PlayerTest_PictureAt(s_pics, t); }

  static inline QString s_folder, s_movie;
  static inline std::vector<PlayerTestPicture> s_pics;
};

TEST_F(PlayerMedia, LoadsAndExactSeekShowsThePictureOfTheTarget) {
  ASSERT_GE(s_pics.size(), 100u);
  auto missing = readyItem(s_folder + QStringLiteral("/nothing-here.mp4"));
  EXPECT_EQ(missing->status(), PlayerItemStatus::Failed);
  EXPECT_FALSE(missing->errorString().isEmpty());
  const int64_t opened = Asset_InputsOpened();
  auto item = readyItem(s_movie);
  ASSERT_EQ(item->status(), PlayerItemStatus::ReadyToPlay);
  EXPECT_NEAR(MediaTimeGetSeconds(item->duration()), 4.0, 0.05);
  {
    // The probe's open serves the first picture too.
    Player first(item);
    ASSERT_TRUE(Test_WaitUntil([&] { return showsPicture(*item, 0); }));
    EXPECT_EQ(Asset_InputsOpened() - opened, 1);
  }
  EXPECT_TRUE(item->hasVideo() && item->hasAudio());
  EXPECT_EQ(item->presentationSize(), QSize(160, 120));
  Player player(item);
  ASSERT_TRUE(Test_WaitUntil([&] { return showsPicture(*item, 0); }));
  // Mid-GOP targets, targets between two pictures and on a picture's start, the first picture, a key
  // frame, the last picture and beyond the end.
  const double targets[] = {2.5, 1.49, seconds(75), seconds(75) - 1e-3, 0.0, 1.0, 3.95, 2.999, 9.0};
  for (double target : targets) {
    SCOPED_TRACE(target);
    ASSERT_TRUE(seekExactly(player, target));
    const size_t expected = target > 8 ? s_pics.size() - 1 : at(target);
    EXPECT_TRUE(showsPicture(*item, expected));
    EXPECT_NEAR(MediaTimeGetSeconds(item->currentVideoFrameTime()), seconds(expected), 1e-4);
    const double expectedTime = std::min(target, MediaTimeGetSeconds(item->duration()));
    EXPECT_NEAR(MediaTimeGetSeconds(player.currentTime()), expectedTime, 1e-3);
  }
}

TEST_F(PlayerMedia, StepByCountMovesWholePictures) {
  auto item = readyItem(s_movie);
  Player player(item);
  ASSERT_TRUE(seekExactly(player, seconds(75)));
  struct Step {
    int count;
    size_t picture;
  };
  const Step steps[] = {{1, 76}, {1, 77}, {-1, 76}, {-1, 75}, {-3, 72}, {5, 77}, {-90, 0}, {2, 2}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.count);
    item->stepByCount(s.count);
    ASSERT_TRUE(Test_WaitUntil([&] { return showsPicture(*item, s.picture); }));
    ASSERT_TRUE(Test_WaitUntil([&] { return std::abs(MediaTimeGetSeconds(player.currentTime()) - seconds(s.picture)) < 1e-4; }));
  }
  EXPECT_EQ(player.rate(), 0.0f);
}

TEST_F(PlayerMedia, PeriodicObserverRunsOnTheMainQueueWhilePlaying) {
  auto item = readyItem(s_movie);
  Player player(item);
  player.setVolume(0.0f);
  ASSERT_TRUE(Test_WaitUntil([&] { return item->currentVideoFrame() != nullptr; }));
  std::vector<double> times;
  bool offMain = false;
  player.addPeriodicTimeObserverForInterval(MediaTimeMake(6, 60), [&](const MediaTime& t) {
    offMain = offMain || QThread::currentThread() != QCoreApplication::instance()->thread();
    times.push_back(MediaTimeGetSeconds(t));
  });
  player.setRate(1.0f);
  ASSERT_TRUE(Test_WaitUntil([&] { return MediaTimeGetSeconds(player.currentTime()) >= 1.0; }));
  player.setRate(0.0f);
  EXPECT_FALSE(offMain);
  ASSERT_GE(times.size(), 8u);
  // Rising times, at most one report per 0.1 s interval of item time while playing.
  for (size_t i = 1; i + 1 < times.size(); ++i) {
    EXPECT_GE(times[i], times[i - 1]);
    EXPECT_NE(static_cast<int>(times[i] / 0.1 + 1e-9), static_cast<int>(times[i - 1] / 0.1 + 1e-9)) << i;
  }
}

TEST_F(PlayerMedia, StartsAtTheItemTimeAtTheHostTime) {
  auto item = readyItem(s_movie);
  Player player(item);
  player.setAutomaticallyWaitsToMinimizeStalling(false);
  player.setVolume(0.0f);
  const MediaTime start = MediaTimeMake(2, 1);
  const MediaTime host = MediaTimeAdd(player.masterClockTime(), MediaTimeMake(1, 1));
  player.setRate(1.0f, start, host);
  // Until the host time comes the item stays at T.
  EXPECT_EQ(MediaTime_Millis(player.currentTime()), 2000);
  ASSERT_TRUE(Test_WaitUntil([&] { return showsPicture(*item, at(2.0)); }));
  ASSERT_TRUE(Test_WaitUntil([&] { return MediaTimeCompare(HostClock_Now(), host) > 0; }));
  if (player.isFollowingAudioClock()) GTEST_SKIP() << "the clock follows a sound device here";
  // From then on item time is T plus the host time passed since H.
  for (int i = 0; i < 3; ++i) {
    const MediaTime before = HostClock_Now();
    const double now = MediaTimeGetSeconds(player.currentTime());
    const MediaTime after = HostClock_Now();
    EXPECT_GE(now + 1e-6, 2.0 + MediaTimeGetSeconds(MediaTimeSubtract(before, host)));
    EXPECT_LE(now - 1e-6, 2.0 + MediaTimeGetSeconds(MediaTimeSubtract(after, host)));
    Test_ProcessEvents(30);
  }
  player.setRate(0.0f);
}

TEST_F(PlayerMedia, PlayingToTheEndStopsThereAndNotifies) {
  auto item = readyItem(s_movie);
  Player player(item);
  player.setVolume(0.0f);
  int ends = 0;
  auto& center = NotificationCenter::defaultCenter();
  NotificationObservation observation(center, center.addObserver(QString::fromLatin1(kPlayerItemDidPlayToEndTimeNotification),
                                                                 item.get(), [&](const Notification&) { ++ends; }));
  ASSERT_TRUE(seekExactly(player, 3.6));
  player.setRate(2.0f);
  ASSERT_TRUE(Test_WaitUntil([&] { return ends == 1; }));
  EXPECT_TRUE(showsPicture(*item, s_pics.size() - 1));
  Test_ProcessEvents(50);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(player.rate(), 0.0f);
  EXPECT_EQ(player.currentTime(), item->duration());
}

// Both items hold the source's 1..2 s, half a second of nothing, then 3..3.5 s.
TEST_F(PlayerMedia, SegmentAndCompositionItemsMapItemTimeToSourceTime) {
  const MediaTime half = MediaTimeMake(1, 2);
  const int64_t opened = Asset_InputsOpened();
  auto segmented = PlayerItem::itemWithSegments({
      {s_movie, MediaTimeRangeMake(MediaTimeMake(1, 1), MediaTimeMake(1, 1)), MediaTimeRangeMake(kMediaTimeZero, MediaTimeMake(1, 1))},
      {QString(), kMediaTimeRangeInvalid, MediaTimeRangeMake(MediaTimeMake(1, 1), half)},
      {s_movie, MediaTimeRangeMake(MediaTimeMake(3, 1), half), MediaTimeRangeMake(MediaTimeMake(3, 2), half)},
  });
  {
    // The probe's open of the movie serves its first picture too.
    Player first(segmented);
    ASSERT_TRUE(Test_WaitUntil([&] { return segmented->currentVideoFrame() != nullptr; }));
    EXPECT_EQ(Asset_InputsOpened() - opened, 1);
  }
  AssetRef source = Asset::assetWithPath(s_movie);
  MutableCompositionRef composition = MutableComposition::composition();
  ASSERT_TRUE(composition->insertTimeRange(MediaTimeRangeMake(MediaTimeMake(1, 1), MediaTimeMake(1, 1)), source, kMediaTimeZero));
  ASSERT_TRUE(composition->insertTimeRange(MediaTimeRangeMake(MediaTimeMake(3, 1), half), source, MediaTimeMake(1, 1)));
  composition->insertEmptyTimeRange(MediaTimeRangeMake(MediaTimeMake(1, 1), half));
  for (const auto& item : {segmented, PlayerItem::itemWithAsset(composition)}) {
    ASSERT_TRUE(Test_WaitUntil([&] { return item->status() != PlayerItemStatus::Unknown; }));
    ASSERT_EQ(item->status(), PlayerItemStatus::ReadyToPlay) << item->errorString().toStdString();
    EXPECT_EQ(MediaTime_Millis(item->duration()), 2000);
    EXPECT_TRUE(item->hasAudio());
    Player player(item);
    // Source time of each target; negative: the empty range shows no picture.
    const std::pair<double, double> cases[] = {{0.5, 1.5}, {0.0, 1.0}, {1.2, -1}, {1.6, 3.1}, {0.99, 1.99}, {1.5, 3.0}, {1.75, 3.25}};
    for (const auto& [target, time] : cases) {
      SCOPED_TRACE(target);
      ASSERT_TRUE(seekExactly(player, target));
      if (time < 0) {
        EXPECT_EQ(item->currentVideoFrame(), nullptr);
      } else {
        EXPECT_TRUE(showsPicture(*item, at(time)));
      }
    }
    // Playing across the empty range into the last segment reaches the end.
    bool ended = false;
    QObject::connect(item.get(), &PlayerItem::didPlayToEnd, [&] { ended = true; });
    ASSERT_TRUE(seekExactly(player, 0.8));
    player.setRate(2.0f);
    ASSERT_TRUE(Test_WaitUntil([&] { return ended; }));
    EXPECT_TRUE(showsPicture(*item, at(3.4999)));
  }
}

TEST_F(PlayerMedia, TruncatedMovieStillPlaysWhatIsReadable) {
  // A writer killed mid-fragment leaves a file that ends in a partial fragment.
  const QString cut = s_folder + QStringLiteral("/cut.mp4");
  ASSERT_TRUE(QFile::copy(s_movie, cut));
  ASSERT_TRUE(QFile::resize(cut, QFileInfo(cut).size() * 6 / 10));
  auto item = readyItem(cut);
  ASSERT_EQ(item->status(), PlayerItemStatus::ReadyToPlay);
  Player player(item);
  ASSERT_TRUE(seekExactly(player, 1.0));
  EXPECT_TRUE(showsPicture(*item, at(1.0)));
  // Seeking into or past the damaged end finishes, on a picture that decoded cleanly.
  for (double t : {3.9, 2.2}) {
    ASSERT_TRUE(seekExactly(player, t));
    EXPECT_LE(MediaTimeGetSeconds(item->currentVideoFrameTime()), t);
  }
  bool ended = false;
  QObject::connect(item.get(), &PlayerItem::didPlayToEnd, [&] { ended = true; });
  ASSERT_TRUE(seekExactly(player, 1.5));
  player.setRate(4.0f);
  EXPECT_TRUE(Test_WaitUntil([&] { return ended; }));
}

}  // namespace
