// The playback window's synchronized overlay layer over a real movie: the overlays of the window's
// project are painted over the player's picture, in their places, and follow the player view's size.

#include "playback/VLPlaybackWC.h"

#include "common/ZRNAppPrefs.h"
#include "composition/ZRNAVCaptureProject.h"
#include "composition/ZRNTitleEdit.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNSynchronizedLayerView.h"
#include "session/MatchMarksTestSupport.h"

#include <gtest/gtest.h>

namespace {

int differing(const QImage& a, const QImage& b, const QRect& region) {
  int n = 0;
  for (int y = region.top(); y <= region.bottom(); ++y)
    for (int x = region.left(); x <= region.right(); ++x)
      if (std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 40) ++n;
  return n;
}

}  // namespace

TEST(PlaybackOverlays, TheSynchronizedLayerShowsTheProjectsOverlaysOverThePicture) {
  const QString folder = Test_MakeTempDir(QStringLiteral("overlay-sessions"));
  const QString package = folder + QStringLiteral("/Match.vlvidcapb");
  QDir().mkpath(package);
  ASSERT_TRUE(PlaybackTest_MakeMovie(package + QStringLiteral("/VLCapturedMovie.mov"), 4.0));
  PlaybackTest_Document(package)->updateSettingsFile();
  QImage badge(96, 96, QImage::Format_ARGB32);
  badge.fill(QColor(64, 160, 64));
  ASSERT_TRUE(badge.save(folder + QStringLiteral("/badge.png")));
  ZRNAppPrefs prefs;
  prefs.setShowMatchTimes(true);

  PlaybackTestHost host;
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_TRUE(window);
  window->resize(900, 700);
  Test_ProcessEvents(50);
  auto project = window->windowAVProject();
  project->setSpecs(
      QVariantMap{{QStringLiteral("graphics"),
                   QVariantList{QVariantMap{{QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), QStringLiteral("badge.png")},
                                                                                 {QStringLiteral("placement"), QStringLiteral("br")}}}}}},
                  {QStringLiteral("timecodes"),
                   QVariantList{QVariantMap{{QStringLiteral("info"), QVariantMap{{QStringLiteral("placement"), QStringLiteral("tl")},
                                                                                 {QStringLiteral("size"), 14},
                                                                                 {QStringLiteral("formatString"), QStringLiteral("%@ ")}}}}}}},
      QSizeF(160, 120), {}, folder);
  project->setPeriods({TestMarks_Period(1, 0, 3000)});
  ZRNAVPlayerView* view = window->playerView();
  const QImage plain = view->grab().toImage().convertToFormat(QImage::Format_RGB32);

  window->U_AddSyncLayerToPlayerItem(window->player()->currentItem());
  ASSERT_TRUE(window->syncLayer());
  EXPECT_EQ(project->synchroLayer().lock(), window->syncLayer());
  // The layer covers the picture.
  const QRect video = view->videoRect();
  ASSERT_FALSE(video.isEmpty());
  EXPECT_EQ(window->syncLayer()->bounds().size(), QSizeF(video.size()));
  window->U_AddOverlays(project->displayOverlaysLayer());
  project->U_SynchronizedLayersForTime(window->player()->currentTime());
  auto clock = project->timecodes().value(0);
  ASSERT_TRUE(clock);
  EXPECT_EQ(clock->titleText(), QStringLiteral("00:00 - 1"));
  Test_ProcessEvents(50);
  const QImage shown = view->grab().toImage().convertToFormat(QImage::Format_RGB32);

  // The badge towards the picture's bottom-right corner: 80 units of a 720-high reference, scaled from
  // the movie's 120 rows to the view's; its margins of 40 units are scaled by both.
  const double s = video.height() / 120.0, k = video.height() / 720.0;
  const int half = int(40 * k), margin = int(40 * s * k);
  const QPoint badgeCentre(video.right() - margin - half, video.bottom() - margin - half);
  for (const QPoint& p : {badgeCentre, badgeCentre + QPoint(half - 3, half - 3), badgeCentre - QPoint(half - 3, half - 3)}) {
    const QColor c = shown.pixelColor(p);
    EXPECT_NEAR(c.red(), 64, 30);
    EXPECT_NEAR(c.green(), 160, 30);
    EXPECT_NEAR(c.blue(), 64, 30);
  }
  // The match time in the top-left corner of the picture; the middle is untouched.
  const QRect topLeft(video.left(), video.top(), video.width() / 3, video.height() / 6);
  EXPECT_GT(differing(plain, shown, topLeft), 30);
  const QRect middle(video.center().x() - 40, video.center().y() - 40, 80, 80);
  EXPECT_EQ(differing(plain, shown, middle), 0);
  // Mouse events still reach the player view.
  EXPECT_EQ(view->childAt(video.center()), nullptr);

  // A smaller view: the layer follows the picture, and the badge is laid out again for it.
  window->resize(700, 560);
  Test_ProcessEvents(50);
  const QRect smaller = view->videoRect();
  ASSERT_NE(smaller.size(), video.size());
  EXPECT_EQ(window->syncLayer()->bounds().size(), QSizeF(smaller.size()));
  const QImage resized = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const double s2 = smaller.height() / 120.0, k2 = smaller.height() / 720.0;
  const QPoint moved(smaller.right() - int(40 * s2 * k2) - int(40 * k2), smaller.bottom() - int(40 * s2 * k2) - int(40 * k2));
  EXPECT_NEAR(resized.pixelColor(moved).green(), 160, 30);
  EXPECT_NEAR(resized.pixelColor(moved).red(), 64, 30);
}
