// The small window shown when no other is: its two buttons as they are drawn.

#include "app/ZRNNoWindowWC.h"

#include "app/ZRNAppDelegate.h"
#include "support/ContrastSupport.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {
struct Gaps {
  int left = -1;
  int right = -1;
};

// The room between the drawn frame of the button and its text, on the left and on the right: the text is
// what changes when the button is drawn without it, the frame the first change from the face colour on
// the row through the middle.
Gaps U_TextGaps(QPushButton* button) {
  const QImage withText = Test_Render(button);
  const QString title = button->text();
  button->setText(QString());
  const QImage without = Test_Render(button);
  button->setText(title);
  int textLeft = withText.width(), textRight = -1;
  for (int y = 0; y < withText.height(); ++y)
    for (int x = 0; x < withText.width(); ++x)
      if (withText.pixel(x, y) != without.pixel(x, y)) {
        textLeft = std::min(textLeft, x);
        textRight = std::max(textRight, x);
      }
  const int middle = without.height() / 2;
  const QRgb face = without.pixel(without.width() / 2, middle);
  int frameLeft = -1, frameRight = without.width();
  for (int x = without.width() / 2; x >= 0; --x)
    if (without.pixel(x, middle) != face) {
      frameLeft = x;
      break;
    }
  for (int x = without.width() / 2; x < without.width(); ++x)
    if (without.pixel(x, middle) != face) {
      frameRight = x;
      break;
    }
  if (textRight < 0) return {};
  return {textLeft - frameLeft - 1, frameRight - textRight - 1};
}
}  // namespace

// Each button's title keeps clear of its frame on both sides (a long title once touched it).
TEST(NoWindowWindow, ButtonTitlesKeepClearOfTheirFrames) {
  Test_FreshPrefs();
  ZRNAppDelegate delegate;
  ZRNNoWindowWC window(&delegate);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  for (QPushButton* button : {window.newLiveSessionBtn(), window.openBtn()}) {
    SCOPED_TRACE(button->text().toStdString());
    const Gaps gaps = U_TextGaps(button);
    EXPECT_GE(gaps.left, 8);
    EXPECT_GE(gaps.right, 8);
  }
}
