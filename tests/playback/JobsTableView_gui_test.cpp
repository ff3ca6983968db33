#include "playback/JobsTableView_Controller.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNDrawnViews.h"
#include "composition/VL_ExportJobRecord.h"
#include "playback/VLPlaybackWC.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/ZRNJobTableCell.h"
#include "support/DialogTestSupport.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// The export pane of a playback window on a 10 s session, with real pass-through exports.
class JobsTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_movie = new QString(Test_MakeTempDir(QStringLiteral("movie")) + QStringLiteral("/movie.mov"));
    if (!PlaybackTest_MakeMovie(*s_movie, 10.0)) s_movie->clear();
  }
  static void TearDownTestSuite() { delete s_movie; }

  void SetUp() override {
    ASSERT_FALSE(s_movie->isEmpty());
    ZRNAppPrefs().setCaptureFileType(QStringLiteral("video/quicktime"));
    const QString folder = Test_MakeTempDir(QStringLiteral("sessions"));
    package = folder + QStringLiteral("/Cup Final.vlvidcapb");
    QDir().mkpath(package);
    QFile::copy(*s_movie, package + QStringLiteral("/VLCapturedMovie.mov"));
    PlaybackTest_Document(package)->updateSettingsFile();
    window = host.openPlayable(package);
    ASSERT_NE(window, nullptr);
    pane = window->jobsTableController();
    ASSERT_NE(pane, nullptr);
    watch = std::make_unique<PlaybackTestJobWatch>(window->jobsController());
  }

  // Marks a range and asks for its clip; answers the new job.
  std::shared_ptr<VL_ExportJobRecord> requestClip(int64_t in, int64_t out) {
    const int64_t before = window->jobsController()->numberOfJobs();
    window->U_SetInPointAtTime(MediaTimeMake(in, 1000));
    window->U_SetOutPointAtTime(MediaTimeMake(out, 1000));
    window->exportInOutClip();
    if (!Test_WaitUntil([&] { return window->jobsController()->numberOfJobs() == before + 1; })) return nullptr;
    return window->jobsController()->jobAtIndex(0);
  }
  bool waitUntilFinished(const std::shared_ptr<VL_ExportJobRecord>& job) {
    return Test_WaitUntil([&] { return job->status() == kJobStatusFinished && pane->cellAtRow(0) && pane->cellAtRow(0)->revealBtn()->isVisibleTo(window); }, 60000);
  }
  static void click(QWidget* widget, QPoint at = QPoint()) {
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at.isNull() ? widget->rect().center() : at);
  }
  static QStringList titles(QMenu* menu) {
    QStringList list;
    for (QAction* action : menu->actions())
      if (!action->isSeparator()) list << action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (off)"));
    return list;
  }

  static QString* s_movie;
  QString package;
  PlaybackTestHost host;
  VLPlaybackWC* window = nullptr;
  JobsTableView_Controller* pane = nullptr;
  std::unique_ptr<PlaybackTestJobWatch> watch;
};
QString* JobsTable::s_movie = nullptr;

}  // namespace

TEST_F(JobsTable, AnEmptyListShowsTheNoteAndDisablesBothButtons) {
  ASSERT_NE(pane->emptyTableTextV(), nullptr);
  EXPECT_EQ(pane->emptyTableTextV()->text(), QStringLiteral("No Exported Clips"));
  EXPECT_TRUE(pane->emptyTableTextV()->isVisibleTo(window));
  EXPECT_TRUE(window->noDataView()->isVisibleTo(window));
  EXPECT_EQ(ZRN_TableGridStyleMask(window->jobTableView()), kZRNTableGridNone);
  ASSERT_NE(pane->cancelAllButton(), nullptr);
  ASSERT_NE(pane->clearLogButton(), nullptr);
  EXPECT_EQ(pane->cancelAllButton()->property("tag").toInt(), 13101);
  EXPECT_EQ(pane->clearLogButton()->property("tag").toInt(), 13102);
  EXPECT_FALSE(pane->cancelAllButton()->isEnabled());
  EXPECT_FALSE(pane->clearLogButton()->isEnabled());
  // Every control of the pane can be found by its accessible name.
  for (QWidget* control : window->psaxnoRightSubBox()->findChildren<QWidget*>()) {
    if (qobject_cast<QPushButton*>(control) || qobject_cast<QToolButton*>(control)) {
      EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
    }
  }
}

