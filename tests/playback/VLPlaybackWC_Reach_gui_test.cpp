// The playback window by keyboard and screen reader: its menus open with Alt+letter and F10 without two
// menus sharing a letter, its tool buttons sit in the Tab order and the accessibility tree, the info
// popover reads as a dialog with its text, the video and the times read as words.

#include "playback/VLPlaybackWC.h"

#include "app/ZRNAppMenus.h"
#include "common/ZRNAccessibility.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "support/AccessibilitySupport.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNSynchroMovieControllerView.h"

#include <QAccessible>
#include <QApplication>
#include <QDynamicPropertyChangeEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTableView>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

namespace {

class PlaybackReach : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const QString folder = Test_MakeTempDir(QStringLiteral("movie"));
    s_movie = new QString(folder + QStringLiteral("/movie.mov"));
    if (!PlaybackTest_MakeMovie(*s_movie, 4.0)) s_movie->clear();
  }
  static void TearDownTestSuite() { delete s_movie; }

  VLPlaybackWC* open() {
    const QString package = Test_MakeTempDir(QStringLiteral("sessions")) + QStringLiteral("/Cup Final.vlvidcapb");
    QDir().mkpath(package);
    QFile::copy(*s_movie, package + QStringLiteral("/VLCapturedMovie.mov"));
    PlaybackTest_Document(package)->updateSettingsFile();
    host.delegate->mainMenu();
    VLPlaybackWC* window = host.openPlayable(package);
    if (!window) return nullptr;
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window)) return nullptr;
    return window;
  }

  static QString mnemonic(const QString& title) {
    const qsizetype amp = title.indexOf(QLatin1Char('&'));
    return amp >= 0 && amp + 1 < title.size() ? title.mid(amp + 1, 1).toLower() : QString();
  }

  PlaybackTestHost host;
  static QString* s_movie;
};
QString* PlaybackReach::s_movie = nullptr;

// The objects a listener meets under `root`, walking the accessibility tree down, that read `text` (as
// their name, description or value).
QStringList PlaybackTest_ReadersOf(QWidget* root, const QString& text) {
  QStringList readers;
  const auto walk = [&](auto&& self, QAccessibleInterface* item) -> void {
    for (QAccessible::Text kind : {QAccessible::Name, QAccessible::Description, QAccessible::Value}) {
      if (item->text(kind).trimmed() == text.trimmed()) {
        readers << item->object()->objectName();
        break;
      }
    }
    for (int i = 0; i < item->childCount(); ++i) self(self, item->child(i));
  };
  walk(walk, QAccessible::queryAccessibleInterface(root));
  return readers;
}

}  // namespace

TEST_F(PlaybackReach, EveryMenuOpensWithItsOwnAltLetterAndF10OpensTheFirst) {
  ASSERT_FALSE(s_movie->isEmpty());
  VLPlaybackWC* window = open();
  ASSERT_NE(window, nullptr);
  QMenuBar* bar = window->menuBar();
  const QList<QAction*> menus = bar->actions();
  ASSERT_EQ(menus.size(), 9);
  QStringList letters;
  for (QAction* menu : menus) {
    const QString letter = mnemonic(menu->text());
    ASSERT_FALSE(letter.isEmpty()) << menu->text().toStdString();
    EXPECT_FALSE(letters.contains(letter)) << "two menus open with Alt+" << letter.toStdString();
    letters << letter;
  }
  // Alt+letter opens each menu of the bar, the application's and the window's alike.
  for (QAction* menu : menus) {
    QTest::keyClick(window, mnemonic(menu->text()).at(0).toLatin1(), Qt::AltModifier);
    ASSERT_TRUE(Test_WaitUntil([&] { return menu->menu()->isVisible(); }, 3000)) << menu->text().toStdString();
    menu->menu()->hide();
    bar->setActiveAction(nullptr);
  }
  QTest::keyClick(window, Qt::Key_F10);
  ASSERT_TRUE(Test_WaitUntil([&] { return menus.first()->menu()->isVisible(); }, 3000));
  EXPECT_EQ(bar->activeAction(), menus.first());
  menus.first()->menu()->hide();
}

