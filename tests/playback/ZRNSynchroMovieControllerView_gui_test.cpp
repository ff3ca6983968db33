#include "playback/ZRNSynchroMovieControllerView.h"

#include "common/ZRNAppPrefs.h"
#include "platform/media/PlayerTestMovie.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNMovieSyncSlider.h"
#include "playback/ZRNSliderOverlayView.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A bar with one player on a 15 s movie, as a playback window sets it up.
class TransportBar : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_movie = new QString(PlayerTest_MakeMovie(Test_MakeTempDir(QStringLiteral("bar")), 15.0, false,
                                               QStringLiteral("64x48")));
  }
  static void TearDownTestSuite() { delete s_movie; }

  void SetUp() override {
    ASSERT_FALSE(s_movie->isEmpty());
    ZRNAppPrefs().setShowMatchTimes(false);
    item = PlayerItem::itemWithPath(*s_movie);
    ASSERT_TRUE(Test_WaitUntil([&] { return item->status() == PlayerItemStatus::ReadyToPlay; }));
    player = std::make_shared<Player>(item);
    player->setVolume(0.0f);
    bar = std::make_unique<ZRNSynchroMovieControllerView>();
    bar->resize(640, 32);
    bar->addSynchronizedPlayer(player);
    view = std::make_unique<ZRNAVPlayerView>();
    view->setPlayer(player.get());
    view->setSynchroController(bar.get());
    bar->setTheAVView(view.get());
    bar->updateControllerForMovieDuration(item->duration());
    bar->UU_SetupForPaused();
    ASSERT_TRUE(Test_WaitUntil([&] { return item->currentVideoFrame() != nullptr; }));
  }
  void TearDown() override {
    if (player) player->setRate(0.0f);
    Test_ProcessEvents(0);
  }

  bool seekTo(double seconds) {
    bool done = false;
    player->seekToTime(MediaTimeMakeWithSeconds(seconds, 1000), kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
    return Test_WaitUntil([&] { return done; });
  }
  double now() const { return MediaTimeGetSeconds(player->currentTime()); }

  static QString* s_movie;
  std::shared_ptr<PlayerItem> item;
  std::shared_ptr<Player> player;
  std::unique_ptr<ZRNSynchroMovieControllerView> bar;
  std::unique_ptr<ZRNAVPlayerView> view;
};
QString* TransportBar::s_movie = nullptr;

TEST_F(TransportBar, PlayAtTheEndRestartsFromZero) {
  ASSERT_TRUE(seekTo(15.5));
  ASSERT_GE(player->currentTime(), bar->maxSynchroTime());
  QTest::mouseClick(bar->playBtn(), Qt::LeftButton);
  EXPECT_EQ(player->rate(), 1.0f);
  EXPECT_LT(now(), 1.0);
  ASSERT_TRUE(Test_WaitUntil([&] { return bar->playBtnImageName() == QStringLiteral("zrn_av_cine_pause_plain"); }));
  ASSERT_TRUE(Test_WaitUntil([&] { return bar->slider()->doubleValue() > 0.2; }));
  // Clicking again pauses.
  QTest::mouseClick(bar->playBtn(), Qt::LeftButton);
  EXPECT_EQ(player->rate(), 0.0f);
  ASSERT_TRUE(Test_WaitUntil([&] { return bar->playBtnImageName() == QStringLiteral("zrn_av_cine_play_plain"); }));
}

TEST_F(TransportBar, SliderSeeksInWholeMilliseconds) {
  struct Case {
    bool playing;
    double value;
    int64_t expectedMillis;  // -1: the movie's end
    float rateAfter;
  } const cases[] = {
      {false, 12.3456, 12346, 0.0f},
      {false, 2.0004, 2000, 0.0f},
      {true, 5.0, 5000, 1.0f},     // playing resumes at normal speed
      {true, 30.0, -1, 0.0f},      // past the end: the end, not resumed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    if (c.playing) player->setRate(1.0f);
    bar->slider()->setDoubleValue(c.value);
    bar->adjustMovieTime();
    const int64_t expected = c.expectedMillis < 0 ? MediaTime_Millis(bar->maxSynchroTime()) : c.expectedMillis;
    ASSERT_TRUE(Test_WaitUntil([&] { return bar->timeText()->text() != QString(); }));
    Test_ProcessEvents(0);
    if (c.rateAfter == 0.0f) {
      EXPECT_EQ(MediaTime_Millis(player->currentTime()), expected);
    } else {
      EXPECT_GE(MediaTime_Millis(player->currentTime()), expected);
    }
    EXPECT_EQ(player->rate(), c.rateAfter);
    player->setRate(0.0f);
  }
}

