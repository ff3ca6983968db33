#include "common/ZRNSystemFunctions.h"

#include "common/ZRNFileFunctions.h"
#include "platform/system/Power.h"
#include "platform/system/ScreenSaver.h"
#include "platform/system/PrivateDBus.h"
#include "tests/app/AppTestSupport.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace {
const QStringList kDesktopNames{QStringLiteral("org.freedesktop.login1"), QStringLiteral("org.freedesktop.UPower"),
                                QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("org.freedesktop.ScreenSaver")};

bool isOpenDescriptor(int fd) { return fcntl(fd, F_GETFD) != -1; }

class SystemBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!daemon.isRunning()) GTEST_SKIP() << "dbus-daemon is not available";
    desktop = std::make_unique<FakeDesktopOnBus>(daemon.address(), kDesktopNames);
    ASSERT_TRUE(desktop->isReady());
    systemBus = std::make_unique<ScopedEnvironment>("DBUS_SYSTEM_BUS_ADDRESS", daemon.address().toUtf8());
    sessionBus = std::make_unique<ScopedEnvironment>("DBUS_SESSION_BUS_ADDRESS", daemon.address().toUtf8());
    ZRNLogger_Start(1);
  }
  void TearDown() override {
    Sys_ResetSystemSleep();
    ZRNLogger_Stop();
  }

  PrivateBusDaemon daemon;
  std::unique_ptr<FakeDesktopOnBus> desktop;
  std::unique_ptr<ScopedEnvironment> systemBus;
  std::unique_ptr<ScopedEnvironment> sessionBus;
};
}  // namespace

TEST_F(SystemBusTest, SleepLocksAreTakenHeldAndReleasedOnce) {
  Sys_PreventSystemSleep();
  const QList<FakeDesktopServices::Lock> locks = desktop->services().locks();
  ASSERT_EQ(locks.size(), 2);
  EXPECT_EQ(locks[0].what, QStringLiteral("idle"));
  EXPECT_EQ(locks[1].what, QStringLiteral("sleep"));
  for (const auto& lock : locks) EXPECT_TRUE(FakeDesktopServices::isHeld(lock)) << qPrintable(lock.what);
  const int displaySlot = Sys_SleepAssertionID(0);
  EXPECT_GT(displaySlot, 0);
  EXPECT_EQ(Sys_SleepAssertionID(2), 0);  // disks have no lock to take here

  Sys_ResetSystemSleep();
  for (const auto& lock : locks)
    EXPECT_TRUE(Test_WaitUntil([&] { return !FakeDesktopServices::isHeld(lock); }, 5000)) << qPrintable(lock.what);
  EXPECT_EQ(Sys_SleepAssertionID(0), 0);

  // A second reset must not close a descriptor that now belongs to someone else: take the number the
  // display lock had (unless one of Qt's threads was quicker to reuse it).
  QFile other(QCoreApplication::applicationFilePath());
  ASSERT_TRUE(other.open(QIODevice::ReadOnly));
  const int reused = fcntl(other.handle(), F_DUPFD_CLOEXEC, displaySlot);
  Sys_ResetSystemSleep();
  EXPECT_TRUE(isOpenDescriptor(reused)) << "descriptor " << reused << ", lock was " << displaySlot;
  ::close(reused);

  // The screen saver was held off once, on a connection kept open while held, and given back once with
  // its own cookie, though the reset ran twice.
  ASSERT_TRUE(Test_WaitUntil([&] { return desktop->services().screenSaverCalls().size() == 2; }, 5000));
  Test_ProcessEvents(200);
  const auto calls = desktop->services().screenSaverCalls();
  ASSERT_EQ(calls.size(), 2);
  EXPECT_EQ(calls[0].method, QStringLiteral("Inhibit"));
  EXPECT_EQ(calls[1].method, QStringLiteral("UnInhibit"));
  EXPECT_EQ(calls[1].cookie, calls[0].cookie);
  EXPECT_EQ(calls[1].sender, calls[0].sender);

  const QString log = Test_LoggedText();
  EXPECT_TRUE(log.contains(QStringLiteral("gAssertionID_IdleDisplay: %1").arg(displaySlot)));
  EXPECT_EQ(log.count(QStringLiteral("Sys_ResetSystemSleep")), 2);
}

TEST_F(SystemBusTest, BatteryStateComesFromUPower) {
  for (bool onBattery : {true, false}) {
    desktop->services().setOnBattery(onBattery);
    EXPECT_EQ(Sys_IsOnBattery(), onBattery);
  }
}