TEST_F(JobsTable, AnExportingRowShowsItsProgressAndOffersOnlyCancelThenItsFinishedRowRevealsTheFile) {
  // The row is looked at the moment the export starts: the pane has handled the change already.
  QStringList runningMenu;
  QString status;
  bool abortShown = false;
  bool revealShown = true;
  int maximum = -1;
  int progress = -1;
  NotificationObservation started(NotificationCenter::defaultCenter(),
      NotificationCenter::defaultCenter().addObserver(kZRNNotification_JobChange, nullptr, [&](const Notification& note) {
        if (ZRNJobsController::codeOfNotification(note) != kJobChangeStarted) return;
        ZRNJobTableCell* cell = pane->cellAtRow(0);
        if (!cell) return;
        status = cell->progressText()->text();
        abortShown = cell->abortBtn()->isVisibleTo(window);
        revealShown = cell->revealBtn()->isVisibleTo(window);
        maximum = cell->jobProgress()->maximum();
        std::unique_ptr<QMenu> menu(cell->menuForEvent(nullptr));
        runningMenu = titles(menu.get());
        // A progress step, as the export's check reports it, reaches the row at once.
        auto* job = ZRNJobsController::jobOfNotification(note);
        job->setCurrentStep(37);
        ZRNJobsController::postJobChange(window->jobsController(), job, kJobChangeProgress);
        progress = pane->cellAtRow(0)->jobProgress()->value();
      }));
  auto job = requestClip(2000, 6000);
  ASSERT_NE(job, nullptr);
  ASSERT_TRUE(Test_WaitUntil([&] { return !status.isEmpty(); }, 30000));
  EXPECT_EQ(status, QStringLiteral("Exporting..."));
  EXPECT_TRUE(abortShown);
  EXPECT_FALSE(revealShown);
  EXPECT_EQ(maximum, job->totalSteps());
  EXPECT_EQ(progress, 37);
  EXPECT_EQ(runningMenu, QStringList{QStringLiteral("Cancel Job")});

  ASSERT_TRUE(waitUntilFinished(job));
  ZRNJobTableCell* cell = pane->cellAtRow(0);
  EXPECT_FALSE(cell->abortBtn()->isVisibleTo(window));
  EXPECT_EQ(cell->revealBtn()->toolTip(), QStringLiteral("Show in Folder"));
  EXPECT_EQ(cell->titleText()->text(), job->title());
  EXPECT_EQ(cell->typeBadge()->title(), job->activityBadgeString());
  for (QWidget* control : cell->findChildren<QWidget*>()) {
    EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
  }
  std::unique_ptr<QMenu> menu(cell->menuForEvent(nullptr));
  EXPECT_EQ(titles(menu.get()), (QStringList{QStringLiteral("Show in Folder"), QStringLiteral("Remove from List")}));
  EXPECT_EQ(ZRN_TableGridStyleMask(window->jobTableView()), kZRNTableGridDashedHorizontal);
  EXPECT_FALSE(pane->emptyTableTextV()->isVisibleTo(window));
  EXPECT_TRUE(pane->clearLogButton()->isEnabled());
  EXPECT_FALSE(pane->cancelAllButton()->isEnabled());

  // Offscreen no file manager and no folder handler answer: the reveal says so, with the file's place to
  // copy, and the context menu's item does the same.
  for (const char* way : {"button", "menu"}) {
    SCOPED_TRACE(way);
    QString told;
    bool selectable = false;
    bool alerted = false;
    Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
      alerted = modal->objectName() == QLatin1String("handOffFailureAlert");
      told = Test_LabelsText(modal);
      if (auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield")))
        selectable = label->textInteractionFlags() & Qt::TextSelectableByMouse;
    });
    if (QString(way) == QLatin1String("button")) {
      pane->cellAtRow(0)->revealBtn()->click();
    } else {
      std::unique_ptr<QMenu> shown(pane->cellAtRow(0)->menuForEvent(nullptr));
      shown->actions().first()->trigger();
    }
    ASSERT_TRUE(Test_WaitUntil([&] { return alerted; }));
    EXPECT_TRUE(told.contains(QFileInfo(job->targetPath()).fileName() + QStringLiteral("\u201D cannot be shown in its folder."))) << told.toStdString();
    EXPECT_TRUE(told.contains(job->targetPath())) << told.toStdString();
    EXPECT_TRUE(selectable);
  }

  // The movie is moved away: the row warns, the reveal asks alert 20024, and "Remove Job" removes it.
  ASSERT_TRUE(QFile::rename(job->targetPath(), job->targetPath() + QStringLiteral(".moved")));
  pane->updateInterface();
  cell = pane->cellAtRow(0);
  EXPECT_EQ(cell->revealBtn()->toolTip(), QStringLiteral("Movie file not available"));
  QString alertText;
  PlaybackTest_AnswerNextModal(QStringLiteral("cancelBtn"), &alertText);
  click(cell->revealBtn());
  ASSERT_TRUE(Test_WaitUntil([&] { return window->jobsController()->numberOfJobs() == 0; }));
  EXPECT_TRUE(alertText.contains(QFileInfo(job->targetPath()).fileName())) << alertText.toStdString();
  EXPECT_TRUE(alertText.contains(QStringLiteral("can't show"))) << alertText.toStdString();
  EXPECT_EQ(watch->count(job.get(), kJobChangeDeleted), 1);
  EXPECT_TRUE(pane->emptyTableTextV()->isVisibleTo(window));
}

