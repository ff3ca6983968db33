// The Window menu as a keyboard user meets it: with the live window, the live recording's window, a saved
// session and the preferences on screen, the menu of each window lists the first three by title (never the
// preferences), checks the one in front, and choosing another with the keys brings that one forward. A
// window closed leaves the list.

#include "app/ZRNAppDelegate.h"

#include "app/ZRNAppMenus.h"
#include "capture/VLLiveWC.h"
#include "common/ZRNAppPrefs.h"
#include "platform/media/capture/VirtualDevices.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/VLProgressivePlayWC.h"
#include "prefs/ZRNPrefsController.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {
// The window items of the Window menu as it shows them now, by title, with the checked one.
struct Listed {
  QStringList titles;
  QString checked;
};

QMenu* U_WindowMenu(QWidget* window) {
  auto* main = qobject_cast<QMainWindow*>(window);
  if (!main) return nullptr;
  for (QAction* item : main->menuBar()->actions())
    if (item->menu() && item->menu()->objectName() == QLatin1String("Window")) return item->menu();
  return nullptr;
}

Listed U_Listed(QMenu* menu) {
  Listed listed;
  for (QAction* item : menu->actions()) {
    if (item->objectName() != QLatin1String("windowListItem")) continue;
    listed.titles << item->text();
    if (item->isChecked()) listed.checked = item->text();
  }
  return listed;
}

bool U_BringForward(QWidget* window) {
  window->raise();
  window->activateWindow();
  return QTest::qWaitForWindowActive(window);
}
}  // namespace

TEST(WindowMenu, ListsTheOpenWindowsChecksTheFrontOneAndBringsTheChosenForward) {
  Test_FreshPrefs(true);
  const QString folder = Test_MakeTempDir(QStringLiteral("window-menu"));
  {
    ZRNAppPrefs prefs;
    Test_RecordFromVirtualDevices(prefs, folder, 1);
    prefs.setMovieSize(QSizeF(320, 180));
    prefs.setCaptureFPS(30);
  }
  // A saved session from an earlier match.
  const QString saved = folder + QStringLiteral("/Earlier Match.vlvidcapb");
  QDir().mkpath(saved);
  ASSERT_TRUE(PlaybackTest_MakeMovie(saved + QStringLiteral("/VLCapturedMovie.mov"), 3.0));
  PlaybackTest_Document(saved)->updateSettingsFile();

  ZRNAppDelegate delegate;
  QPointer<VLLiveWC> live = Test_LaunchAndRecord(delegate);
  ASSERT_TRUE(live);
  ASSERT_TRUE(Test_WaitUntil([&] { return live->showFootageBtn()->isVisible() && live->showFootageBtn()->isEnabled(); }, 20000));
  live->showFootageBtn()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return delegate.capturePlaybackWC() && delegate.capturePlaybackWC()->isVisible(); }, 20000));
  QPointer<QWidget> recording = delegate.capturePlaybackWC();

  ASSERT_TRUE(delegate.application_openFiles({saved}));
  ASSERT_TRUE(Test_WaitUntil([&] { return !delegate.playbackWindows().isEmpty() && delegate.playbackWindows().first() &&
                                          delegate.playbackWindows().first()->isVisible(); }, 20000));
  QPointer<QWidget> session = delegate.playbackWindows().first().data();
  delegate.showHidePreferencesWindow();
  ASSERT_TRUE(Test_WaitUntil([] { return ZRNPrefsController::existingController() && ZRNPrefsController::existingController()->isVisible(); }));
  QPointer<QWidget> preferences = ZRNPrefsController::existingController()->window();

  const QList<QWidget*> windows{live->window(), recording.data(), session.data()};
  QStringList titles;
  for (QWidget* window : windows) titles << window->windowTitle().remove(QStringLiteral("[*]"));
  EXPECT_EQ(delegate.mainMenu()->openWindows(), windows);
  const QString preferencesTitle = preferences->windowTitle();

  // From every window with a menu bar: Alt+W lists the four, the front one checked; Down to the next window
  // and Return brings it forward.
  for (int i = 0; i < 3; ++i) {
    QWidget* front = windows[i];
    SCOPED_TRACE(titles[i].toStdString());
    ASSERT_TRUE(U_BringForward(front));
    QMenu* menu = U_WindowMenu(front);
    ASSERT_NE(menu, nullptr);
    QTest::keyClick(front, Qt::Key_W, Qt::AltModifier);
    ASSERT_TRUE(Test_WaitUntil([&] { return menu->isVisible(); }));
    const Listed listed = U_Listed(menu);
    EXPECT_EQ(listed.titles, titles);
    EXPECT_FALSE(listed.titles.contains(preferencesTitle));
    EXPECT_EQ(listed.checked, titles[i]);
    // The keys walk the enabled items from the top; the window items come last, in the order listed.
    const QString wanted = titles[(i + 1) % titles.size()];
    while (menu->activeAction() == nullptr || menu->activeAction()->text() != wanted) {
      QAction* before = menu->activeAction();
      QTest::keyClick(menu, Qt::Key_Down);
      ASSERT_NE(menu->activeAction(), before) << "the keys do not reach " << wanted.toStdString();
    }
    QTest::keyClick(menu, Qt::Key_Return);
    QWidget* chosen = windows[(i + 1) % windows.size()];
    EXPECT_TRUE(QTest::qWaitForWindowActive(chosen)) << "chose " << wanted.toStdString();
    EXPECT_EQ(QApplication::activeWindow(), chosen);
  }

  // The session closed: it leaves the list.
  session->close();
  ASSERT_TRUE(Test_WaitUntil([&] { return !session || !session->isVisible(); }));
  ASSERT_TRUE(U_BringForward(live->window()));
  QMenu* menu = U_WindowMenu(live->window());
  emit menu->aboutToShow();
  EXPECT_EQ(U_Listed(menu).titles, QStringList({titles[0], titles[1]}));

  live->recordButton()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return !live || !live->isRecording(); }, 20000));
  delegate.applicationWillTerminate();
}
