// The main menu's validation table and the launcher badge over real playback windows.

#include "app/ZRNAppDelegate.h"

#include "app/ZRNAppMenus.h"
#include "common/ZRNAppPrefs.h"
#include "session/VLDocument.h"
#include "composition/VL_ExportJobRecord.h"
#include "composition/ZRNJobsController.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/gui/DockBadge.h"
#include "platform/system/PrivateDBus.h"
#include "playback/VLPlaybackWC.h"
#include "playback/VLProgressivePlayWC.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QAccessible>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <QSignalSpy>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

namespace {
class MenusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Test_FreshPrefs();
    delegate = std::make_unique<ZRNAppDelegate>();
  }
  void TearDown() override {
    delete playback.data();
    delete progressive.data();
    delegate.reset();
  }
  QAction* action(const char* name) { return delegate->mainMenu()->action(QString::fromLatin1(name)); }

  std::unique_ptr<ZRNAppDelegate> delegate;
  QPointer<VLPlaybackWC> playback;
  QPointer<VLProgressivePlayWC> progressive;
};

// Jobs for a window's queue: `waiting` not started yet and `exporting` under way (none finished).
std::shared_ptr<VLDocument> documentWithJobs(int waiting, int exporting) {
  auto doc = std::make_shared<VLDocument>();
  for (int i = 0; i < waiting + exporting; ++i) {
    auto job = std::make_shared<VL_ExportJobRecord>();
    job->setStatus(i < exporting ? kJobStatusExporting : kJobStatusWaiting);
    doc->jobsArray().append(job);
  }
  return doc;
}

class BadgeListener : public QObject {
  Q_OBJECT
 public:
  QStringList labels;
 public slots:
  void update(const QDBusMessage& message) {
    const QVariantMap properties = qdbus_cast<QVariantMap>(message.arguments().value(1));
    labels << (properties.value(QStringLiteral("count-visible")).toBool()
                   ? QString::number(properties.value(QStringLiteral("count")).toLongLong())
                   : QString());
  }
};
}  // namespace