TEST_F(TransportBar, TimeTextsWithAMatchStart) {
  ZRNAppPrefs().setShowMatchTimes(true);
  bar->updateControllerForMovieDuration(MediaTimeMake(60, 1));
  bar->defineMatchStartTime(MediaTimeMake(10, 1));
  Test_ProcessEvents(0);
  bar->updatePlayerForMovieTime(MediaTimeMake(4, 1));
  // Six seconds before the match start, in the clock format that rounds toward the start.
  EXPECT_EQ(bar->timeText()->text(), QStringLiteral("-00:00:05"));
  EXPECT_EQ(bar->timeLeftText()->text(), QStringLiteral("-00:00:56"));

  QTest::mouseClick(bar->timeLeftToggleBtn(), Qt::LeftButton);
  Test_ProcessEvents(0);
  EXPECT_EQ(bar->timeLeftText()->text(), QStringLiteral("00:00:50"));
  EXPECT_EQ(bar->timeLeftText()->toolTip(), QStringLiteral("Duration"));

  ZRNAppPrefs().setShowMatchTimes(false);
  bar->updatePlayerForMovieTime(MediaTimeMake(4, 1));
  EXPECT_EQ(bar->timeText()->text(), QStringLiteral("00:00:04"));
  EXPECT_DOUBLE_EQ(bar->slider()->doubleValue(), 4.0);
}

TEST_F(TransportBar, SoundControls) {
  QTest::mouseClick(bar->sndOffBtn(), Qt::LeftButton);
  Test_ProcessEvents(0);
  EXPECT_EQ(player->volume(), 0.0f);
  EXPECT_EQ(bar->sndLevelSlider()->value(), 0);
  QTest::mouseClick(bar->sndOnBtn(), Qt::LeftButton);
  Test_ProcessEvents(0);
  EXPECT_EQ(player->volume(), 1.0f);
  bar->sndLevelSlider()->setValue(bar->sndLevelSlider()->maximum() / 4);
  Test_ProcessEvents(0);
  EXPECT_FLOAT_EQ(player->volume(), 0.25f);

  bar->show();
  const int playXWithSound = bar->playBtn()->x();
  bar->updateControllerForSound(false);
  Test_ProcessEvents(0);
  EXPECT_FALSE(bar->sndOffBtn()->isVisible());
  EXPECT_FALSE(bar->sndLevelSlider()->isVisible());
  EXPECT_FALSE(bar->sndOnBtn()->isVisible());
  EXPECT_EQ(bar->playBtn()->x(), 6);
  EXPECT_LT(bar->playBtn()->x(), playXWithSound);
  EXPECT_EQ(player->volume(), 0.0f);
}

TEST_F(TransportBar, MarksReachTheOverlayAndGoWithTheMovie) {
  bar->defineInTime(MediaTimeMake(2000, 1000));
  Test_ProcessEvents(0);
  EXPECT_EQ(bar->sliderOverlayView()->inTime(), MediaTimeMake(2, 1));
  bar->updateControllerForNoMovie();
  Test_ProcessEvents(0);
  EXPECT_EQ(bar->timeText()->text(), QStringLiteral("--:--:--"));
  EXPECT_FALSE(bar->playBtn()->isEnabled());
  EXPECT_EQ(bar->sliderOverlayView()->inTime(), MediaTime_ClearedMark());
}

TEST_F(TransportBar, AZeroDurationDisablesTheBar) {
  bar->updateControllerForMovieDuration(kMediaTimeZero);
  EXPECT_FALSE(bar->slider()->isEnabled());
  EXPECT_FALSE(bar->playBtn()->isEnabled());
}

