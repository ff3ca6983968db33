// The About window's two links, as a mouse user and a keyboard user see them.

#include "app/ZRNAppDelegate.h"

#include "support/ContrastSupport.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QAccessible>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {
bool U_Near(QRgb pixel, const QColor& color, int tolerance) {
  return std::abs(qRed(pixel) - color.red()) <= tolerance && std::abs(qGreen(pixel) - color.green()) <= tolerance &&
         std::abs(qBlue(pixel) - color.blue()) <= tolerance;
}

// The longest run of pixels of one row in the link colour: an underline spans the text.
int U_LongestLinkRow(const QImage& image, const QColor& link) {
  int longest = 0;
  for (int y = 0; y < image.height(); ++y) {
    int run = 0;
    for (int x = 0; x < image.width(); ++x) {
      run = U_Near(image.pixel(x, y), link, 24) ? run + 1 : 0;
      longest = std::max(longest, run);
    }
  }
  return longest;
}

// Pixels near the link colour in the band of `width` pixels along the edges, where a focus ring goes.
int U_EdgePixels(const QImage& image, const QColor& link, int width) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const bool edge = x < width || y < width || x >= image.width() - width || y >= image.height() - width;
      if (edge && U_Near(image.pixel(x, y), link, 60)) ++count;
    }
  return count;
}
}  // namespace

// Each link is drawn as one, underlined in the link colour, and the one that Tab reaches is ringed in that
// colour, which stands out from the window (3:1 at least).
TEST(AboutBox, ItsLinksLookLikeLinksAndShowTheKeyboardFocus) {
  Test_FreshPrefs();
  ZRNAppDelegate delegate;
  delegate.showAboutBox();
  QWidget* panel = delegate.aboutPanel();
  ASSERT_NE(panel, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
  const struct {
    const char* outlet;
    const char* name;
  } links[] = {{"aboutAcknowledgementsTitle", "Acknowledgments"}, {"aboutLicenseAgreementTitle", "Velmora Website"}};
  for (const auto& row : links) {
    SCOPED_TRACE(row.outlet);
    auto* button = panel->findChild<QPushButton*>(QString::fromLatin1(row.outlet));
    ASSERT_NE(button, nullptr);
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(button);
    EXPECT_EQ(reader->role(), QAccessible::Button);
    EXPECT_EQ(reader->text(QAccessible::Name), QString::fromLatin1(row.name));
    EXPECT_FALSE(reader->text(QAccessible::Description).isEmpty());
    const QColor link = button->palette().color(QPalette::Active, QPalette::Link);
    EXPECT_GE(Test_ContrastRatio(link, panel->palette().color(QPalette::Window)), 3.0);

    // Tab walks the window's controls until it stands on the link.
    for (int step = 0; step < 8 && !button->hasFocus(); ++step) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_TRUE(button->hasFocus()) << "Tab does not reach the link";
    const QImage focused = Test_Render(button);
    button->clearFocus();
    const QImage plain = Test_Render(button);

    const int textWidth = button->fontMetrics().horizontalAdvance(button->text());
    EXPECT_GE(U_LongestLinkRow(plain, link), textWidth * 8 / 10) << "no underline in the link colour";
    EXPECT_EQ(U_EdgePixels(plain, link, 3), 0) << "a ring without the focus";
    EXPECT_GE(U_EdgePixels(focused, link, 3), button->width()) << "no ring around the focused link";
  }
  panel->close();
}