TEST_F(PlaybackReach, ToolButtonsAreInTheTabOrderAndTheTreeWithTheirNames) {
  ASSERT_FALSE(s_movie->isEmpty());
  VLPlaybackWC* window = open();
  ASSERT_NE(window, nullptr);
  auto* paneButton = window->titleAccessoryView()->findChild<QToolButton*>(QStringLiteral("showHideJobsButton"));
  ASSERT_NE(paneButton, nullptr);
  // Not in the menu bar's corner (out of the tree and the Tab order) but on the window's tool bar.
  EXPECT_EQ(window->menuBar()->cornerWidget(Qt::TopRightCorner), nullptr);
  EXPECT_NE(qobject_cast<QToolBar*>(window->titleAccessoryView()->parentWidget()), nullptr);
  struct Case {
    QToolButton* button;
    const char* name;
  };
  for (const Case& c : {Case{paneButton, "Exports"}, Case{window->infoBtn(), "Session Info"}}) {
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(c.button);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(QAccessible::Name), QString::fromLatin1(c.name));
    EXPECT_EQ(item->role(), QAccessible::Button) << c.name;
    EXPECT_TRUE(c.button->focusPolicy() & Qt::TabFocus) << c.name;
    // Reached from the window's root down (a corner widget is not).
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
    QAccessibleInterface* up = item;
    while (up && up != root) up = up->parent();
    EXPECT_EQ(up, root) << c.name;
  }
  // Tab reaches the buttons: their press acts.
  paneButton->setFocus(Qt::TabFocusReason);
  const bool visible = window->paneIsVisible();
  QTest::keyClick(paneButton, Qt::Key_Space);
  EXPECT_NE(window->paneIsVisible(), visible);

  // The popover the info button opens reads as a dialog, a child of the button, with its text.
  window->infoBtn()->click();
  ASSERT_TRUE(window->fInfoPopover() && window->fInfoPopover()->isVisible());
  QAccessibleInterface* info = QAccessible::queryAccessibleInterface(window->infoBtn());
  ASSERT_EQ(info->childCount(), 1);
  QAccessibleInterface* dialog = info->child(0);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->role(), QAccessible::Dialog);
  EXPECT_EQ(dialog->text(QAccessible::Name), QStringLiteral("Session Info"));
  EXPECT_EQ(dialog->parent(), info);
  QAccessibleInterface* text = QAccessible::queryAccessibleInterface(window->popoverViewController()->theWebView());
  ASSERT_NE(text->textInterface(), nullptr);
  const QString read = text->textInterface()->text(0, text->textInterface()->characterCount());
  EXPECT_TRUE(read.contains(QStringLiteral("Cup Final")));
  // Read as words: none of the marks that stand for the document's tables and frames.
  for (char16_t mark : {u'\uFDD0', u'\uFDD1', u'\uFFFC'})
    EXPECT_FALSE(read.contains(QChar(mark))) << "U+" << std::hex << int(mark) << " in " << read.toStdString();
  window->fInfoPopover()->close();
  EXPECT_EQ(info->childCount(), 0);
}

// Every control is read as the screen shows it: the Exports button by its text, the time button by the
// time it shows, in either mode and as the movie plays, and by nothing else in the bar; what a press does
// is their description. The mouse over the time sees what the time is.
TEST_F(PlaybackReach, EveryControlIsReadAsTheScreenShowsIt) {
  ASSERT_FALSE(s_movie->isEmpty());
  VLPlaybackWC* window = open();
  ASSERT_NE(window, nullptr);
  ZRNSynchroMovieControllerView* bar = window->synchroMovieController();
  QPushButton* toggle = bar->timeLeftToggleBtn();
  QLabel* time = bar->timeLeftText();
  auto* paneButton = window->titleAccessoryView()->findChild<QToolButton*>(QStringLiteral("showHideJobsButton"));
  ASSERT_NE(paneButton, nullptr);
  const QString atStart = time->text();
  const struct {
    const char* state;
    std::function<void()> act;
    std::function<bool()> done;
    const char* press;
    const char* tip;  // seen by the mouse over the time
  } states[] = {
      {"time left", [] {}, [&] { return time->text().startsWith(QLatin1Char('-')); }, "Show Duration", "Time left"},
      {"duration", [&] { toggle->click(); }, [&] { return !time->text().startsWith(QLatin1Char('-')); }, "Show Time Left", "Duration"},
      {"time left again", [&] { toggle->click(); }, [&] { return time->text() == atStart; }, "Show Duration", "Time left"},
      {"playing", [&] { bar->playBtn()->click(); }, [&] { return time->text() != atStart; }, "Show Duration", "Time left"},
  };
  for (const auto& state : states) {
    SCOPED_TRACE(state.state);
    state.act();
    ASSERT_TRUE(Test_WaitUntil(state.done)) << time->text().toStdString();
    // The info button's symbol stands for what it does.
    const QHash<const QWidget*, QString> shown{{toggle, time->text()}, {window->infoBtn(), QStringLiteral("Session Info")}};
    EXPECT_EQ(Test_NamesApartFromScreen(window, shown).join(QStringLiteral("; ")).toStdString(), "");
    // Shown once, the time is read once: by the button, not again by the text under it.
    EXPECT_EQ(PlaybackTest_ReadersOf(bar, time->text()).join(QStringLiteral(", ")).toStdString(),
              toggle->objectName().toStdString());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(toggle)->text(QAccessible::Description).toStdString(), state.press);
    EXPECT_EQ(toggle->toolTip().toStdString(), state.tip);
  }
  window->player()->setRate(0.0f);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(paneButton)->text(QAccessible::Description).toStdString(),
            "Show or Hide Export History");
}

