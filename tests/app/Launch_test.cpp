#include "app/ZRNAppDelegate.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNFileFunctions.h"
#include "firstaid/CrashLock.h"
#include "capture/VLLiveWC.h"
#include "capture/ZRNCaptureDevices.h"
#include "platform/media/capture/VirtualDevices.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace {
class LaunchTest : public LaunchedAppTest {
 protected:
  UserDefaults& defaults() { return UserDefaults::standard(); }
};

// While it lives, answers every alert with OK and keeps its text (the startup note is no alert).
class AlertAnswerer {
 public:
  AlertAnswerer() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      auto* ok = modal && modal->isVisible() ? modal->findChild<QPushButton*>(QStringLiteral("okBtn")) : nullptr;
      if (!ok) return;
      if (modal->objectName() != QLatin1String("ZRNStartupNoteWC")) told << Test_LabelsText(modal);
      ok->click();
    });
    m_timer.start(5);
  }
  QStringList told;

 private:
  QTimer m_timer;
};
}  // namespace

TEST_F(LaunchTest, PhasesRunInOrderFromInitToLoggerStop) {
  launch();
  // The delayed actions wait for the next turn of the main queue.
  EXPECT_FALSE(delegate->appDidFinishLaunching());
  EXPECT_FALSE(ran(QStringLiteral("delayedStartupActions")));
  ASSERT_TRUE(waitFor(QStringLiteral("U_StartLiveWindow")));
  EXPECT_TRUE(delegate->appDidFinishLaunching());
  EXPECT_EQ(delegate->applicationShouldTerminate(), ZRNAppDelegate::TerminateReply::TerminateNow);
  delegate->applicationWillTerminate();

  const QStringList expected = {
      "init", "applicationWillFinishLaunching", "Prefs_MigratePreferences", "ZRNLogger_Start",
      "applicationDidFinishLaunching", "SUUpdater", "loadZRNRecentsMenu", "showStartupTermsOfServiceDialog",
      "U_CheckForPreviousCrash", "finishNormalApplicationStartup", "U_WriteCrashSemaphore",
      "FirstAid_CountNormalLaunch", "FirstAid_PruneDebugLogDays", "fileSleepNotifications",
      "delayedStartupActions", "startNewRecording", "U_StartLiveWindow", "applicationWillTerminate",
      "ZRNLogger_Stop"};
  EXPECT_EQ(delegate->launchPhases(), expected);
  EXPECT_EQ(gZRNAppPrefs->numberOfRunsCurrent(), 1) << "a normal start counts one run";
}

TEST_F(LaunchTest, StartupNoteQuietForFiveDays) {
  const struct {
    const char* name;
    std::optional<qint64> ageSeconds;  // how long ago the note was shown; nullopt: never
    bool shown;
  } cases[] = {{"never shown", std::nullopt, true},
               {"exactly five days ago", 432000, true},
               {"one second short of five days", 431999, false},
               {"yesterday", 86400, false}};
  delegate = std::make_unique<ZRNAppDelegate>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime last = c.ageSeconds ? now.addSecs(-*c.ageSeconds) : QDateTime();
    defaults().setObject(QStringLiteral("HVNoteDate"), c.ageSeconds ? QVariant(last) : QVariant());
    // The note is a real modal window: answer it with "Continue" while counting how often it shows.
    int notesShown = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      auto* button = modal ? modal->findChild<QPushButton*>(QStringLiteral("okBtn")) : nullptr;
      if (!button || modal->objectName() != QLatin1String("ZRNStartupNoteWC")) return;
      ++notesShown;
      button->click();
    });
    answer.start(5);
    delegate->showStartupTermsOfServiceDialog();
    answer.stop();
    EXPECT_EQ(notesShown, c.shown ? 1 : 0);
    const QDateTime stored = defaults().objectForKey(QStringLiteral("HVNoteDate")).toDateTime();
    ASSERT_TRUE(stored.isValid());
    if (c.shown) EXPECT_LE(std::abs(stored.secsTo(now)), 5) << "the note's date is now";
    else EXPECT_EQ(stored.toSecsSinceEpoch(), last.toSecsSinceEpoch()) << "the date is left alone";
  }
}

TEST_F(LaunchTest, CameraWaitLastsTheDiscoveryDelayInWholeSeconds) {
  const struct {
    qint64 delayMillis;
    qint64 seconds;
  } cases[] = {{2500, 2}, {999, 0}, {-1500, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delayMillis);
    SetUp();
    UserDefaults::standard().setObject(QStringLiteral("ZRNCameraUID"), QStringLiteral("usb-absent-camera"));
    UserDefaults::standard().setInteger(QStringLiteral("ZRNDiscoveryDelayMillis"), c.delayMillis);
    launch();
    ASSERT_TRUE(waitFor(QStringLiteral("waitForCamera")));
    EXPECT_EQ(delegate->deviceWaitingSeconds(), c.seconds);
    if (c.seconds == 0) {
      // The window opens after the wait although the camera never came.
      ASSERT_TRUE(waitFor(QStringLiteral("U_StartLiveWindow")));
      EXPECT_TRUE(delegate->cameraOnline());
      EXPECT_FALSE(delegate->hasDeviceWaitingTimer());
    } else {
      EXPECT_FALSE(delegate->cameraOnline());
      EXPECT_FALSE(ran(QStringLiteral("U_StartLiveWindow")));
      // Quitting while not recording cancels the wait.
      EXPECT_EQ(delegate->applicationShouldTerminate(), ZRNAppDelegate::TerminateReply::TerminateNow);
      EXPECT_FALSE(delegate->hasDeviceWaitingTimer());
    }
    TearDown();
  }
}

