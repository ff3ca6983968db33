// Files reaching the application: named at launch, and handed over by a second start (in-process and
// with the real executable).

#include "app/ZRNAppDelegate.h"

#include "app/ZRNAppInstance.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNRecentDocument.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "support/MediaTestSupport.h"
#include "platform/media/capture/VirtualDevices.h"
#include "playback/VLPlaybackWC.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {
TestMovieRecipe sessionMovie() {
  TestMovieRecipe recipe;
  recipe.seconds = 1.0;
  recipe.size = QStringLiteral("160x120");
  return recipe;
}

class OpenFilesTest : public LaunchedAppTest {
 protected:
  void SetUp() override {
    LaunchedAppTest::SetUp();
    folder = Test_MakeTempDir(QStringLiteral("sessions"));
  }
  // A session package holding a short movie (made once per test, copied into each package).
  QString makeSession(const QString& name) {
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".vlvidcapb");
    QDir().mkpath(path);
    if (movie.isEmpty()) movie = TestMovie_Make(folder, QStringLiteral("source.mp4"), sessionMovie());
    QFile::copy(movie, path + QStringLiteral("/VLCapturedMovie.mp4"));
    return path;
  }
  QStringList windowPaths() {
    QStringList paths;
    for (const QPointer<QWidget>& window : delegate->playbackWindows())
      if (auto* playback = qobject_cast<VLPlaybackWC*>(window.data()); playback && playback->windowRecentDoc())
        paths << playback->windowRecentDoc()->docPath();
    return paths;
  }

  QString folder;
  QString movie;
};

QStringList storedRecents(const QString& prefsFile) {
  QStringList paths;
  const QVariantMap prefs = PropertyList_ReadFile(prefsFile).toMap();
  for (const QVariant& stored : prefs.value(QStringLiteral("ZRNRecentDocuments")).toList())
    paths << stored.toMap().value(QStringLiteral("docPath")).toString();
  return paths;
}
}  // namespace

TEST_F(OpenFilesTest, FilesGivenAtLaunchWaitForTheDelayedActionsAndOpenInOrder) {
  const QStringList sessions = {makeSession(QStringLiteral("First")), makeSession(QStringLiteral("Second")),
                                makeSession(QStringLiteral("Third"))};
  delegate = std::make_unique<ZRNAppDelegate>();
  EXPECT_TRUE(delegate->application_openFiles(sessions));
  delegate->applicationWillFinishLaunching();
  delegate->applicationDidFinishLaunching();
  // Queued, not opened, until the delayed start-up actions run.
  EXPECT_EQ(delegate->filenamesToOpen(), sessions);
  EXPECT_TRUE(listedPaths().isEmpty());
  ASSERT_TRUE(Test_WaitUntil([&] { return ran(QStringLiteral("openDroppedFiles")); }));
  Test_ProcessEvents(50);
  EXPECT_FALSE(ran(QStringLiteral("startNewRecording"))) << "no live session when files were given";
  EXPECT_TRUE(delegate->filenamesToOpen().isEmpty());
  // Opened in the order given: a window each, the last one the newest entry.
  EXPECT_EQ(listedPaths(), (QStringList{sessions.at(2), sessions.at(1), sessions.at(0)}));
  EXPECT_EQ(windowPaths(), sessions);

  // A session already open comes to the front and keeps its place in the list.
  delegate->application_openFiles({sessions.at(0) + QStringLiteral("/")});
  EXPECT_EQ(windowPaths(), sessions);
  EXPECT_EQ(listedPaths(), (QStringList{sessions.at(2), sessions.at(1), sessions.at(0)}));

}