TEST_F(JobsTable, ClickingARowSelectsItsRangeAndClickingEmptySpaceClearsTheMarks) {
  auto first = requestClip(1000, 3000);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(waitUntilFinished(first));
  auto second = requestClip(5000, 8000);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(waitUntilFinished(second));
  window->clearInOutPoints();
  ASSERT_TRUE(Test_WaitUntil([&] { return window->inTimeMillis() < 0 && window->outTimeMillis() < 0; }));

  // The older clip is the second row.
  click(pane->cellAtRow(1)->titleText());
  EXPECT_EQ(window->inTimeMillis(), 1000);
  EXPECT_EQ(window->outTimeMillis(), 3000);
  EXPECT_TRUE(first->showSelected());
  EXPECT_EQ(window->jobsController()->indexOfSelectedJob(), 1);
  EXPECT_EQ(pane->cellAtRow(1)->backgroundView()->fillColor(), ZRN_WhiteColor(0.0));
  EXPECT_EQ(pane->cellAtRow(0)->backgroundView()->fillColor(), ZRN_WhiteColor(0.3));

  // A progress note for a job that is no longer listed changes nothing; one for a listed job shows its
  // latest texts.
  const QString shownTitle = pane->cellAtRow(0)->titleText()->text();
  second->setTitle(QStringLiteral("Renamed Clip"));
  VL_ExportJobRecord stranger;
  ZRNJobsController::postJobChange(window->jobsController(), &stranger, kJobChangeProgress);
  EXPECT_EQ(pane->cellAtRow(0)->titleText()->text(), shownTitle);
  EXPECT_TRUE(first->showSelected());
  ZRNJobsController::postJobChange(window->jobsController(), second.get(), kJobChangeProgress);
  EXPECT_EQ(pane->cellAtRow(0)->titleText()->text(), QStringLiteral("Renamed Clip"));

  // Empty space below the rows: no row selected, and no in or out point.
  QWidget* viewport = window->jobTableView()->viewport();
  ASSERT_GT(viewport->height(), 2 * JobsTableView_Controller::kRowHeight + 4);
  click(viewport, QPoint(viewport->width() / 2, viewport->height() - 2));
  ASSERT_TRUE(Test_WaitUntil([&] { return window->inTimeMillis() < 0 && window->outTimeMillis() < 0; }));
  EXPECT_FALSE(first->showSelected());
  EXPECT_EQ(window->jobsController()->indexOfSelectedJob(), -1);

  // A new job clears the selection made by a click.
  click(pane->cellAtRow(0)->descriptionText());
  ASSERT_TRUE(second->showSelected());
  auto third = requestClip(2000, 4500);
  ASSERT_NE(third, nullptr);
  EXPECT_FALSE(second->showSelected());
  EXPECT_EQ(window->jobsController()->indexOfSelectedJob(), -1);
  ASSERT_TRUE(waitUntilFinished(third));

  // "Clear" empties the finished jobs.
  click(pane->clearLogButton());
  EXPECT_EQ(window->jobsController()->numberOfJobs(), 0);
  EXPECT_FALSE(pane->clearLogButton()->isEnabled());
}

TEST_F(JobsTable, CancelAllEndsTheWaitingAndTheExportingJobs) {
  auto first = requestClip(1000, 4000);
  auto second = requestClip(5000, 9000);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  // The second waits for the first; the first ends only at its export's next check on the main queue,
  // which a slow machine may already have run.
  ASSERT_TRUE(pane->cancelAllButton()->isEnabled());
  EXPECT_EQ(pane->cellAtRow(0)->progressText()->text(), QStringLiteral("Waiting..."));
  const bool firstPending = !first->isFinished();
  click(pane->cancelAllButton());
  EXPECT_EQ(window->jobsController()->numberOfJobs(), firstPending ? 0 : 1);
  EXPECT_EQ(first->cancelled(), firstPending);
  EXPECT_TRUE(second->cancelled());
  EXPECT_FALSE(pane->cancelAllButton()->isEnabled());
  EXPECT_EQ(pane->emptyTableTextV()->isVisibleTo(window), firstPending);
}