TEST_F(LaunchTest, SavedCameraArrivingEndsTheWaitOnce) {
  defaults().setObject(QStringLiteral("ZRNCameraUID"), QStringLiteral("usb-046d-0825"));
  defaults().setInteger(QStringLiteral("ZRNDiscoveryDelayMillis"), 60000);
  launch();
  ASSERT_TRUE(waitFor(QStringLiteral("waitForCamera")));

  auto announce = [](const QString& uid, bool video) {
    // Devices are announced from the hot-plug thread, not the main thread.
    std::thread([uid, video] {
      NotificationCenter::defaultCenter().post(kCapDev_DeviceWasConnectedNotification, nullptr,
                                               {{QStringLiteral("uniqueID"), uid},
                                                {QStringLiteral("mediaType"), video ? QStringLiteral("vide") : QStringLiteral("soun")}});
    }).join();
  };
  announce(QStringLiteral("usb-other"), true);
  announce(QStringLiteral("usb-046d-0825"), false);  // the microphone of the same webcam
  Test_ProcessEvents(50);
  EXPECT_FALSE(ran(QStringLiteral("U_StartLiveWindow")));
  EXPECT_TRUE(delegate->hasDeviceWaitingTimer());

  announce(QStringLiteral("usb-046d-0825"), true);
  ASSERT_TRUE(waitFor(QStringLiteral("U_StartLiveWindow")));
  EXPECT_FALSE(delegate->hasDeviceWaitingTimer());
  announce(QStringLiteral("usb-046d-0825"), true);
  Test_ProcessEvents(50);
  EXPECT_EQ(delegate->launchPhases().count(QStringLiteral("U_StartLiveWindow")), 1);
}

TEST_F(LaunchTest, WillTerminateRunsOnceAndDeletesTheMailArchive) {
  launch();
  const QString archive = Test_MakeTempDir(QStringLiteral("mail")) + QStringLiteral("/Velmora_CrashLogs.zip");
  {
    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("PK");
  }
  delegate->setLogsForEmailURL(QUrl::fromLocalFile(archive));
  delegate->applicationWillTerminate();
  delegate->applicationWillTerminate();
  EXPECT_FALSE(QFileInfo::exists(archive));
  EXPECT_TRUE(delegate->logsForEmailURL().isEmpty());
  EXPECT_EQ(delegate->launchPhases().count(QStringLiteral("applicationWillTerminate")), 1);
}

// A preferences file that could not be read used to be named in the debug log only: the user is told,
// once, at the start that found it, what became of it.
TEST_F(LaunchTest, APreferencesFileThatCannotBeReadIsToldOnceAtThatStart) {
  const QString prefsFile = StandardLocations::preferencesFilePath();
  const struct {
    const char* name;
    bool pipe;
    const char* mainText;
    const char* explains;  // what the explanation must hold besides the file's place
  } cases[] = {{"damaged: kept aside and reset", false, "Velmora's preferences were reset.", "was kept as"},
               {"a pipe: left alone", true, "Velmora cannot read its preferences file.", "not a regular file"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UserDefaults::resetStandard();
    QFile::remove(prefsFile);
    if (c.pipe) {
      ASSERT_EQ(::mkfifo(QFile::encodeName(prefsFile).constData(), 0600), 0);
    } else {
      QFile f(prefsFile);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("<plist><dict><key>broken") > 0);
    }
    Prefs_RegisterDefaultPrefs();  // the first use of the defaults reads the file, as the launch does
    auto answerer = std::make_unique<AlertAnswerer>();
    for (int start = 0; start < 2; ++start) {
      launch();
      ASSERT_TRUE(waitFor(QStringLiteral("U_StartLiveWindow"), 20000));
      delegate->applicationWillTerminate();
      delete VLLiveWC_Current();
      delegate.reset();
    }
    const QStringList told = answerer->told;
    answerer.reset();
    ASSERT_EQ(told.size(), 1) << "told at the start that found it, not at the next";
    EXPECT_TRUE(told.first().contains(QString::fromUtf8(c.mainText))) << told.first().toStdString();
    EXPECT_TRUE(told.first().contains(QString::fromUtf8(c.explains))) << told.first().toStdString();
    if (c.pipe) {
      EXPECT_TRUE(told.first().contains(prefsFile)) << told.first().toStdString();
      EXPECT_TRUE(QFileInfo(prefsFile).exists() && !QFileInfo(prefsFile).isFile()) << "the pipe stays";
      QFile::remove(prefsFile);
    } else {
      const QStringList aside = QDir(QFileInfo(prefsFile).absolutePath()).entryList({QStringLiteral("*.damaged-*")});
      ASSERT_EQ(aside.size(), 1);
      EXPECT_TRUE(told.first().contains(aside.first())) << told.first().toStdString();
      QFile::remove(QFileInfo(prefsFile).absolutePath() + QLatin1Char('/') + aside.first());
    }
  }
}

