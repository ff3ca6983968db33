// Two real velmora processes started together, each with a session package, as a launcher or a script
// may start them: one Velmora stays and opens both packages, whoever starts first and however close
// together; a running copy of another session of the user is never taken for a crash; a start that the
// running one does not answer says so and ends.

#include "firstaid/CrashLock.h"
#include "platform/foundation/PropertyList.h"
#include "support/MediaTestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {
enum class Second { SameSession, OtherSession, HolderFrozen };

class OneCopyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TestMovieRecipe recipe;
    recipe.seconds = 1.0;
    recipe.size = QStringLiteral("160x120");
    movie = TestMovie_Make(Test_MakeTempDir(QStringLiteral("movie")), QStringLiteral("VLCapturedMovie.mp4"), recipe);
  }
  void TearDown() override {
    for (auto& run : runs)
      if (run->state() != QProcess::NotRunning) {
        run->kill();
        run->waitForFinished(10000);
      }
  }
  // A fresh home whose preferences say that the startup note was just seen, with two packages.
  void makeHome() {
    home = Test_MakeTempDir(QStringLiteral("home"));
    ASSERT_TRUE(Test_SeedLaunchedPrefs(prefsFile()));
    for (const QString& name : {QStringLiteral("Match A"), QStringLiteral("Match B")}) {
      ASSERT_TRUE(QDir().mkpath(package(name)));
      ASSERT_TRUE(QFile::copy(movie, package(name) + QStringLiteral("/VLCapturedMovie.mp4")));
    }
  }
  QString prefsFile() const { return home + QStringLiteral("/.config/org.velmora.Velmora.plist"); }
  QString package(const QString& name) const { return home + QLatin1Char('/') + name + QStringLiteral(".vlvidcapb"); }
  QVariantMap prefs() const { return PropertyList_ReadFile(prefsFile()).toMap(); }
  QStringList recents() const {
    QStringList paths;
    for (const QVariant& entry : prefs().value(QStringLiteral("ZRNRecentDocuments")).toList())
      paths << entry.toMap().value(QStringLiteral("docPath")).toString();
    return paths;
  }
  QStringList crashLocks() const {
    return QDir(home + QStringLiteral("/.local/share/org.velmora.Velmora/") + kCrashLock_FolderName)
        .entryList({kCrashLock_BaseName + QLatin1Char('*')}, QDir::Files);
  }
  // `velmora "<name>.vlvidcapb"` in the home folder; `runtime` names the user session.
  QProcess* start(const QString& name, const QString& runtime) {
    auto& run = runs.emplace_back(std::make_unique<QProcess>());
    QProcessEnvironment env = Test_ExecutableEnvironment(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    run->setProcessEnvironment(env);
    run->setWorkingDirectory(home);
    run->start(Test_VelmoraExecutable(), {name + QStringLiteral(".vlvidcapb")});
    return run.get();
  }
  QString log(QProcess* run) const {
    QDirIterator it(home + QStringLiteral("/.local/state/org.velmora.Velmora/Debug_Logs"),
                    {QStringLiteral("%1_Debug.log").arg(run->processId())}, QDir::Files, QDirIterator::Subdirectories);
    if (!it.hasNext()) return {};
    QFile file(it.next());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }
  // Ended, or through its start: its files opened, or the first aid window up instead.
  bool settled(QProcess* run) const {
    const QString text = log(run);
    return run->state() == QProcess::NotRunning || text.contains(QStringLiteral("<<-- U_HandleOpenFiles")) ||
           text.contains(QStringLiteral("first aid window shown"));
  }
  bool quit(QProcess* run) {
    run->terminate();
    return run->waitForFinished(20000) && run->exitStatus() == QProcess::NormalExit && run->exitCode() == 0;
  }

  static inline QString movie;
  QString home;
  std::vector<std::unique_ptr<QProcess>> runs;
};
}  // namespace

