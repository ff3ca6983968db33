// The real executable, started as a user would start it: a run that is killed is found at the next
// start, a fatal signal leaves a crash report, and copies at different paths keep their locks apart.

#include "app/ZRNAppDelegate_FirstAid.h"

#include "firstaid/ZRNFirstAidWindowController.h"
#include "platform/foundation/PropertyList.h"
#include "support/ZipTestSupport.h"
#include "tests/app/AppTestSupport.h"
#include "tests/firstaid/FirstAidTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {
const QString kShownAfterCrash = QStringLiteral("first aid window shown: after a crash, 442 high, heading shown");

QString readAll(const QString& path) {
  QFile f(path);
  return !path.isEmpty() && f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString lockFolder(const QString& home) {
  return home + QStringLiteral("/.local/share/org.velmora.Velmora/") + kCrashLock_FolderName;
}

QStringList locksIn(const QString& home) {
  return QDir(lockFolder(home)).entryList({QStringLiteral("lockfile*")}, QDir::Files);
}

QVariantMap storedPrefs(const QString& home) {
  return PropertyList_ReadFile(home + QStringLiteral("/.config/org.velmora.Velmora.plist")).toMap();
}

// One started velmora; its own runtime folder keeps it from handing over to another copy.
class Velmora {
 public:
  Velmora(const QString& executable, const QString& home, const QString& runtime = QString()) : m_home(home) {
    QProcessEnvironment env = Test_ExecutableEnvironment(home, false);
    if (!runtime.isEmpty()) {
      QDir().mkpath(runtime);
      QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
      env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    }
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The crashes here are deliberate: no core files.
    m_process.setChildProcessModifier([] {
      struct rlimit none = {0, 0};
      ::setrlimit(RLIMIT_CORE, &none);
    });
    m_process.start(executable, {});
    m_process.waitForStarted(10000);
    m_pid = m_process.processId();
  }
  ~Velmora() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.kill();
    m_process.waitForFinished(10000);
  }
  qint64 pid() const { return m_process.processId(); }
  QString log() const {
    QDirIterator it(m_home + QStringLiteral("/.local/state/org.velmora.Velmora/Debug_Logs"),
                    {QStringLiteral("%1_Debug.log").arg(m_pid)}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? readAll(it.next()) : QString();
  }
  bool waitForLog(const QString& text, int timeoutMs = 30000) {
    return Test_WaitUntil([&] { return log().contains(text); }, timeoutMs);
  }
  // Ends it with the signal; true when it ended.
  bool end(int signal) {
    ::kill(static_cast<pid_t>(m_pid), signal);
    return m_process.waitForFinished(20000);
  }
  QProcess& process() { return m_process; }

 private:
  QString m_home;
  qint64 m_pid = 0;
  QProcess m_process;
};

// A home whose preferences say the startup note was just seen, so a start runs through without it.
QString launchedHome(const QString& home) {
  EXPECT_TRUE(Test_SeedLaunchedPrefs(home + QStringLiteral("/.config/org.velmora.Velmora.plist")));
  return home;
}

class FirstAidExecutableTest : public LaunchedAppTest {
 protected:
  void SetUp() override {
    LaunchedAppTest::SetUp();
    QDir(StandardLocations::applicationSupportPath()).removeRecursively();
    setCrashLockFileURL(QUrl());
  }
  // Starts the real executable in this test's own folders, lets it reach its normal start, and kills it.
  void killARunOfTheExecutable(int signal) {
    Test_SeedLaunchedPrefs(StandardLocations::preferencesFilePath());
    Velmora run(Test_VelmoraExecutable(), Test_HomePath());
    ASSERT_TRUE(Test_WaitUntil([] { return !Test_LockEntries().isEmpty(); }, 30000));
    ASSERT_TRUE(run.end(signal));
    EXPECT_EQ(run.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(Test_LockEntries().size(), 1) << "the killed run's lock stays";
    // What this process reads from now on is what the killed run left.
    UserDefaults::resetStandard();
  }
};
}  // namespace

TEST(FirstAidExecutable, AKilledRunIsFoundAtTheNextStartAndACleanQuitLeavesNoLock) {
  const QString home = launchedHome(Test_MakeTempDir(QStringLiteral("home")));
  {
    Velmora first(Test_VelmoraExecutable(), home);
    ASSERT_TRUE(Test_WaitUntil([&] { return locksIn(home).size() == 1; }, 30000));
    ASSERT_TRUE(first.end(SIGKILL));
  }
  ASSERT_EQ(locksIn(home).size(), 1);
  {
    Velmora second(Test_VelmoraExecutable(), home);
    ASSERT_TRUE(second.waitForLog(kShownAfterCrash)) << second.log().toStdString();
    // Counted before the window opened: one crash in the preferences, one first aid in this run's counters.
    ASSERT_TRUE(Test_WaitUntil([&] { return storedPrefs(home).value(QStringLiteral("CrashCounter")).toInt() == 1; }));
    EXPECT_EQ(storedPrefs(home).value(QStringLiteral("ZRNAppCounters")).toMap().value(QStringLiteral("numFirstAids")).toInt(), 0)
        << "the run's counters start at -1";
    // Quitting while the window is up ends the run cleanly; the lock of our own executable goes with it.
    ASSERT_TRUE(second.end(SIGTERM));
    EXPECT_EQ(second.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process().exitCode(), 0);
    EXPECT_TRUE(second.log().trimmed().endsWith(QStringLiteral("prepare to ZRNLogger_Stop")));
  }
  EXPECT_FALSE(QFileInfo::exists(lockFolder(home)));
  {
    Velmora third(Test_VelmoraExecutable(), home);
    ASSERT_TRUE(Test_WaitUntil([&] { return locksIn(home).size() == 1; }, 30000));
    ASSERT_TRUE(third.end(SIGTERM));
    EXPECT_EQ(third.process().exitCode(), 0);
    EXPECT_FALSE(third.log().contains(QStringLiteral("first aid window shown")));
  }
  EXPECT_FALSE(QFileInfo::exists(lockFolder(home))) << "a clean quit leaves no lock";
}

TEST(FirstAidExecutable, CopiesAtDifferentPathsKeepTheirLocksApart) {
  const QString home = launchedHome(Test_MakeTempDir(QStringLiteral("home")));
  const QString pathA = Test_CopyBinary(Test_VelmoraExecutable(), Test_MakeTempDir(QStringLiteral("copyA")));
  const QString pathB = Test_CopyBinary(Test_VelmoraExecutable(), Test_MakeTempDir(QStringLiteral("copyB")));
  ASSERT_FALSE(pathA.isEmpty());
  ASSERT_FALSE(pathB.isEmpty());
  Velmora a(pathA, home, home + QStringLiteral("/.runA"));
  ASSERT_TRUE(Test_WaitUntil([&] { return locksIn(home).size() == 1; }, 30000));
  {
    Velmora b(pathB, home, home + QStringLiteral("/.runB"));
    ASSERT_TRUE(Test_WaitUntil([&] { return locksIn(home).size() == 2; }, 30000)) << "B started normally";
    EXPECT_FALSE(b.log().contains(QStringLiteral("first aid window shown")));
    ASSERT_TRUE(b.end(SIGTERM));
  }
  ASSERT_EQ(locksIn(home).size(), 1) << "B took its own lock away, A's stays";
  // A lock of B's own executable, as a crash of B would leave it: B's next start finds it, A still running.
  const QString crashed = home + QStringLiteral("/.local/share/org.velmora.Velmora/CrashLocks/lockfile_1");
  QFile lock(crashed);
  ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
  lock.write(Process_ExecutableReference(Process_ExecutableIdentityOf(pathB)));
  lock.close();
  Velmora b(pathB, home, home + QStringLiteral("/.runB"));
  EXPECT_TRUE(b.waitForLog(kShownAfterCrash)) << b.log().toStdString();
  ASSERT_TRUE(b.end(SIGTERM));
  ASSERT_TRUE(a.end(SIGTERM));
  EXPECT_FALSE(QFileInfo::exists(lockFolder(home)));
}

TEST_F(FirstAidExecutableTest, CancelAfterAKilledRunGoesOnWithTheNormalStart) {
  killARunOfTheExecutable(SIGKILL);
  int height = 0;
  bool heading = false;
  Test_AnswerNextModal(QStringLiteral("cancelBtn"), [&](QWidget* modal) {
    if (auto* window = qobject_cast<ZRNFirstAidWindowController*>(modal)) {
      height = window->height();
      heading = window->title()->isVisible();
    }
  });
  launch();
  EXPECT_EQ(height, 442);
  EXPECT_TRUE(heading);
  EXPECT_TRUE(ran(QStringLiteral("finishNormalApplicationStartup")));
  EXPECT_TRUE(waitFor(QStringLiteral("delayedStartupActions")));
  EXPECT_EQ(gZRNAppPrefs->numberOfCrashes(), 1);
  // The killed run's lock went with the clean-up after the window; this run's own lock is there (it may
  // carry the same name when both fall into one second).
  ASSERT_EQ(Test_LockEntries(), QStringList{QFileInfo(crashLockFileURL().toLocalFile()).fileName()});
  QString lockedPath;
  EXPECT_EQ(readContentsOfFile(crashLockFileURL().toLocalFile(), &lockedPath), 0);
  EXPECT_EQ(lockedPath, Process_OwnExecutable().path);
  EXPECT_NE(lockedPath, QFileInfo(Test_VelmoraExecutable()).canonicalFilePath());
}

TEST_F(FirstAidExecutableTest, AFatalSignalLeavesACrashReportThatTheNextArchiveHolds) {
  const QString desktop = Test_HomePath() + QStringLiteral("/Desktop");
  QDir().mkpath(desktop);
  killARunOfTheExecutable(SIGSEGV);
  const QStringList reports = FirstAid_FilesWithPrefixAndSuffix(QStringLiteral("velmora"), FirstAid_UserDiagnosticReportsPath(), QStringLiteral(".crash"));
  ASSERT_EQ(reports.size(), 1);
  EXPECT_TRUE(reports[0].contains(QRegularExpression(QStringLiteral("^velmora_\\d{4}-\\d{2}-\\d{2}-\\d{6}\\.crash$")))) << reports[0].toStdString();
  const QByteArray report = readAll(FirstAid_UserDiagnosticReportsPath() + QLatin1Char('/') + reports[0]).toUtf8();
  EXPECT_TRUE(report.startsWith("Process:         velmora [")) << report.constData();
  EXPECT_TRUE(report.contains("Signal:          11 (SIGSEGV)")) << report.constData();
  EXPECT_TRUE(report.contains("Version:         " VELMORA_VERSION_STRING));
  EXPECT_TRUE(report.contains("Backtrace:\n"));
  EXPECT_TRUE(report.contains("velmora(")) << "the stack names the executable's frames";

  // The next start finds the crash; "Save logs" puts the report on the Desktop, says so, then the start goes on.
  QString message;
  Test_AnswerFirstAidThenItsMessage(&message);
  launch();
  const QString archive = desktop + QStringLiteral("/Velmora_CrashLogs.zip");
  ASSERT_TRUE(Test_WaitUntil([&] { return QFileInfo::exists(archive) && !message.isEmpty(); }, 30000));
  EXPECT_TRUE(message.contains(archive)) << message.toStdString();
  EXPECT_TRUE(waitFor(QStringLiteral("finishNormalApplicationStartup"), 30000));
  QString error;
  const QList<QVariantMap> entries = Test_PythonZipEntries(archive, &error);
  EXPECT_EQ(Test_ZipEntry(entries, reports[0]).value("data").toByteArray(), report) << error.toStdString();
}