// A lock folder that could not be used left the run without crash detection, and only the log said so.
TEST_F(LaunchTest, ALockFolderThatCannotBeUsedIsToldOnceAndTheStartGoesOn) {
  const QString support = StandardLocations::applicationSupportPath();
  const QString folder = CrashLock_FolderPath();
  const QString elsewhere = Test_MakeTempDir(QStringLiteral("elsewhere"));
  const struct {
    const char* name;
    QString blocked;  // the item in the way: a file, or a link to `linkTo`
    QString linkTo;
    QString reason;
  } cases[] = {
      {"a file named CrashLocks", folder, {}, QStringLiteral("it is a file, not a folder.")},
      {"a dangling link", folder, support + QStringLiteral("/gone"),
       QStringLiteral("it is a link to \"%1/gone\", which does not exist.").arg(support)},
      {"a link out of the folder", folder, elsewhere, QStringLiteral("it is a link to \"%1\", not a folder of its own.").arg(elsewhere)},
      {"the application-support folder is a file", support, {}, QStringLiteral("\"%1\" is a file, not a folder.").arg(support)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    QDir(support).removeRecursively();
    QDir().mkpath(QFileInfo(c.blocked).path());
    ASSERT_TRUE(c.linkTo.isEmpty() ? QFile(c.blocked).open(QIODevice::WriteOnly) : QFile::link(c.linkTo, c.blocked));
    setCrashLockFileURL(QUrl());
    AlertAnswerer answerer;
    launch();
    ASSERT_TRUE(waitFor(QStringLiteral("U_StartLiveWindow"), 20000)) << "the start goes on";
    ASSERT_EQ(answerer.told.size(), 1);
    EXPECT_TRUE(answerer.told.first().startsWith(QStringLiteral("Velmora will not notice if it crashes.")));
    EXPECT_TRUE(answerer.told.first().contains(QStringLiteral("\"%1\": %2").arg(folder, c.reason))) << answerer.told.first().toStdString();
    EXPECT_TRUE(crashLockFileURL().isEmpty());
    EXPECT_TRUE(Test_LoggedText().contains(QStringLiteral("ERR: no crash lock in ") + folder));
    TearDown();
    QFile::remove(c.blocked);
  }
  EXPECT_TRUE(QDir(elsewhere).isEmpty()) << "nothing written through the link";
}

// Run only as the child of the test below: makes this run's temporary folder, then waits to be killed.
TEST(TemporaryFolderChild, DISABLED_MakeItAndWait) {
  if (!qEnvironmentVariableIsSet("VELMORA_PARENT_TMPDIR")) GTEST_SKIP();
  qputenv("TMPDIR", qgetenv("VELMORA_PARENT_TMPDIR"));
  QFile page(File_RunTemporaryFolder() + QStringLiteral("/Acknowledgments.html"));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly) && page.write("<html/>") > 0);
  page.close();
  QFile input;
  ASSERT_TRUE(input.open(stdin, QIODevice::ReadOnly));
  input.readAll();
}

// A killed run never removed its temporary folder: a later start removes it, and keeps this run's.
TEST_F(LaunchTest, TheStartRemovesTheTemporaryFolderOfAKilledRun) {
  QProcess killed;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("VELMORA_PARENT_TMPDIR"), StandardLocations::tempPath());
  killed.setProcessEnvironment(env);
  killed.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=TemporaryFolderChild.DISABLED_MakeItAndWait"),
                                                         QStringLiteral("--gtest_also_run_disabled_tests")});
  ASSERT_TRUE(killed.waitForStarted(10000));
  const QString folder = StandardLocations::tempPath() + QStringLiteral("/velmora-%1").arg(killed.processId());
  ASSERT_TRUE(Test_WaitUntil([&] { return QFileInfo::exists(folder + QStringLiteral("/Acknowledgments.html")); }, 20000));
  ASSERT_EQ(::kill(static_cast<pid_t>(killed.processId()), SIGKILL), 0);
  ASSERT_TRUE(killed.waitForFinished(10000));
  ASSERT_TRUE(QFileInfo(folder).isDir()) << "a killed run cannot take its folder away";
  const QString own = File_RunTemporaryFolder();

  launch();
  EXPECT_TRUE(Test_WaitUntil([&] { return !QFileInfo::exists(folder); }, 20000));
  EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(20000));
  EXPECT_TRUE(QFileInfo(own).isDir()) << "a run going on keeps its folder";
  QDir(own).removeRecursively();
}