TEST_F(PlaybackReach, TheVideoAndTheTimesReadAsWordsAndTimesAreAnnouncedAtMostOnceASecond) {
  ASSERT_FALSE(s_movie->isEmpty());
  VLPlaybackWC* window = open();
  ASSERT_NE(window, nullptr);
  QAccessibleInterface* video = QAccessible::queryAccessibleInterface(window->playerView());
  EXPECT_EQ(video->text(QAccessible::Name), QStringLiteral("Video"));

  ZRNSynchroMovieControllerView* bar = window->synchroMovieController();
  struct Case {
    QLabel* label;
    const char* name;
  };
  for (const Case& c : {Case{bar->timeText(), "Play time"}, Case{bar->timeLeftText(), "Time left"}}) {
    ASSERT_NE(c.label, nullptr) << c.name;
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(c.label);
    EXPECT_EQ(item->text(QAccessible::Name), QString::fromLatin1(c.name));
    EXPECT_EQ(item->text(QAccessible::Description), c.label->text()) << c.name;
    ASSERT_NE(item->textInterface(), nullptr) << c.name;
    EXPECT_EQ(item->textInterface()->text(0, item->textInterface()->characterCount()), c.label->text()) << c.name;
    EXPECT_TRUE(c.label->text().contains(QLatin1Char(':'))) << c.label->text().toStdString();
  }

  // Playing changes the play time many times a second; a listener hears it at most once a second, and
  // the last time is never left unsaid.
  class Listener : public QObject {
   public:
    std::vector<std::pair<qint64, QString>> heard;
    QElapsedTimer clock;
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() == QEvent::DynamicPropertyChange &&
          static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName() == kZRNAccessibleAnnouncedProperty)
        heard.emplace_back(clock.elapsed(), watched->property(kZRNAccessibleAnnouncedProperty).toString());
      return false;
    }
  } listener;
  listener.clock.start();
  auto& events = listener.heard;
  QLabel* watched = bar->timeText();
  watched->installEventFilter(&listener);
  for (int tick = 1; tick <= 8; ++tick) {
    watched->setText(QStringLiteral("00:00:0%1").arg(tick));
    ZRNAccessible_ValueTextChanged(watched);
  }
  // Eight changes at once: the first is heard unless a time was heard less than a second ago, the last
  // one a second after the one heard before it, nothing in between.
  ASSERT_TRUE(Test_WaitUntil([&] { return !events.empty() && events.back().second == QStringLiteral("00:00:08"); }, 5000));
  Test_ProcessEvents(200);
  watched->removeEventFilter(&listener);
  ASSERT_LE(events.size(), 2u);
  if (events.size() == 2) {
    EXPECT_EQ(events[0].second, QStringLiteral("00:00:01"));
    EXPECT_GE(events[1].first - events[0].first, kZRNAccessibleAnnounceIntervalMillis - 20);
  }
}

// A command leaves the keys where they were: with the export history focused, M exports the moment and
// the next keys still act on the history, not on the player. The focused video shows that it is.
TEST_F(PlaybackReach, ACommandLeavesTheFocusWhereItWasAndTheFocusedVideoIsMarked) {
  ASSERT_FALSE(s_movie->isEmpty());
  VLPlaybackWC* window = open();
  ASSERT_NE(window, nullptr);
  if (!window->paneIsVisible()) window->showHideJobsPanel();
  QWidget* history = window->jobTableView();
  ASSERT_TRUE(Test_WaitUntil([&] { return history->isVisible(); }));
  // By the keyboard's own road: Tab until the history has the focus.
  window->playerView()->setFocus(Qt::OtherFocusReason);
  for (int i = 0; i < 30 && QApplication::focusWidget() != history; ++i) QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), history);
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int jobs;
  } commands[] = {{Qt::Key_M, Qt::NoModifier, 1}, {Qt::Key_I, Qt::NoModifier, 1}, {Qt::Key_M, Qt::NoModifier, 2},
                  {Qt::Key_H, Qt::NoModifier, 2}, {Qt::Key_E, Qt::ControlModifier, 3}};
  for (const auto& command : commands) {
    SCOPED_TRACE(QKeySequence(command.key | command.modifiers).toString().toStdString());
    QTest::keyClick(window->windowHandle(), command.key, command.modifiers);
    ASSERT_TRUE(Test_WaitUntil([&] { return window->jobsController()->numberOfJobs() >= command.jobs; }));
    Test_ProcessEvents(50);
    EXPECT_EQ(QApplication::focusWidget(), history);
  }

  // The video shows a mark of its own while it has the keys, and none once it has let them go.
  ZRNAVPlayerView* video = window->playerView();
  const QImage unfocused = video->grab().toImage();
  video->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(video->hasFocus());
  const QImage focused = video->grab().toImage();
  EXPECT_NE(focused, unfocused);
  const QColor mark = window->palette().color(QPalette::Highlight);
  EXPECT_EQ(focused.pixelColor(1, focused.height() / 2).rgb(), mark.rgb());
  EXPECT_EQ(focused.pixelColor(focused.width() / 2, 1).rgb(), mark.rgb());
  history->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(video->grab().toImage(), unfocused);
}
