#include "common/ZRNBaseClasses.h"
#include "support/TestSupport.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(AspectRatioBox, KeepsTheContentAtItsRatioCentred) {
  struct Case {
    QSize box;
    double multiplier;
    QRect content;
  };
  const Case cases[] = {
      {{400, 400}, 16.0 / 9.0, {0, 87, 400, 225}},   // wide content in a square: bars above and below
      {{800, 300}, 16.0 / 9.0, {133, 0, 533, 300}},  // wide box: bars left and right
      {{640, 480}, 4.0 / 3.0, {0, 0, 640, 480}},     // exact fit
      {{300, 600}, 1.0, {0, 150, 300, 300}},
  };
  for (const Case& c : cases) {
    ZRNAspectRatioBox box;
    auto* content = new QLabel;
    box.setContentWidget(content);
    box.updateMultiplier(c.multiplier);
    box.resize(c.box);
    box.show();
    EXPECT_EQ(content->geometry(), c.content) << c.box.width() << "x" << c.box.height();
    // Nonsense ratios are ignored.
    for (double nonsense : {0.0, -1.5, std::nan(""), std::numeric_limits<double>::infinity()}) box.updateMultiplier(nonsense);
    EXPECT_EQ(content->geometry(), c.content);
  }
}

TEST(WindowHelpers, ShowOrHideWindowShowsRaisesOrHides) {
  ZRN_CommonInitWC<QWidget> window;
  window.resize(200, 100);
  EXPECT_FALSE(window.isWindowShown());
  window.showOrHideWindow();  // hidden: shown
  ASSERT_TRUE(Test_WaitUntil([&] { return window.isWindowShown() && window.isActiveWindow(); }));

  QWidget other;
  other.resize(200, 100);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(Test_WaitUntil([&] { return other.isActiveWindow(); }));
  window.showOrHideWindow();  // visible but behind: brought to the front, not hidden
  ASSERT_TRUE(Test_WaitUntil([&] { return window.isActiveWindow(); }));
  EXPECT_TRUE(window.isWindowShown());

  window.showOrHideWindow();  // visible and in front: hidden
  EXPECT_FALSE(window.isWindowShown());
}
