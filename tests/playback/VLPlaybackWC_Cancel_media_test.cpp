// Quick hands in the export history: an export cancelled the moment it starts writes nothing, and a window
// closed the moment its export ended does not warn of an export in progress.

#include "playback/JobsTableTestSupport.h"
#include "platform/foundation/StandardLocations.h"

#include <QDirIterator>

namespace {

// A session long enough that its exports are still running when the user cancels them.
class QuickHands : public PlaybackMovieSuite<600> {
 protected:
  // Everything in the session's folder, and the temporary folder's export files, hidden ones included.
  std::string files() const {
    QStringList found;
    for (const QString& root : {folder, StandardLocations::tempPath()})
      for (QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        if (const QString path = it.next(); root == folder || path.contains(QLatin1String("ZrnVL"))) found << path;
    found.sort();
    return found.join(QLatin1Char('\n')).toStdString();
  }

  QString folder = Test_MakeTempDir(QStringLiteral("sessions"));
  PlaybackTestHost host;
};

}  // namespace

TEST_F(QuickHands, ACancelledExportWritesNothingAndAnEndedOneIsNoLongerInProgress) {
  ASSERT_FALSE(s_movie->isEmpty());
  ZRNAppPrefs().setCaptureFileType(QStringLiteral("video/quicktime"));
  makeSession(folder + QStringLiteral("/Long.vlvidcapb"));
  QPointer<VLPlaybackWC> window = host.openPlayable(folder + QStringLiteral("/Long.vlvidcapb"));
  ASSERT_FALSE(window.isNull());
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  JobsTableView_Controller* pane = window->jobsTableController();
  ZRNJobsController* jobs = window->jobsController();
  enum Act { CancelAll, DeleteRow, CloseWindow };
  const struct {
    const char* name;
    bool sessionMovie;
    Act act;
  } cases[] = {{"Cancel All on a clip", false, CancelAll},
               {"Delete on the running clip's row", false, DeleteRow},
               {"Cancel All on a session movie", true, CancelAll},
               {"the window closed right after a clip ended", false, CloseWindow}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = files();
    const QString movie = folder + QStringLiteral("/Long.mov");
    if (c.sessionMovie) window->exportSessionMovieΤο(movie);
    auto job = c.sessionMovie ? (Test_WaitUntil([&] { return jobs->numberOfJobs() == 1; }) ? jobs->jobAtIndex(0) : nullptr)
                              : PlaybackTest_RequestClip(window, 1000, 590000);
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(Test_WaitUntil([&] { return job->status() == kJobStatusExporting; }));
    AssetExportSessionRef session = job->exportSession();
    if (c.act != CloseWindow) {
      ASSERT_TRUE(session->status() == AssetExportSessionStatus::Exporting ||
                  session->status() == AssetExportSessionStatus::Waiting) << "the export is still running";
      if (c.act == CancelAll) {
        QTest::mouseClick(pane->cancelAllButton(), Qt::LeftButton);
      } else {
        window->jobTableView()->setFocus();
        QTest::keyClick(window->jobTableView(), Qt::Key_Delete);
      }
      EXPECT_TRUE(job->cancelled());
      EXPECT_TRUE(Test_WaitUntil([&] { return session->status() == AssetExportSessionStatus::Cancelled; }, 5000));
      Test_ProcessEvents(1500);  // its completion work and two progress checks come and go
      EXPECT_EQ(files(), before) << "nothing written, nothing left in the temporary folder";
      EXPECT_TRUE(job->targetPath().isEmpty());
      continue;
    }
    // The file is whole: Ctrl+W at once closes without a word about an export in progress.
    ASSERT_TRUE(Test_WaitUntil([&] { return !job->targetPath().isEmpty(); }, 60000));
    QStringList alerts;
    QTimer refuse;
    QObject::connect(&refuse, &QTimer::timeout, [&] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* text = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))) alerts << text->text();
        if (auto* cancel = modal->findChild<QPushButton*>(QStringLiteral("cancelBtn"))) cancel->click();
      }
    });
    refuse.start(5);
    window->findChild<QAction*>(QStringLiteral("performClose"))->trigger();  // Ctrl+W
    EXPECT_TRUE(Test_WaitUntil([&] { return !window || !window->isVisible(); }, 2000));
    EXPECT_EQ(alerts.join(QLatin1Char('\n')).toStdString(), "");
    EXPECT_NEAR(TestMovie_Duration(job->targetPath()), 589.0, 0.1);
  }
}
