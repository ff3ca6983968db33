// Two real velmora processes started together, each with a session package, as a launcher or a script
// may start them: one Velmora stays and opens both, however close together they start; a copy running in
// another session of the user is never taken for a crash; a start that the running one does not answer
// says so and ends.

#include "firstaid/CrashLock.h"
#include "platform/foundation/PropertyList.h"
#include "support/MediaTestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {
enum class Second { SameSession, OtherSession, FirstFrozen };
const QString kFirstAid = QStringLiteral("first aid window shown");

class OneCopyTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& run : runs) run->kill(), run->waitForFinished(10000);
  }
  QString package(const char* name) const { return home + QStringLiteral("/%1.vlvidcapb").arg(QLatin1String(name)); }
  QVariantMap prefs() const { return PropertyList_ReadFile(home + QStringLiteral("/.config/org.velmora.Velmora.plist")).toMap(); }
  bool opened(const QString& path) const {
    for (const QVariant& entry : prefs().value(QStringLiteral("ZRNRecentDocuments")).toList())
      if (entry.toMap().value(QStringLiteral("docPath")).toString() == path) return true;
    return false;
  }
  qsizetype crashLocks() const {
    return QDir(home + QStringLiteral("/.local/share/org.velmora.Velmora/CrashLocks")).entryList({QStringLiteral("lockfile*")}, QDir::Files).size();
  }
  // `velmora "<name>.vlvidcapb"` in the home folder; `runtime` stands for the user session.
  QProcess* start(const char* name, const QString& runtime) {
    auto* run = runs.emplace_back(std::make_unique<QProcess>()).get();
    QProcessEnvironment env = Test_ExecutableEnvironment(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    run->setProcessEnvironment(env);
    run->setWorkingDirectory(home);
    run->start(Test_VelmoraExecutable(), {QFileInfo(package(name)).fileName()});
    return run;
  }
  QString log(QProcess* run) const {
    QDirIterator it(home + QStringLiteral("/.local/state"), {QStringLiteral("%1_Debug.log").arg(run->processId())}, QDir::Files,
                    QDirIterator::Subdirectories);
    QFile file(it.hasNext() ? it.next() : QStringLiteral("/nonexistent"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }
  // Ended, or through its start: its files opened, or the first aid window up instead.
  bool settled(QProcess* run) const {
    const QString text = log(run);
    return run->state() == QProcess::NotRunning || text.contains(QStringLiteral("<<-- U_HandleOpenFiles")) || text.contains(kFirstAid);
  }
  bool quit(QProcess* run) {
    run->terminate();
    return run->waitForFinished(20000) && run->exitStatus() == QProcess::NormalExit && run->exitCode() == 0;
  }

  QString home;
  std::vector<std::unique_ptr<QProcess>> runs;
};
}  // namespace

TEST_F(OneCopyTest, TwoStartsTogetherLeaveOneVelmoraThatOpensBothAndNoCrash) {
  TestMovieRecipe recipe;
  recipe.seconds = 1.0;
  recipe.size = QStringLiteral("160x120");
  const QString movie = TestMovie_Make(Test_MakeTempDir(QStringLiteral("movie")), QStringLiteral("m.mp4"), recipe);
  ASSERT_FALSE(movie.isEmpty());
  const struct {
    const char* name;
    int delayMs;  // -1: once the first is through its start
    Second second;
    int pairs;
  } cases[] = {
      {"started together", 0, Second::SameSession, 6},
      {"2 ms apart", 2, Second::SameSession, 4},
      {"5 ms apart", 5, Second::SameSession, 4},
      {"20 ms apart", 20, Second::SameSession, 3},
      {"the second in another session of the user", -1, Second::OtherSession, 1},
      {"the running one does not answer", -1, Second::FirstFrozen, 1},
  };
  for (const auto& c : cases)
    for (int pair = 0; pair < c.pairs; ++pair) {
      SCOPED_TRACE(testing::Message() << c.name << ", pair " << pair);
      home = Test_MakeTempDir(QStringLiteral("home"));
      ASSERT_TRUE(Test_SeedLaunchedPrefs(home + QStringLiteral("/.config/org.velmora.Velmora.plist")));
      for (const char* name : {"Match A", "Match B"}) {
        ASSERT_TRUE(QDir().mkpath(package(name)) && QFile::copy(movie, package(name) + QStringLiteral("/VLCapturedMovie.mp4")));
      }
      QProcess* first = start("Match A", home + QStringLiteral("/.run"));
      if (c.delayMs < 0) {
        ASSERT_TRUE(Test_WaitUntil([&] { return settled(first) && crashLocks() == 1; }, 30000));
      }
      if (c.delayMs > 0) QThread::msleep(static_cast<unsigned long>(c.delayMs));
      if (c.second == Second::FirstFrozen) ::kill(static_cast<pid_t>(first->processId()), SIGSTOP);
      QProcess* second = start("Match B", home + (c.second == Second::OtherSession ? QStringLiteral("/.run2") : QStringLiteral("/.run")));
      ASSERT_TRUE(first->waitForStarted(10000) && second->waitForStarted(10000));

      if (c.second == Second::FirstFrozen) {
        // A short wait for an answer, then it says so and ends with an error, never starting a run of its own.
        const bool ended = second->waitForFinished(20000);
        ::kill(static_cast<pid_t>(first->processId()), SIGCONT);
        ASSERT_TRUE(ended);
        EXPECT_EQ(second->exitCode(), 1);
        EXPECT_TRUE(QString::fromUtf8(second->readAllStandardError())
                        .contains(QStringLiteral("Velmora is already running but did not confirm within 5 s that it took \"%1\"")
                                      .arg(package("Match B"))));
        EXPECT_TRUE(log(second).isEmpty());
        EXPECT_TRUE(quit(first));
        continue;
      }
      ASSERT_TRUE(Test_WaitUntil([&] { return settled(first) && settled(second); }, 30000));
      const bool firstAid = log(first).contains(kFirstAid) || log(second).contains(kFirstAid);
      EXPECT_FALSE(firstAid);
      EXPECT_EQ(prefs().value(QStringLiteral("CrashCounter")).toInt(), 0);
      if (c.second == Second::OtherSession) {
        // That session has a Velmora of its own; the first one's lock stays while it runs.
        EXPECT_EQ(crashLocks(), 2);
        EXPECT_TRUE(quit(second));
        EXPECT_EQ(crashLocks(), 1);
        EXPECT_TRUE(quit(first));
        EXPECT_EQ(crashLocks(), 0);
        continue;
      }
      ASSERT_NE(first->state() == QProcess::Running, second->state() == QProcess::Running)
          << "both running" << (firstAid ? ", first aid shown" : "");
      QProcess* running = first->state() == QProcess::Running ? first : second;
      QProcess* ended = running == first ? second : first;
      EXPECT_EQ(ended->exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(ended->exitCode(), 0);
      // The paths of the one that ended reached the one that runs: it opened both packages.
      EXPECT_TRUE(Test_WaitUntil([&] {
        return log(running).contains(QStringLiteral("paths handed over by another start: 1")) && opened(package("Match A")) &&
               opened(package("Match B"));
      }, 20000)) << log(running).toStdString();
      EXPECT_TRUE(quit(running));
    }
}
