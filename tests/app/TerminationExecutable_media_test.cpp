// The real executable ends while it records, by signal or by Quit (which asks first), and keeps the
// recording whole.

#include "tests/app/TerminationExecutableSupport.h"

using namespace terminationtest;

TEST(TerminationExecutable, EndsWhileRecordingAndKeepsTheRecording) { endEachWay(State::Recording); }

// The end comes while the session build waits for a camera that is slow to open. Before the application's
// objects and the process's globals go, the build runs to its end and its session stops; a camera that does
// not open in time is given up after a bounded wait, and the process ends without running into its globals.
TEST(TerminationExecutable, EndsWhileTheSessionBuildWaitsForASlowCamera) {
  struct Row {
    const char* name;
    int openDelayMillis;
    bool buildEnds;
    int signal;
  };
  for (const Row& row : {Row{"slow, SIGTERM", 1500, true, SIGTERM}, Row{"stuck, SIGINT", 120000, false, SIGINT},
                         Row{"stuck, SIGHUP", 120000, false, SIGHUP}}) {
    SCOPED_TRACE(row.name);
    RunningVelmora velmora(State::NamingPanel, false, QString(),
                           {{QStringLiteral("VELMORA_VIRTUAL_CAMERA_OPEN_DELAY_MS"), QString::number(row.openDelayMillis)}});
    ASSERT_TRUE(velmora.started());
    ASSERT_TRUE(velmora.waitForLog(QStringLiteral("capture: the camera 'Velmora Test Pattern' takes"))) << velmora.log().toStdString();
    velmora.signal(row.signal);
    ASSERT_TRUE(velmora.finishedWithin(12000)) << "still running 12 s later\n" << velmora.log().toStdString();
    EXPECT_EQ(velmora.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(velmora.process().exitCode(), 0);
    const QString log = velmora.log();
    EXPECT_TRUE(log.trimmed().endsWith(QStringLiteral("prepare to ZRNLogger_Stop"))) << log.toStdString();
    EXPECT_EQ(log.contains(QStringLiteral("capture: opened ")), row.buildEnds) << log.toStdString();
    EXPECT_EQ(log.contains(QStringLiteral("ERR: the capture session did not end within")), !row.buildEnds) << log.toStdString();
  }
}
