// Velmora stays reachable: a second start without paths brings it back, a path that cannot be opened is
// said and the live session starts instead, sleep and wake arrive from logind, and preferences that
// cannot be written are told when it first happens.

#include "app/ZRNAppDelegate.h"

#include "app/ZRNAppInstance.h"
#include "app/ZRNNoWindowWC.h"
#include "capture/VLLiveWC.h"
#include "common/ZRNAlertWindowController.h"
#include "common/ZRNAlerts.h"
#include "common/ZRNRecentDocument.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/PrivateDBus.h"
#include "platform/system/SleepWake.h"
#include "support/DialogTestSupport.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QAccessible>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>
#include <iostream>
#include <sys/mount.h>

namespace {
// A second start of Velmora without paths, through the socket the running one listens on.
bool secondStart(const QStringList& paths = {}) {
  std::future<bool> taken = std::async(std::launch::async, [paths] { return AppInstance_HandOverToRunningInstance(paths); });
  if (!Test_WaitUntil([&] { return taken.wait_for(std::chrono::seconds(0)) == std::future_status::ready; })) return false;
  return taken.get();
}
}  // namespace

TEST_F(LaunchedAppTest, ASecondStartRaisesTheWindowShownAndWithNoneLeftVelmoraShowsItsOwn) {
  launch();
  ZRNAppInstanceServer server([this](const QStringList& paths) { delegate->U_HandleSecondStart(paths); });
  ASSERT_TRUE(server.listen());
  ASSERT_TRUE(Test_WaitUntil([] { return VLLiveWC_Current() && VLLiveWC_Current()->savePanel(); }, 20000));

  // A window is shown (here the live window with its naming panel): it comes forward, nothing new opens.
  QPointer<VLLiveWC> first = VLLiveWC_Current();
  const qsizetype starts = delegate->launchPhases().count(QStringLiteral("startNewRecording"));
  ASSERT_TRUE(secondStart());
  Test_ProcessEvents(100);
  EXPECT_EQ(VLLiveWC_Current(), first.data());
  EXPECT_EQ(delegate->launchPhases().count(QStringLiteral("startNewRecording")), starts);
  EXPECT_TRUE(first->isVisible());

  // Cancelling the naming panel closes the live window: Velmora's own small window with the menus and
  // the two ways in stands in for it.
  first->savePanel()->reject();
  ASSERT_TRUE(Test_WaitUntil([&] { return first.isNull(); }, 10000));
  ZRNNoWindowWC* none = delegate->noWindowWC();
  ASSERT_NE(none, nullptr);
  ASSERT_TRUE(Test_WaitUntil([&] { return none->isVisible(); }, 5000));
  QStringList menus;
  for (QAction* menu : none->menuBar()->actions()) menus << menu->menu()->objectName();
  EXPECT_EQ(menus, (QStringList{QStringLiteral("Velmora"), QStringLiteral("File"), QStringLiteral("Help")}));
  for (QPushButton* button : {none->newLiveSessionBtn(), none->openBtn()}) {
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(button);
    EXPECT_EQ(item->role(), QAccessible::PushButton);
    EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus);
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(none->newLiveSessionBtn())->text(QAccessible::Name), QStringLiteral("New Live Session"));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(none->openBtn())->text(QAccessible::Name), QStringLiteral("Open…"));

  // Starting Velmora again brings that window forward; nothing new starts.
  ASSERT_TRUE(secondStart());
  Test_ProcessEvents(100);
  EXPECT_TRUE(none->isVisible());
  EXPECT_EQ(delegate->launchPhases().count(QStringLiteral("startNewRecording")), starts);

  // Open… shows the open panel, and the small window steps aside; cancelled, it comes back.
  none->openBtn()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return delegate->openPanel() && delegate->openPanel()->isVisible(); }, 5000));
  EXPECT_FALSE(none->isVisible());
  delegate->openPanel()->reject();
  ASSERT_TRUE(Test_WaitUntil([&] { return none->isVisible(); }, 5000));

  // New Live Session starts one, with its window; the small window goes.
  none->newLiveSessionBtn()->click();
  ASSERT_TRUE(Test_WaitUntil([] { return VLLiveWC_Current() && VLLiveWC_Current()->isVisible(); }, 20000));
  EXPECT_EQ(delegate->launchPhases().count(QStringLiteral("startNewRecording")), starts + 1);
  EXPECT_FALSE(none->isVisible());
}

TEST_F(LaunchedAppTest, ClosingTheWindowShownWithoutAnyOtherQuitsAsQuitDoes) {
  launch();
  ASSERT_TRUE(Test_WaitUntil([] { return VLLiveWC_Current() && VLLiveWC_Current()->savePanel(); }, 20000));
  ZRNNoWindowWC* none = delegate->noWindowWC();
  ASSERT_NE(none, nullptr);
  QSignalSpy appeared(none, &ZRNNoWindowWC::appeared);
  VLLiveWC_Current()->savePanel()->reject();
  ASSERT_TRUE(appeared.wait(10000));
  EXPECT_FALSE(delegate->appIsQuitting());
  none->close();
  EXPECT_TRUE(delegate->appIsQuitting());
}