TEST_F(MenusTest, ValidationTable) {
  playback = new VLPlaybackWC();
  progressive = new VLProgressivePlayWC();
  progressive->show();
  delegate->setCapturePlaybackWC(progressive);
  enum Key { None, Playback, Progressive };
  const struct {
    const char* name;
    const char* action;
    bool modal;
    Key key;
    bool paneVisible;
    bool enabled;
    const char* title;  // nullptr: the title is not the table's business
  } rows[] = {
      {"open panel free", "openSavedRecording", false, None, true, true, nullptr},
      {"open panel while modal", "openSavedRecording", true, None, true, false, nullptr},
      {"preferences", "showHidePreferencesWindow", false, Playback, true, true, nullptr},
      {"new live session, no live window", "startNewRecording", false, None, true, true, nullptr},
      {"start recording without the live window key", "startRecording", false, Playback, true, false, nullptr},
      {"live recording shown and key", "showRecFootage", false, Progressive, true, true, "Hide Live Recording"},
      {"live recording behind, not recording", "showRecFootage", false, Playback, true, false, "Show Live Recording"},
      {"export history of a key playback window", "showHideJobsPanel", false, Playback, true, true, "Hide Export History"},
      {"export history hidden", "showHideJobsPanel", false, Playback, false, true, "Show Export History"},
      {"export history of the live recording's window", "showHideJobsPanel", false, Progressive, true, true, "Hide Export History"},
      {"export history without a playback window", "showHideJobsPanel", false, None, true, false, "Show Export History"},
      {"about box", "showAboutBox", true, None, true, true, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    delegate->setAppInModalMode(row.modal);
    QWidget* key = row.key == Playback ? static_cast<QWidget*>(playback.data())
                 : row.key == Progressive ? static_cast<QWidget*>(progressive.data()) : nullptr;
    delegate->setKeyWindowForTesting(key);
    if (auto* window = qobject_cast<VLPlaybackWC*>(key); window && window->paneIsVisible() != row.paneVisible)
      window->showHideJobsPanel();
    QAction* item = action(row.action);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(delegate->validateMenuItem(item), row.enabled);
    if (row.title) {
      EXPECT_EQ(item->text(), QString::fromUtf8(row.title));
    }
  }
  // Without the progressive window the live-recording item offers to show it and stays off.
  delete progressive.data();
  delegate->setKeyWindowForTesting(nullptr);
  EXPECT_FALSE(delegate->validateMenuItem(action("showRecFootage")));
  EXPECT_EQ(action("showRecFootage")->text(), QStringLiteral("Show Live Recording"));
}

TEST_F(MenusTest, MenusReachEveryDocumentWindowAndDisabledShortcutsDoNothing) {
  playback = new VLPlaybackWC();
  playback->show();
  const QList<QMenu*>& menus = delegate->mainMenu()->mainMenu();
  // The application's menus open the bar, the window's own follow, and Help ends it.
  QStringList bar;
  for (QAction* item : playback->menuBar()->actions()) bar << item->menu()->title().remove(QLatin1Char('&'));
  EXPECT_EQ(bar.join(QLatin1Char(' ')).toStdString(), "Velmora File Recording Window Session Marks Export View Help");
  for (QMenu* menu : menus) {
    const QList<QAction*> items = playback->menuBar()->actions();
    EXPECT_TRUE(std::any_of(items.cbegin(), items.cend(), [menu](QAction* item) { return item->menu() == menu; }))
        << menu->objectName().toStdString();
  }

  // A disabled command's trigger is refused by validation.
  delegate->setAppInModalMode(true);
  action("openSavedRecording")->trigger();
  EXPECT_EQ(delegate->openPanel(), nullptr);
  delegate->setAppInModalMode(false);
  action("openSavedRecording")->trigger();
  ASSERT_NE(delegate->openPanel(), nullptr);
  EXPECT_TRUE(delegate->appInModalMode()) << "the open panel counts as modal while it is open";
  delegate->openPanel()->reject();
  EXPECT_FALSE(delegate->appInModalMode());
  EXPECT_EQ(delegate->openPanel(), nullptr);
}

// A title that opens a dialog ends with the ellipsis character, in every menu of a playback window.
TEST_F(MenusTest, PlaybackWindowTitlesEndWithTheEllipsisCharacter) {
  playback = new VLPlaybackWC();
  playback->show();
  QStringList withDots;
  for (QAction* top : playback->menuBar()->actions())
    for (QAction* item : top->menu()->actions())
      if (item->text().contains(QStringLiteral("..."))) withDots << item->text();
  EXPECT_TRUE(withDots.isEmpty()) << withDots.join(QStringLiteral(", ")).toStdString();
  EXPECT_EQ(playback->actionNamed(QStringLiteral("exportAll"))->text(), QStringLiteral("Export Session Movie…"));
}

TEST_F(MenusTest, BadgeCountsPendingExportsOfSavedSessionWindowsOnly) {
  PrivateBusDaemon bus;
  if (!bus.isRunning()) GTEST_SKIP() << "dbus-daemon is not installed";
  ScopedEnvironment address("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
  QDBusConnection listener = QDBusConnection::connectToBus(bus.address(), QStringLiteral("menus-badge-listener"));
  BadgeListener received;
  ASSERT_TRUE(listener.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                               QStringLiteral("Update"), &received, SLOT(update(QDBusMessage))));
  delegate->applicationWillFinishLaunching();  // installs the queue's badge updater

  // Two saved sessions with 2 and 1 pending exports, and the live recording's window with 1 (not counted).
  auto docA = documentWithJobs(1, 1);
  auto docB = documentWithJobs(0, 1);
  auto docLive = documentWithJobs(0, 1);
  playback = new VLPlaybackWC();
  auto* second = new VLPlaybackWC();
  progressive = new VLProgressivePlayWC();
  playback->jobsController()->setJobsDoc(docA);
  second->jobsController()->setJobsDoc(docB);
  progressive->jobsController()->setJobsDoc(docLive);

  auto* anyJob = dynamic_cast<ZRN_JobRecord*>(docA->jobsArray().first().get());
  ZRNJobsController::postJobChange(playback->jobsController(), anyJob, kJobChangeFinished);
  ASSERT_TRUE(Test_WaitUntil([&] { return received.labels.contains(QStringLiteral("3")); }))
      << received.labels.join(QLatin1Char(',')).toStdString();
  EXPECT_EQ(delegate->dockTileBadgeLabel(), QStringLiteral("3"));

  // All finished: the badge goes.
  for (const auto& doc : {docA, docB})
    for (const auto& job : doc->jobsArray()) dynamic_cast<ZRN_BaseJobRecord*>(job.get())->setStatus(kJobStatusFinished);
  const qsizetype before = received.labels.size();
  ZRNJobsController::postJobChange(second->jobsController(), anyJob, kJobChangeFinished);
  ASSERT_TRUE(Test_WaitUntil([&] { return received.labels.size() > before; }));
  EXPECT_EQ(received.labels.last(), QString());
  EXPECT_EQ(delegate->dockTileBadgeLabel(), QString());
  delete second;
  delegate->applicationWillTerminate();
  QDBusConnection::disconnectFromBus(QStringLiteral("menus-badge-listener"));
}

#include "ZRNAppMenus_gui_test.moc"

// Two windows with the application's menus: a screen reader finds every menu in each bar, as a child of that
// bar, also after the window that was read first has gone.
TEST_F(MenusTest, EveryMenuBarListsTheMenusToAScreenReaderWhateverWindowWasReadFirst) {
  auto first = std::make_unique<QMainWindow>();
  QPointer<QMainWindow> second = new QMainWindow();
  first->show();
  second->show();
  const QList<QMenu*>& menus = delegate->mainMenu()->mainMenu();
  auto readBar = [&](QMainWindow* window) {
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(window->menuBar());
    QStringList names;
    for (int i = 0; i < bar->childCount(); ++i) {
      QAccessibleInterface* item = bar->child(i);
      if (!item || !item->isValid()) continue;
      EXPECT_EQ(item->parent(), bar) << item->text(QAccessible::Name).toStdString();
      names << item->text(QAccessible::Name);
    }
    return names;
  };
  QStringList titles;
  for (QMenu* menu : menus) titles << menu->title().remove(QLatin1Char('&'));
  EXPECT_EQ(readBar(first.get()), titles);
  EXPECT_EQ(readBar(second), titles);
  first.reset();
  EXPECT_EQ(readBar(second), titles);
  // The commands' shortcuts still reach them from the window left: Qt matches a shortcut in the windows
  // its action belongs to, and a shared menu belongs only to the bar that took it last.
  int withShortcut = 0;
  for (QMenu* menu : menus)
    for (QAction* command : menu->actions())
      if (!command->shortcut().isEmpty()) {
        ++withShortcut;
        EXPECT_TRUE(command->associatedObjects().contains(second.data())) << command->objectName().toStdString();
      }
  EXPECT_GE(withShortcut, 8);
  delete second.data();
}
