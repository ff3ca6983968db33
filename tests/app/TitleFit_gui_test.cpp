// Small windows are wide enough for their own title and text: the About window and the software update
// message are never narrower than the window manager needs to show their whole title, and their texts
// are not cut, and they are no larger than their contents.

#include "app/ZRNAppDelegate.h"
#include "platform/system/SUUpdater.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>

#include <functional>

#include <gtest/gtest.h>

namespace {

// What the window manager draws in the title bar: the title in bold, then the icon and three buttons
// (about 26 points each on common themes).
int TitleTest_TitleBarNeeds(const QWidget* window) {
  QFont bold = QApplication::font();
  bold.setBold(true);
  return QFontMetrics(bold).horizontalAdvance(window->windowTitle()) + 4 * 26;
}

}  // namespace

TEST(TitleFit, TheAboutWindowAndTheUpdateMessageShowTheirWholeTitleAndText) {
  ZRNAppDelegate delegate;
  SUUpdater* updater = SUUpdater::sharedUpdater();
  const struct {
    const char* name;
    std::function<QWidget*()> open;
  } windows[] = {
      {"About",
       [&]() -> QWidget* {
         delegate.showAboutBox();
         return delegate.aboutPanel();
       }},
      {"Software Update",
       [&]() -> QWidget* {
         // Without a feed the check tells the user at once where updates come from.
         updater->setFeedURL(QUrl());
         QSignalSpy finished(updater, &SUUpdater::checkFinished);
         updater->checkForUpdates();
         if (!Test_WaitUntil([&] { return finished.count() == 1; })) return nullptr;
         return updater->activeAlert();
       }},
  };
  for (const auto& w : windows) {
    SCOPED_TRACE(w.name);
    QWidget* window = w.open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(Test_WaitUntil([&] { return window->isVisible(); }));
    Test_ProcessEvents();
    EXPECT_FALSE(window->windowTitle().isEmpty());
    EXPECT_GE(window->width(), TitleTest_TitleBarNeeds(window)) << window->windowTitle().toStdString();
    // Nor larger than what they hold needs.
    EXPECT_LE(window->height(), window->sizeHint().height() + 2) << window->windowTitle().toStdString();
    for (QLabel* label : window->findChildren<QLabel*>()) {
      if (!label->isVisible() || label->text().isEmpty()) continue;
      SCOPED_TRACE(label->objectName().toStdString());
      // Whole: a one-line text fits its width, a wrapped one its height.
      if (label->wordWrap())
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
      else
        EXPECT_GE(label->width(), label->sizeHint().width());
      // A short text is not broken into lines.
      if (label->wordWrap() && label->fontMetrics().horizontalAdvance(label->text()) < 300)
        EXPECT_LE(label->height(), label->fontMetrics().height() * 1.6 + label->contentsMargins().top() + label->contentsMargins().bottom());
      EXPECT_FALSE(label->text().contains(QRegularExpression(QStringLiteral("\\w  \\w")))) << label->text().toStdString();
    }
    window->close();
  }
}