TEST_F(LaunchedAppTest, AMissingPathAtLaunchIsSaidAndTheLiveSessionStarts) {
  const QString folder = Test_MakeTempDir(QStringLiteral("sessions"));
  const QString missing = folder + QStringLiteral("/Cup Finl.vlvidcapb");
  // It was opened once: its recents entry goes with it.
  UserDefaults::standard().setObject(QStringLiteral("ZRNRecentDocuments"),
                                     QVariantList{ZRNRecentDocument(missing).dictionaryToSave()});
  delegate = std::make_unique<ZRNAppDelegate>();
  delegate->application_openFiles({missing});
  QString shown;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) { shown = Test_LabelsText(modal); });
  delegate->applicationWillFinishLaunching();
  delegate->applicationDidFinishLaunching();
  ASSERT_TRUE(Test_WaitUntil([] { return VLLiveWC_Current() && VLLiveWC_Current()->isVisible(); }, 20000));
  EXPECT_EQ(shown, QStringLiteral("File 'Cup Finl' is damaged and cannot be opened."));
  EXPECT_TRUE(delegate->playbackWindows().isEmpty());
  EXPECT_TRUE(listedPaths().isEmpty());
  EXPECT_TRUE(UserDefaults::standard().arrayForKey(QStringLiteral("ZRNRecentDocuments")).isEmpty());
}

TEST_F(LaunchedAppTest, SleepAndWakeFromLogindArriveInOrderOnTheMainThread) {
  PrivateBusDaemon daemon;
  if (!daemon.isRunning()) GTEST_SKIP() << "dbus-daemon is not available";
  FakeDesktopOnBus logind(daemon.address(), {QStringLiteral("org.freedesktop.login1")});
  ASSERT_TRUE(logind.isReady());
  ScopedEnvironment systemBus("DBUS_SYSTEM_BUS_ADDRESS", daemon.address().toUtf8());
  struct Arrival {
    QString name;
    bool onMainThread;
  };
  std::vector<Arrival> arrivals;
  std::mutex mutex;
  auto& center = NotificationCenter::defaultCenter();
  std::vector<NotificationObservation> observations;
  for (const QString& name : {kWorkspace_WillSleepNotification, kWorkspace_DidWakeNotification})
    observations.emplace_back(center, center.addObserver(name, nullptr, [&](const Notification& note) {
      std::lock_guard lock(mutex);
      arrivals.push_back({note.name, QThread::currentThread() == qApp->thread()});
    }));
  launch();
  ASSERT_TRUE(waitFor(QStringLiteral("fileSleepNotifications")));

  ASSERT_TRUE(logind.emitPrepareForSleep(true));
  ASSERT_TRUE(logind.emitPrepareForSleep(false));
  ASSERT_TRUE(Test_WaitUntil([&] { std::lock_guard lock(mutex); return arrivals.size() == 2; }));
  EXPECT_EQ(arrivals[0].name, kWorkspace_WillSleepNotification);
  EXPECT_EQ(arrivals[1].name, kWorkspace_DidWakeNotification);
  EXPECT_TRUE(arrivals[0].onMainThread && arrivals[1].onMainThread);
  const QString log = Test_LoggedText();
  const qsizetype slept = log.indexOf(QStringLiteral("receiveSleepNote: NSWorkspaceWillSleepNotification"));
  ASSERT_GE(slept, 0) << log.toStdString();
  EXPECT_GT(log.indexOf(QStringLiteral("receiveWakeNote: NSWorkspaceDidWakeNotification")), slept);

  // After the termination sequence nothing more arrives.
  delegate->applicationWillTerminate();
  ASSERT_TRUE(logind.emitPrepareForSleep(true));
  Test_ProcessEvents(300);
  EXPECT_EQ(arrivals.size(), 2u);
}