TEST_F(TransportBar, DraggingPausesAndResumes) {
  ZRNMovieSyncSlider* slider = bar->slider();
  bar->show();
  struct Case {
    const char* name;
    bool playing;
    double dropFraction;
    float rateAfter;
    const char* image;
  } const cases[] = {
      {"paused stays paused", false, 0.5, 0.0f, "zrn_av_cine_play_plain"},
      {"playing resumes at 1", true, 0.5, 1.0f, "zrn_av_cine_pause_plain"},
      {"dropped at the end", true, 1.2, 0.0f, "zrn_av_cine_play_plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    player->setRate(c.playing ? 2.0f : 0.0f);
    const int y = slider->height() / 2;
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->width() / 4, y));
    EXPECT_EQ(player->rate(), 0.0f);
    QTest::mouseMove(slider, QPoint(static_cast<int>(slider->width() * c.dropFraction), y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(static_cast<int>(slider->width() * c.dropFraction), y));
    ASSERT_TRUE(Test_WaitUntil([&] { return bar->playBtnImageName() == QString::fromLatin1(c.image); }));
    Test_ProcessEvents(20);
    EXPECT_EQ(player->rate(), c.rateAfter);
    player->setRate(0.0f);
    bar->UU_SetupForPaused();
  }
}

TEST_F(TransportBar, PlayerViewKeys) {
  ASSERT_TRUE(seekTo(3.0));
  const MediaTime before = item->currentVideoFrameTime();
  QTest::keyClick(view.get(), Qt::Key_Right);
  ASSERT_TRUE(Test_WaitUntil([&] { return item->currentVideoFrameTime() > before; }));
  const MediaTime stepped = item->currentVideoFrameTime();
  QTest::keyClick(view.get(), Qt::Key_Left);
  ASSERT_TRUE(Test_WaitUntil([&] { return item->currentVideoFrameTime() < stepped; }));
  EXPECT_EQ(item->currentVideoFrameTime(), before);
  // A lone modifier does nothing; Shift with space still plays.
  QTest::keyClick(view.get(), Qt::Key_Shift);
  Test_ProcessEvents(0);
  EXPECT_EQ(player->rate(), 0.0f);
  QTest::keyClick(view.get(), Qt::Key_Space, Qt::ShiftModifier);
  EXPECT_EQ(player->rate(), 1.0f);
  // Steps are refused while playing.
  const MediaTime playingFrom = item->currentVideoFrameTime();
  QTest::keyClick(view.get(), Qt::Key_Left);
  Test_ProcessEvents(0);
  EXPECT_EQ(player->rate(), 1.0f);
  EXPECT_GE(item->currentVideoFrameTime(), playingFrom);
  QTest::keyClick(view.get(), Qt::Key_Space);
  EXPECT_EQ(player->rate(), 0.0f);
}

TEST_F(TransportBar, LaysOutItsControlsInOneRow) {
  bar->show();
  struct Case {
    QWidget* widget;
    int x, width, height;
  };
  const Case cases[] = {
      {bar->paletteBox(), 0, 640, 32},  {bar->sndOffBtn(), 6, 16, 16},      {bar->sndLevelSlider(), 22, 48, -1},
      {bar->sndOnBtn(), 74, 16, 16},    {bar->playBtn(), 94, 24, 24},       {bar->timeText(), 122, 64, 13},
      {bar->slider(), 190, 640 - 8 - 64 - 8 - 190, -1}, {bar->timeLeftText(), 640 - 8 - 64, 64, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.widget->objectName().toStdString());
    EXPECT_EQ(c.widget->x(), c.x);
    EXPECT_EQ(c.widget->width(), c.width);
    if (c.height > 0) {
      EXPECT_EQ(c.widget->height(), c.height);
    }
  }
  // The overlay lies over the slider's track: as wide as the slider plus 2 less the knob.
  const int knob = bar->slider()->knobThickness();
  EXPECT_EQ(bar->sliderOverlayView()->width(), bar->slider()->width() + 2 - knob);
  EXPECT_EQ(bar->sliderOverlayView()->height(), 25);
  EXPECT_EQ(bar->timeLeftToggleBtn()->geometry(), bar->timeLeftText()->geometry());
}