TEST_F(SystemBusTest, RevealAsksTheFileManagerForAFileOrAFolder) {
  const QString folder = Test_MakeTempDir(QStringLiteral("reveal"));
  QFile movie(folder + QStringLiteral("/clip 1.mov"));
  ASSERT_TRUE(movie.open(QIODevice::WriteOnly));
  movie.close();

  EXPECT_TRUE(File_RevealInFinder(movie.fileName(), false));
  EXPECT_TRUE(File_RevealInFinder(folder, true));
  const auto reveals = desktop->services().reveals();
  ASSERT_EQ(reveals.size(), 2);
  EXPECT_EQ(reveals[0].method, QStringLiteral("ShowItems"));
  EXPECT_EQ(reveals[0].uris, QStringList{QUrl::fromLocalFile(movie.fileName()).toString(QUrl::FullyEncoded)});
  EXPECT_EQ(reveals[1].method, QStringLiteral("ShowFolders"));
  EXPECT_EQ(reveals[1].uris, QStringList{QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded)});
}

// A hold of the screen saver let go just before the program ends: the release reaches the bus before the
// bus library goes, and the end is clean (a release run on past the end used to crash in the exit handlers).
TEST_F(SystemBusTest, AHoldLetGoJustBeforeTheEndReachesTheBusAndTheEndIsClean) {
  // The hold is still being answered when the child's main returns.
  desktop->services().setScreenSaverInhibitDelay(400);
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), daemon.address());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=ScreenSaverChild.DISABLED_HoldAndLetGoAtTheEnd"), QStringLiteral("--gtest_also_run_disabled_tests")});
    // The bus stand-in answers on this thread: it is kept running while the child works.
    ASSERT_TRUE(Test_WaitUntil([&] { return child.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
    EXPECT_TRUE(Test_WaitUntil([&] { return desktop->services().screenSaverCalls().size() == 2 * round; }, 5000));
    EXPECT_EQ(desktop->services().screenSaverHolds(), 0);
  }
}

// Run only as the child of the test above.
TEST(ScreenSaverChild, DISABLED_HoldAndLetGoAtTheEnd) { ScreenSaverInhibition hold(QStringLiteral("Velmora"), QStringLiteral("test")); }

TEST(SystemFunctions, WithoutABusNothingIsHeldAndNothingFails) {
  const ScopedEnvironment noBus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/velmora-test-bus");
  Sys_PreventSystemSleep();
  EXPECT_EQ(Sys_SleepAssertionID(0) + Sys_SleepAssertionID(1), 0);
  Sys_ResetSystemSleep();
  // Only the kernel's power-supply view is left to tell.
  EXPECT_EQ(Sys_IsOnBattery(), Power_SysfsSource() == PowerSource::Battery);
}

TEST(SystemFunctions, ReportHasItsSectionsInOrder) {
  const QString report = Sys_SystemReport();
  const struct passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  const QString pattern = QStringLiteral(
                              "^System version: \\d+\\.\\d+\\.\\d+\\n\\n"
                              "Model: .*\\nCPU Speed: (\\d+ x )?\\d+\\.\\d\\d GHz\\n\\n"
                              "RAM: \\d+MB\\n"
                              "User: %1  SessionID: %2\\n\\n"
                              "Application : %3\\n\\n"
                              "-{50}\\n\\n"
                              "Mounted volumes:\\n\\n"
                              "((\\d+): file:///.*\\n)+"
                              "\\n$")
                              .arg(QRegularExpression::escape(QString::fromLocal8Bit(user->pw_name)))
                              .arg(getuid())
                              .arg(QRegularExpression::escape(QCoreApplication::applicationFilePath()));
  EXPECT_TRUE(QRegularExpression(pattern).match(report).hasMatch()) << qPrintable(report);

  // Volumes are numbered from 1 without gaps; the root is one, kernel file systems are not.
  const QString volumes = report.section(QStringLiteral("Mounted volumes:\n\n"), 1);
  const QStringList lines = volumes.trimmed().split(QLatin1Char('\n'));
  for (int i = 0; i < lines.size(); ++i) EXPECT_TRUE(lines[i].startsWith(QStringLiteral("%1: ").arg(i + 1))) << qPrintable(lines[i]);
  EXPECT_TRUE(lines.contains(QRegularExpression(QStringLiteral("^\\d+: file:///$"))));
  EXPECT_FALSE(volumes.contains(QStringLiteral("file:///proc/")));
  EXPECT_FALSE(volumes.contains(QStringLiteral("file:///sys/")));
}

TEST_F(SystemBusTest, TakingLocksAgainReleasesTheEarlierOnes) {
  Sys_PreventSystemSleep();
  Sys_PreventSystemSleep();
  const QList<FakeDesktopServices::Lock> locks = desktop->services().locks();
  ASSERT_EQ(locks.size(), 4);
  EXPECT_TRUE(Test_WaitUntil([&] { return !FakeDesktopServices::isHeld(locks[0]) && !FakeDesktopServices::isHeld(locks[1]); }, 5000));
  EXPECT_TRUE(FakeDesktopServices::isHeld(locks[2]));
  EXPECT_TRUE(FakeDesktopServices::isHeld(locks[3]));
}