// Preferences that could not be written were lost with a line in the debug log only: the user went on
// changing settings that were gone at the next start. The first failed write of a run is told, with the
// file and the reason; later ones are not told again.
TEST_F(LaunchedAppTest, PreferencesThatCannotBeWrittenAreToldOnceARun) {
  const QString prefsFile = StandardLocations::preferencesFilePath();
  const QString configFolder = QFileInfo(prefsFile).absolutePath();
  const QString elsewhere = Test_MakeTempDir(QStringLiteral("elsewhere")) + QStringLiteral("/kept.plist");
  bool mounted = false;
  const struct {
    const char* name;
    bool beforeTheStart;  // broken before the launch: the write at the start fails, and is told then
    std::function<void()> spoil, mend;
    const char* why;
  } cases[] = {
      {"a link in the file's place", false,
       [&] {
         ASSERT_TRUE(QFile::remove(prefsFile));
         ASSERT_TRUE(QFile::copy(Test_SourcePath(QStringLiteral("resources/CameraDefaultPrefs.plist")), elsewhere));
         ASSERT_TRUE(QFile::link(elsewhere, prefsFile));
       },
       [&] { QFile::remove(prefsFile); }, "is a symbolic link"},
      {"a plain file in the folder's place", true,
       [&] {
         ASSERT_TRUE(QDir().rename(configFolder, configFolder + QStringLiteral(".aside")));
         QFile file(configFolder);
         ASSERT_TRUE(file.open(QIODevice::WriteOnly));
       },
       [&] {
         QFile::remove(configFolder);
         QDir().rename(configFolder + QStringLiteral(".aside"), configFolder);
       },
       "Not a directory"},
      {"a read-only file system", false,
       [&] {
         // Needs the right to mount (root); skipped without it.
         mounted = ::mount("tmpfs", QFile::encodeName(configFolder).constData(), "tmpfs", MS_RDONLY, "size=64k") == 0;
       },
       [&] {
         if (mounted) ::umount2(QFile::encodeName(configFolder).constData(), MNT_DETACH);
       },
       "Read-only file system"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Test_FreshPrefs(true);
    ASSERT_TRUE(UserDefaults::standard().synchronize());
    QStringList told;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&told] {
      // Told at the start, the alert may be under the live window's save panel, which opens meanwhile.
      ZRNAlertWindowController* alert = nullptr;
      for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* shown = qobject_cast<ZRNAlertWindowController*>(window); shown && shown->isVisible()) alert = shown;
      if (!alert) return;
      told << Test_LabelText(alert->mainTextfield());
      alert->okBtn()->click();
    });
    answerer.start(5);
    if (c.beforeTheStart) {
      c.spoil();
      UserDefaults::standard().setObject(QStringLiteral("ZRNUnwritable"), QStringLiteral("before"));
      EXPECT_FALSE(UserDefaults::standard().synchronize());
    }
    launch();
    ASSERT_TRUE(waitFor(QStringLiteral("delayedStartupActions")));
    if (!c.beforeTheStart) {
      c.spoil();
      if (QString(c.name).contains(QLatin1String("read-only")) && !mounted) {
        std::cout << "[  SKIPPED ] " << c.name << ": this process may not mount a file system\n";
        continue;
      }
      // Written shortly after the change, on the writer's own queue.
      UserDefaults::standard().setObject(QStringLiteral("ZRNUnwritable"), QStringLiteral("during"));
    }
    EXPECT_TRUE(Test_WaitUntil([&] { return !told.isEmpty(); }, 5000));
    // Later changes fail as well, and are not told again.
    UserDefaults::standard().setObject(QStringLiteral("ZRNUnwritable"), QStringLiteral("later"));
    EXPECT_FALSE(UserDefaults::standard().synchronize());
    Test_ProcessEvents(400);
    answerer.stop();
    c.mend();
    delegate->applicationWillTerminate();
    delete VLLiveWC_Current();
    delegate.reset();
    ASSERT_EQ(told.size(), 1) << told.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(told.first().startsWith(QStringLiteral("Velmora cannot write its preferences file."))) << told.first().toStdString();
    EXPECT_TRUE(told.first().contains(QStringLiteral("\"") + prefsFile + QStringLiteral("\""))) << told.first().toStdString();
    EXPECT_TRUE(told.first().contains(QString::fromUtf8(c.why))) << told.first().toStdString();
    EXPECT_TRUE(told.first().contains(QStringLiteral("changes you make now will not be kept"))) << told.first().toStdString();
    EXPECT_TRUE(Test_LoggedText().contains(QStringLiteral("ERR: preferences could not be written")));
  }
}

// Offscreen no program opens anything: each command that hands a file to the desktop says so and gives
// the file's place, in text that can be selected and copied.
TEST_F(LaunchedAppTest, FilesTheDesktopCannotOpenAreNamedWithTheirPlace) {
  delegate = std::make_unique<ZRNAppDelegate>();
  const struct {
    const char* name;
    void (ZRNAppDelegate::*command)();
  } commands[] = {{"Show Log File", &ZRNAppDelegate::showLogFile}, {"Acknowledgments", &ZRNAppDelegate::showAcknowledgments}};
  for (const auto& row : commands) {
    SCOPED_TRACE(row.name);
    QString told;
    bool selectable = false;
    Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
      if (modal->objectName() != QLatin1String("handOffFailureAlert")) return;
      told = Test_LabelsText(modal);
      auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"));
      // Selectable with the keys once Tab has reached it.
      selectable = label && (label->textInteractionFlags() & Qt::TextSelectableByKeyboard) &&
                   (label->focusPolicy() & Qt::TabFocus);
    });
    (delegate.get()->*row.command)();
    ASSERT_TRUE(Test_WaitUntil([&] { return !told.isEmpty(); }));
    const QString path = delegate->lastOpenedURL().toLocalFile();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_TRUE(told.contains(QFileInfo(path).fileName() + QStringLiteral("\u201D cannot be opened."))) << told.toStdString();
    // The alert of the catalogue for it.
    EXPECT_EQ(told, Test_LabelsText(Alert_MakeAlertController(*Alert_EntryForID(20046), QFileInfo(path).fileName(), path).get()));
    EXPECT_TRUE(told.contains(path)) << told.toStdString();
    EXPECT_TRUE(selectable);
  }
}