TEST_F(TransportBar, GroupStopsTogetherAtTheShortestEnd) {
  auto secondItem = PlayerItem::itemWithPath(*s_movie);
  ASSERT_TRUE(Test_WaitUntil([&] { return secondItem->status() == PlayerItemStatus::ReadyToPlay; }));
  auto second = std::make_shared<Player>(secondItem);
  second->setVolume(0.0f);
  bar->addSynchronizedPlayer(second);
  bar->addSynchronizedPlayer(player);  // a player added twice keeps one entry
  EXPECT_EQ(bar->synchronizedPlayersArray().size(), 2);
  bar->updateControllerForMovieDuration(MediaTimeMake(14, 1));
  ASSERT_TRUE(seekTo(13.6));
  QTest::mouseClick(bar->playBtn(), Qt::LeftButton);
  EXPECT_EQ(second->rate(), 1.0f);
  ASSERT_TRUE(Test_WaitUntil([&] { return player->rate() == 0.0f && second->rate() == 0.0f; }));
  EXPECT_GE(now(), 14.0);
  // Removing the main player hands the observer and the slider to the next one.
  bar->removeSynchronizedPlayer(player);
  EXPECT_EQ(bar->slider()->targetPlayer(), second);
  EXPECT_TRUE(bar->hasTimeObserver());
}

}  // namespace

// Every picture button is named by what it does, and the play button by what a press does now, whoever
// changed the player's rate (the button, the movie's end, or a window that stops the player itself); the
// time on the right, a button named by the time it shows, is described by what a click does.
TEST_F(TransportBar, ControlsAreNamedByWhatTheyDo) {
  EXPECT_EQ(bar->sndOffBtn()->accessibleName(), QStringLiteral("Mute"));
  EXPECT_EQ(bar->sndLevelSlider()->accessibleName(), QStringLiteral("Volume"));
  EXPECT_EQ(bar->sndOnBtn()->accessibleName(), QStringLiteral("Full Volume"));
  EXPECT_EQ(bar->slider()->accessibleName(), QStringLiteral("Playback Position"));
  EXPECT_EQ(bar->timeText()->accessibleName(), QStringLiteral("Play time"));
  EXPECT_EQ(bar->timeLeftToggleBtn()->accessibleDescription(), QStringLiteral("Show Duration"));
  bar->timeLeftToggleBtn()->click();
  EXPECT_EQ(bar->timeLeftToggleBtn()->accessibleDescription(), QStringLiteral("Show Time Left"));

  EXPECT_EQ(bar->playBtn()->accessibleName(), QStringLiteral("Play"));
  bar->playBtn()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return bar->playBtn()->accessibleName() == QStringLiteral("Pause"); }));
  // Stopped from outside the bar: the button follows at once.
  player->setRate(0.0f);
  EXPECT_EQ(bar->playBtn()->accessibleName(), QStringLiteral("Play"));
  EXPECT_EQ(bar->playBtnImageName(), QStringLiteral("zrn_av_cine_play_plain"));
  player->setRate(1.0f);
  EXPECT_EQ(bar->playBtn()->accessibleName(), QStringLiteral("Pause"));
  // Played to the end: Play again.
  ASSERT_TRUE(seekTo(14.8));
  ASSERT_TRUE(Test_WaitUntil([&] { return player->rate() == 0.0f; }));
  EXPECT_EQ(bar->playBtn()->accessibleName(), QStringLiteral("Play"));
}

