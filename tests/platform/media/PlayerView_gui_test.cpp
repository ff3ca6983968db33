#include "platform/media/view/PlayerView.h"

#include "platform/media/player/Player.h"
#include "platform/media/PlayerTestMovie.h"
#include "support/TestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

int NonBlackPixels(const QImage& image, const QRect& area) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); y += 3)
    for (int x = area.left(); x <= area.right(); x += 3)
      if (qGray(image.pixel(x, y)) > 24) ++count;
  return count;
}

TEST(PlayerView, ShowsThePictureFittedOnBlack) {
  const QString movie = PlayerTest_MakeMovie(Test_MakeTempDir(QStringLiteral("view")), 2.0, false);
  ASSERT_FALSE(movie.isEmpty());
  auto item = PlayerItem::itemWithPath(movie);
  Player player(item);
  PlayerView view;
  view.setPlayer(&player);
  const struct {
    QSize widget;
    QRect picture;  // 4:3 fitted and centred
  } cases[] = {{{400, 150}, {100, 0, 200, 150}}, {{160, 300}, {0, 90, 160, 120}}, {{320, 240}, {0, 0, 320, 240}}};
  ASSERT_TRUE(Test_WaitUntil([&] { return item->currentVideoFrame() != nullptr; }));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.widget.width());
    view.resize(c.widget);
    EXPECT_EQ(view.videoRect(), c.picture);
    const QImage shot = view.grab().toImage();
    ASSERT_EQ(shot.size(), c.widget);
    const QRect inside = c.picture.adjusted(4, 4, -4, -4);
    EXPECT_GT(NonBlackPixels(shot, inside), ((inside.width() + 2) / 3) * ((inside.height() + 2) / 3) / 2);
    // The bars beside or above the picture stay black.
    const QRect left(0, 0, c.picture.left(), c.widget.height()), top(0, 0, c.widget.width(), c.picture.top());
    for (const QRect& bar : {left, top})
      EXPECT_EQ(bar.isEmpty() ? 0 : NonBlackPixels(shot, bar), 0);
  }
  // Another picture replaces the shown one.
  const QImage first = view.grab().toImage();
  bool done = false;
  player.seekToTime(MediaTimeMake(3, 2), kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
  ASSERT_TRUE(Test_WaitUntil([&] { return done; }));
  EXPECT_NE(view.grab().toImage(), first);
  // Without a player the view is black.
  view.setPlayer(nullptr);
  EXPECT_EQ(NonBlackPixels(view.grab().toImage(), QRect(QPoint(0, 0), view.size())), 0);
}

}  // namespace