TEST_F(OpenFilesTest, SecondStartHandsItsPathsToTheRunningOne) {
  delegate = std::make_unique<ZRNAppDelegate>();
  const QString atLaunch = makeSession(QStringLiteral("At launch"));
  delegate->application_openFiles({atLaunch});  // so that no live session starts
  delegate->applicationWillFinishLaunching();
  delegate->applicationDidFinishLaunching();
  ASSERT_TRUE(Test_WaitUntil([&] { return delegate->appDidFinishLaunching(); }));

  // Nobody listens yet (a socket file left by a crash does not count).
  QFile stale(AppInstance_ServerPath());
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  stale.close();
  EXPECT_FALSE(AppInstance_HandOverToRunningInstance({QStringLiteral("/tmp/x.vlvidcapb")}, 500));

  ZRNAppInstanceServer server([this](const QStringList& paths) { delegate->application_openFiles(paths); });
  ASSERT_TRUE(server.listen());
  ZRNAppInstanceServer second([](const QStringList&) {});
  EXPECT_FALSE(second.listen()) << "a second listener must not steal the socket";

  const QStringList handed = {makeSession(QStringLiteral("Handed A")), makeSession(QStringLiteral("Handed B"))};
  // The second start blocks on its socket: run it beside the event loop that serves it.
  std::future<bool> taken = std::async(std::launch::async, [&] { return AppInstance_HandOverToRunningInstance(handed); });
  ASSERT_TRUE(Test_WaitUntil([&] { return taken.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_TRUE(taken.get());
  ASSERT_TRUE(Test_WaitUntil([&] { return listedPaths().size() == 3; }));
  EXPECT_EQ(listedPaths(), (QStringList{handed.at(1), handed.at(0), atLaunch}));

  // Arguments become absolute paths; options are not paths.
  EXPECT_EQ(AppInstance_AbsolutePaths({QStringLiteral("rel/A.vlvidcapb"), QStringLiteral("-platform"),
                                       QStringLiteral("file:///abs/C%20D.vlvidcapb")}),
            (QStringList{QDir::currentPath() + QStringLiteral("/rel/A.vlvidcapb"), QStringLiteral("/abs/C D.vlvidcapb")}));
}

TEST(OpenFilesExecutable, SecondStartOfTheExecutableHandsOverAndExits) {
  const QString home = Test_MakeTempDir(QStringLiteral("home"));
  const QString prefsFile = home + QStringLiteral("/.config/org.velmora.Velmora.plist");
  ASSERT_TRUE(Test_SeedLaunchedPrefs(prefsFile));
  const QString session = home + QStringLiteral("/Handed over.vlvidcapb");
  QDir().mkpath(session);
  ASSERT_FALSE(TestMovie_Make(session, QStringLiteral("VLCapturedMovie.mp4"), sessionMovie()).isEmpty());

  QProcess first;
  first.setProcessEnvironment(Test_ExecutableEnvironment(home));
  first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  first.start(Test_VelmoraExecutable(), {});
  ASSERT_TRUE(first.waitForStarted(10000));
  const QString socket = home + QStringLiteral("/.run/org.velmora.Velmora.socket");
  ASSERT_TRUE(Test_WaitUntil([&] { return QFile::exists(socket); }, 20000));

  QProcess second;
  second.setProcessEnvironment(Test_ExecutableEnvironment(home));
  second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  second.setWorkingDirectory(home);
  second.start(Test_VelmoraExecutable(), {QStringLiteral("Handed over.vlvidcapb")});
  ASSERT_TRUE(second.waitForFinished(20000));
  EXPECT_EQ(second.exitCode(), 0);
  // The running one opened it: the session is its newest recent entry.
  EXPECT_TRUE(Test_WaitUntil([&] { return storedRecents(prefsFile).value(0) == session; }, 20000))
      << storedRecents(prefsFile).join(QLatin1Char(',')).toStdString();

  first.terminate();
  ASSERT_TRUE(first.waitForFinished(20000));
  EXPECT_EQ(first.exitCode(), 0);
  EXPECT_FALSE(QFile::exists(socket)) << "a clean exit takes its socket away";
}

// A session package is one item of the open panel: a double-click opens it, Open opens it, and the panel
// is never led inside one.
TEST_F(OpenFilesTest, OpenPanelOpensAPackageItIsGiven) {
  const QString session = makeSession(QStringLiteral("Derby"));
  ZRNAppPrefs prefs;
  prefs.setOpenTargetDirectory(QUrl::fromLocalFile(folder));
  launch();
  ASSERT_TRUE(waitFor(QStringLiteral("U_StartLiveWindow")));
  enum Way { DoubleClick, OpenButton, Typed };
  const struct {
    const char* name;
    Way way;
  } ways[] = {{"double-click", DoubleClick}, {"Open", OpenButton}, {"typed, from its completion list", Typed}};
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    delegate->openSavedRecording();
    QPointer<QFileDialog> panel = delegate->openPanel();
    ASSERT_NE(panel, nullptr);
    auto* list = panel->findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(list, nullptr);
    QModelIndex item;
    ASSERT_TRUE(Test_WaitUntil([&] {
      for (int row = 0; list->model() && row < list->model()->rowCount(list->rootIndex()); ++row) {
        const QModelIndex index = list->model()->index(row, 0, list->rootIndex());
        if (index.data().toString() == QStringLiteral("Derby.vlvidcapb")) item = index;
      }
      return item.isValid();
    }));
    if (way.way == Typed) {
      ASSERT_TRUE(Test_TypeIntoPanelAndReturn(panel, QStringLiteral("Derby.vlvidcapb")));
    } else if (way.way == DoubleClick) {
      list->scrollTo(item);
      const QPoint at = list->visualRect(item).center();
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    } else {
      // Selected in the list, then the panel's Open button.
      list->setCurrentIndex(item);
      QMetaObject::invokeMethod(panel, "accept");
    }
    ASSERT_TRUE(Test_WaitUntil([&] { return windowPaths().contains(session); }, 20000)) << windowPaths().join(",").toStdString() << " recents " << listedPaths().join(",").toStdString();
    EXPECT_EQ(delegate->openPanel(), nullptr);
    EXPECT_EQ(prefs.openTargetDirectory().toLocalFile(), folder) << "the folder that holds it is remembered";
    for (const QPointer<QWidget>& window : delegate->playbackWindows()) delete window.data();
    Test_ProcessEvents(50);
  }
}

// An old session folder is one item as a session package is: a double-click chooses it in any panel.
TEST_F(OpenFilesTest, AnOldSessionFolderIsChosenOnADoubleClickNotEntered) {
  const QString legacy = folder + QStringLiteral("/Old Match.vlvidcap");
  ASSERT_TRUE(QDir().mkpath(legacy + QStringLiteral("/segments")));
  delegate = std::make_unique<ZRNAppDelegate>();
  delegate->openSavedRecording();
  QPointer<QFileDialog> own = delegate->openPanel();
  ASSERT_NE(own, nullptr);
  own->reject();
  Test_ProcessEvents(20);
  QFileDialog panel(nullptr, QString(), folder);
  panel.setOption(QFileDialog::DontUseNativeDialog, true);
  panel.setFileMode(QFileDialog::Directory);
  panel.show();
  auto* list = panel.findChild<QListView*>(QStringLiteral("listView"));
  ASSERT_NE(list, nullptr);
  QModelIndex item;
  ASSERT_TRUE(Test_WaitUntil([&] {
    for (int row = 0; list->model() && row < list->model()->rowCount(list->rootIndex()); ++row) {
      const QModelIndex index = list->model()->index(row, 0, list->rootIndex());
      if (index.data().toString() == QStringLiteral("Old Match.vlvidcap")) item = index;
    }
    return item.isValid();
  }));
  QSignalSpy chosen(&panel, &QFileDialog::fileSelected);
  list->scrollTo(item);
  const QPoint at = list->visualRect(item).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  ASSERT_TRUE(Test_WaitUntil([&] { return chosen.count() == 1; }));
  EXPECT_EQ(QFileInfo(chosen.at(0).at(0).toString()).canonicalFilePath(), QFileInfo(legacy).canonicalFilePath());
  EXPECT_EQ(QFileInfo(panel.directory().absolutePath()).canonicalFilePath(), QFileInfo(folder).canonicalFilePath());
}