// Tab walks the bar's controls left to right; a click leaves the focus where it was (on the video, whose
// keys play and step). The tree lists the controls with their roles and names, the selection over the
// track says the marks in words, and the background, the track's frame and the time under its button are
// not listed at all.
TEST_F(TransportBar, TabReachesEveryControlAndTheTreeListsOnlyWhatItCanName) {
  QWidget window;
  bar->setParent(&window);
  view->setParent(&window);
  QWidget::setTabOrder(view.get(), bar->sndOffBtn());
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  view->setFocus();

  struct Stop {
    QWidget* control;
    QAccessible::Role role;
    QString name;
  };
  const Stop stops[] = {
      {bar->sndOffBtn(), QAccessible::Button, "Mute"},
      {bar->sndLevelSlider(), QAccessible::Slider, "Volume"},
      {bar->sndOnBtn(), QAccessible::Button, "Full Volume"},
      {bar->playBtn(), QAccessible::Button, "Play"},
      {bar->slider(), QAccessible::Slider, "Playback Position"},
      {bar->timeLeftToggleBtn(), QAccessible::Button, bar->timeLeftText()->text()},
  };
  for (const Stop& stop : stops) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), stop.control) << "Tab to " << stop.name.toStdString();
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(stop.control);
    EXPECT_EQ(item->role(), stop.role) << stop.name.toStdString();
    EXPECT_EQ(item->text(QAccessible::Name), stop.name);
    EXPECT_TRUE(item->state().focusable) << stop.name.toStdString();
  }
  // A click plays but leaves the keys with the video.
  view->setFocus();
  QTest::mouseClick(bar->playBtn(), Qt::LeftButton);
  EXPECT_EQ(QApplication::focusWidget(), view.get());
  QTest::mouseClick(bar->playBtn(), Qt::LeftButton);

  QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(bar.get());
  EXPECT_EQ(tree->role(), QAccessible::ToolBar);
  EXPECT_EQ(tree->text(QAccessible::Name), QStringLiteral("Playback Controls"));
  QStringList listed;
  for (int i = 0; i < tree->childCount(); ++i) {
    QAccessibleInterface* child = tree->child(i);
    ASSERT_NE(child, nullptr);
    EXPECT_FALSE(child->text(QAccessible::Name).isEmpty()) << "an unnamed child at " << i;
    EXPECT_EQ(tree->indexOfChild(child), i);
    listed << child->text(QAccessible::Name);
  }
  // The time on the right is listed once: as the button over it.
  EXPECT_EQ(listed, QStringList({"Mute", "Volume", "Full Volume", "Play", "Play time", "Playback Position", "Selection",
                                 bar->timeLeftText()->text()}));
  EXPECT_EQ(bar->paletteBox()->focusPolicy(), Qt::NoFocus);

  ZRNSliderOverlayView* selection = bar->sliderOverlayView();
  struct Marks {
    double in, out;
    const char* said;
  };
  for (const Marks& m : {Marks{-1, -1, "No in or out point"}, Marks{2, -1, "In point 00:00:02"},
                         Marks{-1, 7, "Out point 00:00:07"}, Marks{2, 7, "In point 00:00:02, out point 00:00:07, 00:00:05 selected"}}) {
    selection->setInTime(m.in < 0 ? MediaTime_ClearedMark() : MediaTimeMakeWithSeconds(m.in, 1000));
    selection->setOutTime(m.out < 0 ? MediaTime_ClearedMark() : MediaTimeMakeWithSeconds(m.out, 1000));
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(selection);
    EXPECT_EQ(item->role(), QAccessible::StaticText);
    EXPECT_EQ(item->text(QAccessible::Description), QString::fromLatin1(m.said));
  }
  bar->setParent(nullptr);
  view->setParent(nullptr);
}

// The position slider by keyboard: the arrows move a second, Page Up and Down ten, Home and End go to the
// ends; each move seeks the player as a click on the track does. The volume slider moves in twentieths.
TEST_F(TransportBar, PositionAndVolumeSlidersFollowTheKeys) {
  ZRNMovieSyncSlider* slider = bar->slider();
  struct Press {
    Qt::Key key;
    double seconds;
  };
  for (const Press& press : {Press{Qt::Key_Right, 1.0}, Press{Qt::Key_Right, 2.0}, Press{Qt::Key_PageUp, 12.0},
                             Press{Qt::Key_Left, 11.0}, Press{Qt::Key_End, 15.0}, Press{Qt::Key_Home, 0.0}}) {
    QSignalSpy jumped(item.get(), &PlayerItem::timeJumped);
    QTest::keyClick(slider, press.key);
    // The movie lasts 15 s and a few milliseconds: End goes to its very end.
    const double wanted = press.key == Qt::Key_End ? slider->maxValue() : press.seconds;
    EXPECT_NEAR(slider->doubleValue(), wanted, 0.001) << press.key;
    // The seek has landed when the item says its time jumped to the slider's.
    ASSERT_TRUE(Test_WaitUntil([&] { return !jumped.isEmpty() && std::abs(now() - wanted) < 0.05; }))
        << press.key << " left the player at " << now();
  }
  // Nothing below the start: no seek.
  QSignalSpy action(slider, &ZRNMovieSyncSlider::action);
  QTest::keyClick(slider, Qt::Key_PageDown);
  EXPECT_EQ(action.count(), 0);
  QSlider* volume = bar->sndLevelSlider();
  volume->setValue(1000);
  QTest::keyClick(volume, Qt::Key_Left);
  EXPECT_EQ(volume->value(), 950);
  ASSERT_TRUE(Test_WaitUntil([&] { return std::abs(player->volume() - 0.95f) < 0.001f; }));
}
