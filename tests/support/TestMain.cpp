#include "support/TestSupport.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/gui/DialogRunner.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<QTemporaryDir> gHome;

// A test that runs the application's termination leaves dialogs ended for good; the next test starts
// with a run that shows them again.
class TerminationReset : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo&) override { Gui_ResetTermination(); }
};
}

bool Test_WaitUntil(const std::function<bool()>& predicate, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!predicate()) {
    if (deadline.hasExpired()) return predicate();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(2);
  }
  return true;
}

void Test_ProcessEvents(int milliseconds) {
  QDeadlineTimer deadline(milliseconds);
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  } while (!deadline.hasExpired());
}

QString Test_HomePath() { return gHome ? gHome->path() : QDir::homePath(); }

QString Test_MakeTempDir(const QString& hint) {
  const QString path = Test_HomePath() + QStringLiteral("/") + hint + QStringLiteral("-") +
                       QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
  QDir().mkpath(path);
  return path;
}

QString Test_VelmoraExecutable() { return QString::fromUtf8(VELMORA_BINARY_DIR "/velmora"); }
QString Test_BinaryPath(const QString& name) { return QString::fromUtf8(VELMORA_BINARY_DIR "/") + name; }
QString Test_SourcePath(const QString& relative) { return QString::fromUtf8(VELMORA_SOURCE_DIR "/") + relative; }

int main(int argc, char** argv) {
  gHome = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/velmora-test-XXXXXX"));
  const QByteArray home = gHome->path().toUtf8();
  setenv("HOME", home.constData(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
  setenv("XDG_DATA_HOME", (home + "/.local/share").constData(), 1);
  setenv("XDG_STATE_HOME", (home + "/.local/state").constData(), 1);
  setenv("XDG_CACHE_HOME", (home + "/.cache").constData(), 1);
  setenv("XDG_RUNTIME_DIR", (home + "/.run").constData(), 1);
  QDir().mkpath(gHome->path() + QStringLiteral("/.run"));
  // Temporary files too, so test processes running side by side never meet in /tmp.
  QDir().mkpath(gHome->path() + QStringLiteral("/.tmp"));
  setenv("TMPDIR", (home + "/.tmp").constData(), 1);
  QFile::setPermissions(gHome->path() + QStringLiteral("/.run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Velmora"));
  app.setOrganizationDomain(QStringLiteral("velmora.org"));
  app.setQuitOnLastWindowClosed(false);
  // A function called on the wrong queue ends the test run instead of being logged and forgotten.
  Dispatch_SetStrictQueueChecks(true);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new TerminationReset);
  const int result = RUN_ALL_TESTS();
  return result;
}
