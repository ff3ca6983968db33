#include "platform/system/CrashReport.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

namespace {
const char* kChildVariable = "VELMORA_CRASHREPORT_CHILD";
}  // namespace

TEST(CrashReport, AFaultWritesItsReportAndEndsWithTheSameSignal) {
  const struct {
    const char* mode;
    int signal;
    const char* detail;
  } cases[] = {{"null", SIGSEGV, "Fault address:   0x0\n"}, {"abort", SIGABRT, "Sent by process: "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const QString folder = Test_MakeTempDir(QStringLiteral("reports")) + QStringLiteral("/not/yet/made");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), QString::fromLatin1(c.mode) + QLatin1Char('|') + folder);
    // Under the address sanitizer the fault must reach our handler, not the sanitizer's.
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":handle_segv=0"));
    child.setProcessEnvironment(env);
    // No core file from the deliberate crash.
    child.setChildProcessModifier([] {
      struct rlimit none = {0, 0};
      ::setrlimit(RLIMIT_CORE, &none);
    });
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=CrashReportChild.DISABLED_Crash"), QStringLiteral("--gtest_also_run_disabled_tests")});
    ASSERT_TRUE(child.waitForFinished(60000));
    // The system's own handling came after ours: the process died of the signal.
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(child.exitCode(), c.signal);
    const QStringList reports = QDir(folder).entryList({QStringLiteral("velmora_*.crash")}, QDir::Files);
    ASSERT_EQ(reports.size(), 1);
    QFile file(folder + QLatin1Char('/') + reports[0]);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray report = file.readAll();
    EXPECT_TRUE(report.startsWith("Process:         velmora [")) << report.constData();
    EXPECT_TRUE(report.contains("Version:         9.8.7\n"));
    EXPECT_TRUE(report.contains(QByteArray("Signal:          ") + QByteArray::number(c.signal)));
    EXPECT_TRUE(report.contains(c.detail)) << report.constData();
    EXPECT_TRUE(report.contains("Backtrace:\n"));
    EXPECT_EQ(QFile::permissions(file.fileName()) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0) << "private to the user";
  }
}

namespace {
// The deliberate fault, left alone by the undefined-behaviour sanitizer so that it happens.
// The pointer is read from a volatile variable, so the compiler cannot see that it is null and drop the store.
int* volatile gNowhere = nullptr;
__attribute__((no_sanitize("undefined"), noinline)) void U_StoreThroughNull() {
  int* nowhere = gNowhere;
  *reinterpret_cast<volatile int*>(nowhere) = 1;
}
}  // namespace

// Run only as the child of the test above.
TEST(CrashReportChild, DISABLED_Crash) {
  const QStringList spec = qEnvironmentVariable(kChildVariable).split(QLatin1Char('|'));
  if (spec.size() != 2) GTEST_SKIP();
  ASSERT_TRUE(CrashReport_Install(spec[1], QStringLiteral("velmora"), QStringLiteral("9.8.7")));
  if (spec[0] == QLatin1String("abort")) std::abort();
  U_StoreThroughNull();
}