TEST_F(OneCopyTest, TwoStartsTogetherLeaveOneVelmoraThatOpensBothAndNoCrash) {
  ASSERT_FALSE(movie.isEmpty());
  const struct {
    const char* name;
    int delayMs;
    Second second;
    int repeats;
  } cases[] = {
      {"started together", 0, Second::SameSession, 6},
      {"2 ms apart", 2, Second::SameSession, 4},
      {"5 ms apart", 5, Second::SameSession, 4},
      {"20 ms apart", 20, Second::SameSession, 3},
      {"the second in another session of the user, once the first runs", -1, Second::OtherSession, 1},
      {"the running one does not answer", -1, Second::HolderFrozen, 1},
  };
  for (const auto& c : cases) {
    for (int repeat = 0; repeat < c.repeats; ++repeat) {
      SCOPED_TRACE(testing::Message() << c.name << ", pair " << repeat);
      makeHome();
      const QString session = home + QStringLiteral("/.run");
      QProcess* first = start(QStringLiteral("Match A"), session);
      if (c.delayMs < 0) {
        // The first is through its start (its crash lock is written) before the second comes.
        ASSERT_TRUE(Test_WaitUntil([&] { return settled(first) && crashLocks().size() == 1; }, 30000)) << log(first).toStdString();
      } else if (c.delayMs > 0) {
        ASSERT_TRUE(first->waitForStarted(10000));
        QThread::msleep(static_cast<unsigned long>(c.delayMs));
      }
      if (c.second == Second::HolderFrozen) ::kill(static_cast<pid_t>(first->processId()), SIGSTOP);
      QProcess* second = start(QStringLiteral("Match B"),
                               c.second == Second::OtherSession ? home + QStringLiteral("/.run-other") : session);
      second->setProcessChannelMode(QProcess::SeparateChannels);
      ASSERT_TRUE(first->waitForStarted(10000));
      ASSERT_TRUE(second->waitForStarted(10000));

      if (c.second == Second::HolderFrozen) {
        // It waits a short while for an answer, then says so and ends with an error, without a window.
        const bool ended = second->waitForFinished(20000);
        ::kill(static_cast<pid_t>(first->processId()), SIGCONT);
        ASSERT_TRUE(ended) << "the second start stays while the running one does not answer";
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 1);
        const QString said = QString::fromUtf8(second->readAllStandardError());
        EXPECT_TRUE(said.contains(QStringLiteral("Velmora is already running but did not confirm within 5 s that it took \"") +
                                  package(QStringLiteral("Match B")) + QLatin1Char('"')))
            << said.toStdString();
        EXPECT_TRUE(log(second).isEmpty()) << "it never started a run of its own";
        EXPECT_TRUE(quit(first));
        continue;
      }

      ASSERT_TRUE(Test_WaitUntil([&] { return settled(first) && settled(second); }, 30000))
          << log(first).toStdString() << "\n----\n" << log(second).toStdString();
      const int crashes = prefs().value(QStringLiteral("CrashCounter")).toInt();
      const bool firstAid = log(first).contains(QStringLiteral("first aid window shown")) ||
                            log(second).contains(QStringLiteral("first aid window shown"));
      if (c.second == Second::OtherSession) {
        // Another session has a Velmora of its own; the first one's lock is a running copy's, not a crash,
        // and it stays.
        EXPECT_EQ(first->state(), QProcess::Running);
        EXPECT_EQ(second->state(), QProcess::Running);
        EXPECT_EQ(crashes, 0);
        EXPECT_FALSE(firstAid) << log(second).toStdString();
        EXPECT_EQ(crashLocks().size(), 2);
        EXPECT_TRUE(quit(second));
        EXPECT_EQ(crashLocks().size(), 1) << "the first one's lock stays while it runs";
        EXPECT_TRUE(quit(first));
        EXPECT_TRUE(crashLocks().isEmpty());
        continue;
      }

      const bool firstRuns = first->state() == QProcess::Running;
      const bool secondRuns = second->state() == QProcess::Running;
      ASSERT_NE(firstRuns, secondRuns) << "running: " << firstRuns << " and " << secondRuns << ", crashes counted "
                                       << crashes << (firstAid ? ", first aid shown" : "");
      QProcess* running = firstRuns ? first : second;
      QProcess* ended = firstRuns ? second : first;
      EXPECT_EQ(ended->exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(ended->exitCode(), 0);
      // The paths of the one that ended reached the one that runs: it opened both packages.
      EXPECT_TRUE(Test_WaitUntil([&] {
        return log(running).contains(QStringLiteral("paths handed over by another start: 1")) &&
               recents().contains(package(QStringLiteral("Match A"))) && recents().contains(package(QStringLiteral("Match B")));
      }, 20000)) << recents().join(QLatin1Char(',')).toStdString() << "\n" << log(running).toStdString();
      EXPECT_EQ(crashes, 0);
      EXPECT_FALSE(firstAid);
      EXPECT_TRUE(quit(running));
    }
  }
}
