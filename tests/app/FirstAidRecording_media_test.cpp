// Killed while recording: the next start shows First Aid, saving the logs puts a readable archive on
// the Desktop, and the recording's package still opens.

#include "app/ZRNAppDelegate_FirstAid.h"

#include "capture/VLLiveWC.h"
#include "firstaid/ZRNFirstAidWindowController.h"
#include "platform/media/capture/VirtualDevices.h"
#include "playback/VLPlaybackWC.h"
#include "support/MediaTestSupport.h"
#include "support/ZipTestSupport.h"
#include "tests/app/AppTestSupport.h"
#include "tests/firstaid/FirstAidTestSupport.h"
#include "tests/platform/media/AssetWriterTestMedia.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace {
const char* kChildVariable = "VELMORA_FIRSTAID_RECORDING_CHILD";

// Runs the launch of a whole application in a child test process that records and is killed.
QProcess::ExitStatus recordAndGetKilled(const QString& folder, qint64* pid) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  // The child keeps its files where this process keeps them.
  env.insert(QString::fromLatin1(kChildVariable), folder + QLatin1Char('|') + StandardLocations::dataHome() +
                                                      QLatin1Char('|') + StandardLocations::stateHome());
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=FirstAidRecordingChild.DISABLED_RecordUntilKilled"),
               QStringLiteral("--gtest_also_run_disabled_tests")});
  child.waitForStarted(10000);
  *pid = child.processId();
  child.waitForFinished(120000);
  return child.exitStatus();
}
}  // namespace

TEST(FirstAidRecording, KilledWhileRecordingTheNextStartOffersFirstAidAndThePackageStillOpens) {
  Test_FreshPrefs(true);
  QDir(StandardLocations::applicationSupportPath()).removeRecursively();
  const QString desktop = Test_HomePath() + QStringLiteral("/Desktop");
  QDir().mkpath(desktop);
  const QString folder = Test_MakeTempDir(QStringLiteral("recordings"));
  qint64 childPid = 0;
  ASSERT_EQ(recordAndGetKilled(folder, &childPid), QProcess::CrashExit);
  const QString package = folder + QStringLiteral("/Killed Match.vlvidcapb");
  ASSERT_TRUE(QFileInfo(package + QStringLiteral("/VLRecording.lock")).isFile()) << "killed while recording";
  ASSERT_EQ(Test_LockEntries().size(), 1);

  VirtualDevices_Plug(true, true);
  ZRNAppDelegate delegate;
  // The package opens instead of a live session.
  delegate.application_openFiles({package});
  int height = 0;
  QString message;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    if (qobject_cast<ZRNFirstAidWindowController*>(modal)) height = modal->height();
    // Then the message that says where the logs were saved.
    Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* shown) { message = Test_LabelsText(shown); }, modal);
  });
  delegate.applicationWillFinishLaunching();
  delegate.applicationDidFinishLaunching();
  EXPECT_EQ(height, 442) << "First Aid after the crash";

  const QString archive = desktop + QStringLiteral("/Velmora_CrashLogs.zip");
  ASSERT_TRUE(Test_WaitUntil([&] { return QFileInfo::exists(archive) && !message.isEmpty(); }, 30000));
  EXPECT_TRUE(message.contains(archive)) << message.toStdString();
  QString error;
  const QList<QVariantMap> entries = Test_PythonZipEntries(archive, &error);
  ASSERT_FALSE(entries.isEmpty()) << error.toStdString();
  // The killed run's debug log is among them.
  bool childLog = false;
  for (const QVariantMap& entry : entries)
    childLog |= entry.value("name").toString().endsWith(QStringLiteral("/%1_Debug.log").arg(childPid)) &&
                !entry.value("data").toByteArray().isEmpty();
  EXPECT_TRUE(childLog);

  // The start went on after the archive: the package opened in a playback window.
  ASSERT_TRUE(Test_WaitUntil([&] {
    for (const QPointer<QWidget>& window : delegate.playbackWindows())
      if (auto* playback = qobject_cast<VLPlaybackWC*>(window.data()); playback && playback->isVisible()) return true;
    return false;
  }, 30000));
  EXPECT_TRUE(Test_LockEntries().size() == 1) << "the killed run's lock went, this run's is there";
  delegate.applicationWillTerminate();
  VirtualDevices_Unplug(true, true);
}

// Run only as the child of the test above.
TEST(FirstAidRecordingChild, DISABLED_RecordUntilKilled) {
  const QStringList spec = qEnvironmentVariable(kChildVariable).split(QLatin1Char('|'));
  if (spec.size() != 3) GTEST_SKIP();
  qputenv("XDG_DATA_HOME", spec[1].toUtf8());
  qputenv("XDG_STATE_HOME", spec[2].toUtf8());
  Test_FreshPrefs(true);
  {
    ZRNAppPrefs prefs;
    Test_RecordFromVirtualDevices(prefs, spec[0], 2);
  }
  ZRNAppDelegate delegate;
  QPointer<VLLiveWC> live = Test_LaunchAndRecord(delegate, QStringLiteral("Killed Match"));
  ASSERT_TRUE(live);
  const QString package = spec[0] + QStringLiteral("/Killed Match.vlvidcapb");
  // Two whole fragments in the movie, then the process dies without any clean-up.
  ASSERT_TRUE(Test_WaitUntil([&] {
    const QStringList movies = QDir(package).entryList({QStringLiteral("VLCapturedMovie.*")});
    return !movies.isEmpty() && testmedia::topLevelBoxes(package + QLatin1Char('/') + movies[0]).count(QStringLiteral("mdat")) >= 2;
  }, 30000));
  ::raise(SIGKILL);
}
