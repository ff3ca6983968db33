#include "playback/JobsTableView_Controller.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNDrawnViews.h"
#include "composition/VL_ExportJobRecord.h"
#include "playback/VLPlaybackWC.h"
#include "playback/JobsTableTestSupport.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNJobTableCell.h"
#include "support/DialogTestSupport.h"
#include "support/ContrastSupport.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QScrollBar>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <string>

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
  // Both clips asked for in one turn: the first's export has started and the second waits for it (a
  // short clip's job ends as soon as its export does, so a later request could find the first ended).
  for (const auto& [in, out] : {std::pair{1000, 4000}, std::pair{5000, 9000}})
    window->U_AddNewJobWithParams(std::make_shared<QVariantMap>(
        QVariantMap{{kExportSettingsActivityType, QVariant::fromValue<qint64>(kExportActivityManualClip)},
                    {kExportSettingsStartTimeMillis, QVariant::fromValue<qint64>(in)},
                    {kExportSettingsDurationMillis, QVariant::fromValue<qint64>(out - in)}}));
  auto first = window->jobsController()->jobAtIndex(1);
  auto second = window->jobsController()->jobAtIndex(0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(first->exportSession()->status(), AssetExportSessionStatus::Unknown);
  ASSERT_TRUE(pane->cancelAllButton()->isEnabled());
  EXPECT_EQ(pane->cellAtRow(0)->progressText()->text(), QStringLiteral("Waiting..."));
  click(pane->cancelAllButton());
  EXPECT_EQ(window->jobsController()->numberOfJobs(), 0);
  EXPECT_TRUE(first->cancelled());
  EXPECT_TRUE(second->cancelled());
  EXPECT_FALSE(pane->cancelAllButton()->isEnabled());
  EXPECT_TRUE(pane->emptyTableTextV()->isVisibleTo(window));
}

namespace {

// The lines of a row that are shown, in the row's background's coordinates.
QList<QWidget*> JobsTest_ShownLines(ZRNJobTableCell* cell) {
  QList<QWidget*> lines;
  for (QWidget* line : std::initializer_list<QWidget*>{cell->titleText(), cell->descriptionText(), cell->infoText(),
                                                       cell->progressText(), cell->jobProgress()})
    if (line->isVisibleTo(cell)) lines << line;
  return lines;
}

}  // namespace

// Rows in every state, the selected one too: every text reads white on the row's dark background, the
// date in italics, and every line shows whole in the 58-point row without touching another.
TEST_F(JobsTable, EveryRowReadsWhiteAndShowsEveryLineInItsRow) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  ZRNJobsController* jobs = window->jobsController();
  JobsTest_AddCopy(jobs, *finished, kJobStatusWaiting);
  JobsTest_AddCopy(jobs, *finished, kJobStatusExporting);
  pane->updateInterface();
  ASSERT_EQ(jobs->numberOfJobs(), 3);
  // The finished row (the oldest, at the bottom) is selected: its background is black.
  pane->selectionIndexesForProposedSelection(2);
  ASSERT_TRUE(finished->showSelected());
  Test_ProcessEvents();

  const struct {
    int row;
    const char* state;
    int lines;
  } rows[] = {{0, "exporting", 5}, {1, "waiting", 5}, {2, "finished and selected", 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.state);
    ZRNJobTableCell* cell = pane->cellAtRow(row.row);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(window->jobTableView()->rowHeight(row.row), JobsTableView_Controller::kRowHeight);
    EXPECT_LE(cell->height(), JobsTableView_Controller::kRowHeight);
    QWidget* background = cell->backgroundView();
    const QList<QWidget*> lines = JobsTest_ShownLines(cell);
    EXPECT_EQ(lines.size(), row.lines);
    QList<QRect> placed;
    for (QWidget* line : lines) {
      SCOPED_TRACE(line->objectName().toStdString());
      const QRect rect(line->mapTo(background, QPoint(0, 0)), line->size());
      EXPECT_TRUE(background->rect().contains(rect)) << rect.y() << "+" << rect.height();
      for (const QRect& other : placed) EXPECT_FALSE(rect.intersects(other));
      placed << rect;
      if (auto* text = qobject_cast<QLabel*>(line)) {
        ASSERT_FALSE(text->text().isEmpty());
        EXPECT_GE(text->height(), text->fontMetrics().height());
        EXPECT_GE(Test_TextContrastIn(background, text), 4.5);
        EXPECT_LT(Test_Luminance(Test_DominantColor(Test_Render(background, rect))), 0.1);
      }
    }
    EXPECT_TRUE(cell->infoText()->font().italic());
    for (QWidget* part : cell->findChildren<QWidget*>())
      if (!part->objectName().isEmpty()) {
        EXPECT_NE(part->accessibleName(), part->objectName());
      }
    // The badge's text reads too.
    EXPECT_GE(Test_TextContrastIn(background, cell->typeBadge()), 3.0);
  }
}

// Hundreds of jobs (a long season in one session) still scroll without a stall: no scroll step takes
// longer than a few frames, the list is built in well under a second.
// Times are recorded as the test's properties for a look, never asserted: a busy machine is no fault.
TEST_F(JobsTable, FiveHundredJobsScrollWithEveryRowWhole) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  ZRNJobsController* jobs = window->jobsController();
  for (int i = 0; i < 499; ++i) JobsTest_AddCopy(jobs, *finished, kJobStatusFinished);
  QElapsedTimer timer;
  timer.start();
  pane->updateInterface();
  Test_ProcessEvents();
  const qint64 buildMs = timer.elapsed();
  ASSERT_EQ(jobs->numberOfJobs(), 500);

  QTableView* table = window->jobTableView();
  QScrollBar* bar = table->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 400 * JobsTableView_Controller::kRowHeight);
  qint64 worst = 0;
  qint64 total = 0;
  int steps = 0;
  for (int value = 0; value <= bar->maximum(); value += 3 * JobsTableView_Controller::kRowHeight + 7, ++steps) {
    timer.restart();
    bar->setValue(value);
    table->viewport()->repaint();
    QCoreApplication::processEvents();
    const qint64 step = timer.elapsed();
    worst = std::max(worst, step);
    total += step;
  }
  ASSERT_GT(steps, 100);
  RecordProperty("buildMs", static_cast<int>(buildMs));
  RecordProperty("averageStepMs", static_cast<int>(total / steps));
  RecordProperty("worstStepMs", static_cast<int>(worst));
  // A progress step of one export brings the list up to date.
  timer.restart();
  for (int i = 0; i < 10; ++i) ZRNJobsController::postJobChange(jobs, jobs->jobAtIndex(i).get(), kJobChangeProgress);
  const qint64 progressMs = timer.elapsed() / 10;
  RecordProperty("progressStepMs", static_cast<int>(progressMs));
  // Rows met on the way are whole and show their job.
  const int row = table->rowAt(table->viewport()->height() / 2);
  ASSERT_GE(row, 0);
  ASSERT_NE(pane->cellAtRow(row), nullptr);
  EXPECT_EQ(pane->cellAtRow(row)->titleText()->text(), jobs->jobAtIndex(row)->title());
}

// The export history by keyboard alone: Tab reaches it, the arrows select rows as a click does (the focus
// stays), the Menu key and Shift+F10 open the row's menu, Return and Space reveal a finished job, Delete
// cancels a waiting job and removes a finished one.
TEST_F(JobsTable, TheHistoryIsWorkedByKeyboard) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  ZRNJobsController* jobs = window->jobsController();
  auto waiting = JobsTest_AddCopy(jobs, *finished, kJobStatusWaiting);
  pane->updateInterface();
  QTableView* table = window->jobTableView();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));

  // Tab from the player comes to the table within the window's focus chain.
  window->playerView()->setFocus();
  for (int i = 0; i < 40 && QApplication::focusWidget() != table; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), table);
  EXPECT_EQ(pane->keyRow(), 0);
  EXPECT_GT(pane->cellAtRow(0)->backgroundView()->strokeWidth(), 0.0);

  const struct {
    Qt::Key key;
    int row;
  } moves[] = {{Qt::Key_Down, 1}, {Qt::Key_Down, 1}, {Qt::Key_Up, 0}, {Qt::Key_End, 1}, {Qt::Key_Home, 0}, {Qt::Key_PageDown, 1}};
  for (const auto& move : moves) {
    SCOPED_TRACE(QKeySequence(move.key).toString().toStdString());
    QTest::keyClick(table, move.key);
    EXPECT_EQ(pane->keyRow(), move.row);
    EXPECT_EQ(jobs->indexOfSelectedJob(), move.row);
    EXPECT_EQ(QApplication::focusWidget(), table);
    EXPECT_EQ(pane->cellAtRow(move.row)->backgroundView()->fillColor(), ZRN_WhiteColor(0.0));
  }
  // The finished clip is selected: its range is the player's.
  EXPECT_EQ(window->inTimeMillis(), 1000);
  EXPECT_EQ(window->outTimeMillis(), 3000);

  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int row;
    QStringList items;
  } menus[] = {{Qt::Key_Menu, Qt::NoModifier, 1, {QStringLiteral("Show in Folder"), QStringLiteral("Remove from List")}},
               {Qt::Key_F10, Qt::ShiftModifier, 0, {QStringLiteral("Cancel Job")}}};
  for (const auto& open : menus) {
    SCOPED_TRACE(open.row);
    QTest::keyClick(table, open.row == 1 ? Qt::Key_End : Qt::Key_Home);
    QTest::keyClick(table, open.key, open.modifiers);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(titles(menu), open.items);
    menu->close();
    Test_ProcessEvents();
  }

  // Return and Space reveal the finished clip; its movie has gone, so the reveal asks (answered OK).
  ASSERT_TRUE(QFile::rename(finished->targetPath(), finished->targetPath() + QStringLiteral(".moved")));
  QTest::keyClick(table, Qt::Key_End);
  pane->updateInterface();
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
    QString alertText;
    PlaybackTest_AnswerNextModal(QStringLiteral("okBtn"), &alertText);
    QTest::keyClick(table, key);
    ASSERT_TRUE(Test_WaitUntil([&] { return !alertText.isEmpty(); }));
    EXPECT_TRUE(alertText.contains(QFileInfo(finished->targetPath()).fileName())) << alertText.toStdString();
    EXPECT_EQ(jobs->numberOfJobs(), 2);
  }

  // Delete removes the finished clip (as "Remove from List" does), then cancels the waiting one.
  table->setFocus();
  QTest::keyClick(table, Qt::Key_Delete);
  EXPECT_EQ(watch->count(finished.get(), kJobChangeDeleted), 1);
  ASSERT_EQ(jobs->numberOfJobs(), 1);
  ASSERT_EQ(pane->keyRow(), 0);
  QTest::keyClick(table, Qt::Key_Delete);
  EXPECT_TRUE(waiting->cancelled());
  EXPECT_EQ(jobs->numberOfJobs(), 0);
  EXPECT_EQ(pane->keyRow(), -1);
  QTest::keyClick(table, Qt::Key_Down);
  EXPECT_EQ(jobs->indexOfSelectedJob(), -1);
  // Named for a listener, never by object names.
  EXPECT_EQ(table->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Clip"));
  EXPECT_EQ(window->noDataView()->accessibleName(), QStringLiteral("No exported clips"));
}

namespace {

// A copy of a finished job that made no file, as a reopened session's failed or stopped job is.
std::shared_ptr<VL_ExportJobRecord> JobsTest_AddUnmade(ZRNJobsController* jobs, const VL_ExportJobRecord& model,
                                                       int64_t activityType, const QString& reason) {
  QVariantMap saved = model.dictionaryToSave();
  saved.remove(QStringLiteral("targetPath"));
  saved.insert(QStringLiteral("activityType"), QVariant::fromValue<qint64>(activityType));
  if (!reason.isEmpty()) saved.insert(QStringLiteral("failureReason"), reason);
  auto copy = std::make_shared<VL_ExportJobRecord>(saved);
  copy->setStatus(reason.isEmpty() ? kJobStatusCancelled : kJobStatusFinished);
  copy->setCancelled(reason.isEmpty());
  if (activityType == kExportActivitySessionMovie)
    copy->exportSettings()->insert(kExportSettingsTargetPath, QStringLiteral("/media/archive/Cup Final.mov"));
  jobs->jobsDoc()->jobsArray().prepend(copy);
  return copy;
}

QString JobsTest_NoSpaces(QString text) { return text.remove(QRegularExpression(QStringLiteral("\\s"))); }

// Every line of the row as it is drawn: each line of a label's text fits the label's width with the
// label's own font, the label lies inside the row, is tall enough for all its lines and overlaps no
// other. A line not shown whole ends in "…" and is told whole in its tool tip; every line's accessible
// description is its whole text. Answers the lines that are not shown whole.
QList<QLabel*> JobsTest_ExpectLinesFit(ZRNJobTableCell* cell) {
  QList<QLabel*> cut;
  QWidget* background = cell->backgroundView();
  QList<QRect> placed;
  for (QLabel* line : {cell->titleText(), cell->descriptionText(), cell->infoText(), cell->progressText()}) {
    if (!line->isVisibleTo(cell)) continue;
    SCOPED_TRACE(line->objectName().toStdString());
    const QRect rect(line->mapTo(background, QPoint(0, 0)), line->size());
    EXPECT_TRUE(background->rect().contains(rect)) << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height();
    for (const QRect& other : placed) EXPECT_FALSE(rect.intersects(other));
    placed << rect;
    const QFontMetrics metrics = line->fontMetrics();
    const QStringList drawn = line->text().split(QLatin1Char('\n'));
    EXPECT_GE(line->contentsRect().height(), metrics.height() + (drawn.size() - 1) * metrics.lineSpacing());
    for (const QString& part : drawn)
      EXPECT_LE(metrics.horizontalAdvance(part), line->contentsRect().width()) << part.toStdString();
    const QString whole = cell->wholeText(line);
    EXPECT_FALSE(whole.isEmpty());
    EXPECT_EQ(line->accessibleDescription(), whole);
    if (JobsTest_NoSpaces(line->text()) != JobsTest_NoSpaces(whole)) {
      cut << line;
      EXPECT_TRUE(line->text().endsWith(QChar(0x2026))) << line->text().toStdString();
      EXPECT_TRUE(line->toolTip().contains(whole)) << line->toolTip().toStdString();
    }
  }
  return cut;
}

// The pane as the user meets it at the width the splitter gave it, once the window has laid itself out:
// the scroll bar shows exactly when the rows need it, and every row in view lies where the table puts
// it, as tall as its lines at the viewport's width, with each line placed as tall as its text.
bool JobsTest_LaidOut(VLPlaybackWC* window, JobsTableView_Controller* pane, int width) {
  QTableView* table = window->jobTableView();
  const QScrollBar* bar = table->verticalScrollBar();
  if (window->mainSplitV()->sizes().value(1) != width || bar->isVisible() != (bar->maximum() > 0)) return false;
  for (int row = 0; row < table->model()->rowCount(); ++row) {
    const QRect place = table->visualRect(table->model()->index(row, 0));
    if (!place.intersects(table->viewport()->rect())) continue;
    ZRNJobTableCell* cell = pane->cellAtRow(row);
    if (!cell || cell->geometry() != place ||
        table->rowHeight(row) != cell->rowHeightForWidth(table->viewport()->width() - (table->showGrid() ? 1 : 0)))
      return false;
    for (QLabel* line : {cell->titleText(), cell->descriptionText(), cell->infoText(), cell->progressText()}) {
      const QFontMetrics metrics = line->fontMetrics();
      if (line->isVisibleTo(cell) &&
          line->contentsRect().height() < metrics.height() + line->text().count(QLatin1Char('\n')) * metrics.lineSpacing())
        return false;
    }
  }
  return true;
}

}  // namespace

// Rows in every state, at the narrowest, a middle and the widest width of the pane, with few rows and
// with so many that the scroll bar shows: every line is whole (a failed job's reason over several lines);
// only a title too long for any width ends in "…".
TEST_F(JobsTable, EveryLineOfEveryRowFitsAtEveryPaneWidthWithAndWithoutTheScrollBar) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  ZRNJobsController* jobs = window->jobsController();
  const QString folderReason = QStringLiteral("the clips folder \"/media/archive/Season 2026/Cup Final Clips\" cannot be made");
  QTableView* table = window->jobTableView();
  window->resize(1000, 600);

  // Row by row from the top: what each holds.
  enum Kind { Waiting, Exporting, FailedLong, FailedShort, LongTitle, Finished };
  const auto addRows = [&] {
    auto longTitle = JobsTest_AddCopy(jobs, *finished, kJobStatusFinished);
    longTitle->setTitle(QStringLiteral("Cup Final Second Half Highlights With Extra Time And Penalties"));
    JobsTest_AddUnmade(jobs, *finished, kExportActivityManualClip, QStringLiteral("the clip is 1 s long or shorter"));
    JobsTest_AddUnmade(jobs, *finished, kExportActivityManualClip, folderReason);
    JobsTest_AddCopy(jobs, *finished, kJobStatusExporting);
    JobsTest_AddCopy(jobs, *finished, kJobStatusWaiting);
  };
  addRows();
  const Kind kinds[] = {Waiting, Exporting, FailedLong, FailedShort, LongTitle, Finished};
  for (bool many : {false, true}) {
    if (many) {
      // More rows below: the scroll bar shows, and the rows above are the same kinds again.
      for (int i = 0; i < 12; ++i) JobsTest_AddCopy(jobs, *finished, kJobStatusFinished);
      addRows();
    }
    pane->updateInterface();
    for (int width : {252, 320, 420}) {
      SCOPED_TRACE(testing::Message() << (many ? "scroll bar, " : "no scroll bar, ") << width);
      const int total = window->mainSplitV()->sizes().value(0) + window->mainSplitV()->sizes().value(1);
      window->mainSplitV()->setSizes({total - width, width});
      EXPECT_TRUE(Test_WaitUntil([&] { return JobsTest_LaidOut(window, pane, width); }));
      ASSERT_EQ(window->mainSplitV()->sizes().value(1), width);
      EXPECT_EQ(table->verticalScrollBar()->isVisible(), many);
      for (int row = 0; row < 6; ++row) {
        SCOPED_TRACE(row);
        ZRNJobTableCell* cell = pane->cellAtRow(row);
        ASSERT_NE(cell, nullptr);
        ASSERT_TRUE(cell->isVisible());
        EXPECT_EQ(cell->geometry(), table->visualRect(table->model()->index(row, 0)));
        const QList<QLabel*> cut = JobsTest_ExpectLinesFit(cell);
        EXPECT_EQ(cut, kinds[row] == LongTitle ? QList<QLabel*>{cell->titleText()} : QList<QLabel*>{});
        if (kinds[row] == Waiting || kinds[row] == Exporting) {
          EXPECT_TRUE(cell->progressText()->isVisible());
          EXPECT_EQ(cell->progressText()->text(), kinds[row] == Waiting ? QStringLiteral("Waiting...") : QStringLiteral("Exporting..."));
        }
        if (kinds[row] == FailedLong) {
          // The reason is read whole in the row, over as many lines as it takes; the row grows for them.
          EXPECT_GT(cell->descriptionText()->text().count(QLatin1Char('\n')), 0);
          EXPECT_GT(table->rowHeight(row), JobsTableView_Controller::kRowHeight);
          EXPECT_TRUE(cell->descriptionText()->toolTip().contains(QStringLiteral("Failed: ") + folderReason));
        } else if (kinds[row] != FailedShort) {
          EXPECT_EQ(table->rowHeight(row), JobsTableView_Controller::kRowHeight);
        }
      }
    }
  }
  // Pixel by pixel across the widths where failures' reasons change their number of lines: each row is
  // as tall as its lines.
  JobsTest_AddUnmade(jobs, *finished, kExportActivitySessionMovie, QStringLiteral("Invalid data found when processing input"));
  pane->updateInterface();
  for (int width = 252; width <= 300; ++width) {
    SCOPED_TRACE(width);
    const int total = window->mainSplitV()->sizes().value(0) + window->mainSplitV()->sizes().value(1);
    window->mainSplitV()->setSizes({total - width, width});
    EXPECT_TRUE(Test_WaitUntil([&] { return JobsTest_LaidOut(window, pane, width); }));
    for (int row : {0, 3}) {
      SCOPED_TRACE(row);
      ASSERT_NE(pane->cellAtRow(row), nullptr);
      EXPECT_EQ(JobsTest_ExpectLinesFit(pane->cellAtRow(row)), QList<QLabel*>{});
    }
  }
}

// A job that made no file has nothing to show in a folder: its warning says why and where the file was
// to go, by tool tip and to a listener; clicking it or pressing Return tells the same in an alert that
// still offers "Remove Job", never the alert of a moved file with an empty name.
TEST_F(JobsTable, AJobThatMadeNoFileTellsWhyAndWhereAndCanBeRemoved) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  ZRNJobsController* jobs = window->jobsController();
  const QString clips = QFileInfo(package).absolutePath() + QStringLiteral("/Cup Final Clips/");
  const struct {
    int64_t type;
    QString reason;  // empty: stopped before it ended
    QString path;
  } cases[] = {
      // The finished clip at 00:01 is VLClip_001: a clip at 00:01 that made no file was to be the next.
      {kExportActivityManualClip, QStringLiteral("the clip is 1 s long or shorter"), clips + QStringLiteral("VLClip_001_1.mov")},
      {kExportActivitySessionMovie, QStringLiteral("Invalid data found when processing input"),
       QStringLiteral("/media/archive/Cup Final.mov")},
      {kExportActivityAutomaticClip, QString(), clips + QStringLiteral("VLClip_001_1.mov")},
  };
  QTableView* table = window->jobTableView();
  // The watch counts by address: a removed job is held, so that the next case's job cannot take its address.
  QList<std::shared_ptr<VL_ExportJobRecord>> held;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    const QString told = c.reason.isEmpty() ? QStringLiteral("stopped before it made its file") : c.reason;
    auto job = JobsTest_AddUnmade(jobs, *finished, c.type, c.reason);
    held << job;
    pane->updateInterface();
    ZRNJobTableCell* cell = pane->cellAtRow(0);
    ASSERT_EQ(cell->theJob(), job.get());
    QToolButton* warning = cell->revealBtn();
    ASSERT_TRUE(warning->isVisibleTo(window));
    for (const QString& text : {warning->toolTip(), warning->accessibleDescription(),
                                table->model()->index(0, 0).data(Qt::AccessibleDescriptionRole).toString()}) {
      EXPECT_TRUE(text.contains(told) && text.contains(c.path)) << text.toStdString();
    }
    EXPECT_EQ(warning->accessibleName(), QStringLiteral("Why Not Exported"));

    // Clicked, then by the keyboard: told, and kept after OK; "Remove Job" removes it.
    const struct {
      const char* how;
      const char* button;
      int64_t jobsAfter;
    } answers[] = {{"click", "okBtn", 2}, {"Return", "cancelBtn", 1}};
    for (const auto& answer : answers) {
      SCOPED_TRACE(answer.how);
      QString alert;
      QString object;
      Test_AnswerNextModal(QString::fromLatin1(answer.button), [&](QWidget* modal) {
        alert = Test_LabelsText(modal);
        object = modal->objectName();
      });
      if (QString(answer.how) == QLatin1String("click")) {
        click(warning);
      } else {
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Home);
        QTest::keyClick(table, Qt::Key_Return);
      }
      ASSERT_TRUE(Test_WaitUntil([&] { return !alert.isEmpty() && jobs->numberOfJobs() == answer.jobsAfter; }));
      EXPECT_EQ(object, QStringLiteral("notExportedAlert"));
      EXPECT_TRUE(alert.contains(QLatin1Char('"') + c.path + QLatin1Char('"')) && alert.contains(told)) << alert.toStdString();
      EXPECT_FALSE(alert.contains(QStringLiteral("can't show"))) << alert.toStdString();
    }
    EXPECT_EQ(jobs->indexOfJob(job.get()), kZRNJobNotFound);
    EXPECT_EQ(watch->count(job.get(), kJobChangeDeleted), 1);
  }
}

namespace {

// The export history as assistive technologies reach it: from the window's accessible root down to the
// table named "Export History".
QAccessibleInterface* JobsTest_FindHistory(QAccessibleInterface* node) {
  if (!node) return nullptr;
  if (node->role() == QAccessible::Table && node->text(QAccessible::Name) == QLatin1String("Export History")) return node;
  for (int i = 0; i < node->childCount(); ++i)
    if (QAccessibleInterface* found = JobsTest_FindHistory(node->child(i))) return found;
  return nullptr;
}

}  // namespace

// A listener hears each row as it shows: title, duration or state (waiting, exporting with its progress,
// failed with its reason) and date, with the row's tips as its description; only the row the keyboard is
// on reads as focused, and only while the history has the focus.
TEST_F(JobsTable, RowsAreNamedByAllTheyShowAndLoseTheirFocusWithTheList) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  ZRNJobsController* jobs = window->jobsController();
  auto failed = JobsTest_AddUnmade(jobs, *finished, kExportActivityManualClip, QStringLiteral("the clip is 1 s long or shorter"));
  auto exporting = JobsTest_AddCopy(jobs, *finished, kJobStatusExporting);
  auto waiting = JobsTest_AddCopy(jobs, *finished, kJobStatusWaiting);
  pane->updateInterface();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));

  QAccessibleInterface* history = JobsTest_FindHistory(QAccessible::queryAccessibleInterface(window));
  ASSERT_NE(history, nullptr);
  QAccessibleTableInterface* rows = history->tableInterface();
  ASSERT_NE(rows, nullptr);
  ASSERT_EQ(rows->rowCount(), 4);
  const struct {
    std::shared_ptr<VL_ExportJobRecord> job;
    QStringList heard;
    QString description;
  } cases[] = {
      {waiting, {waiting->title(), QStringLiteral("Duration 00:02 at 00:01"), QStringLiteral("Waiting..."), waiting->infoString()},
       QStringLiteral("Clip with duration 00:02 at 00:01")},
      {exporting, {exporting->title(), QStringLiteral("Duration 00:02 at 00:01"), QStringLiteral("Exporting... 40%"), exporting->infoString()},
       QStringLiteral("Clip with duration 00:02 at 00:01")},
      {failed, {failed->title(), QStringLiteral("Failed: the clip is 1 s long or shorter"), failed->infoString()},
       QStringLiteral("Not exported: the clip is 1 s long or shorter")},
      {finished, {finished->title(), QStringLiteral("Duration 00:02 at 00:01"), finished->infoString()}, finished->targetPath()},
  };
  for (int row = 0; row < 4; ++row) {
    SCOPED_TRACE(row);
    QAccessibleInterface* item = rows->cellAt(row, 0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(QAccessible::Name), cases[row].heard.join(QStringLiteral(", ")));
    EXPECT_TRUE(item->text(QAccessible::Description).contains(cases[row].description))
        << item->text(QAccessible::Description).toStdString();
    EXPECT_FALSE(item->state().focused);
  }
  // A step of the export reaches the listener's view of its row.
  exporting->setCurrentStep(75);
  ZRNJobsController::postJobChange(jobs, exporting.get(), kJobChangeProgress);
  EXPECT_TRUE(rows->cellAt(1, 0)->text(QAccessible::Name).contains(QStringLiteral("Exporting... 75%")));

  // Into the list by Tab, down a row, and out again by Tab.
  QTableView* table = window->jobTableView();
  window->playerView()->setFocus();
  for (int i = 0; i < 40 && QApplication::focusWidget() != table; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), table);
  QTest::keyClick(table, Qt::Key_Down);
  const auto focusedRows = [&] {
    QList<int> focused;
    for (int row = 0; row < rows->rowCount(); ++row)
      if (rows->cellAt(row, 0)->state().focused) focused << row;
    return focused;
  };
  EXPECT_EQ(focusedRows(), QList<int>{1});
  QTest::keyClick(table, Qt::Key_Tab);
  ASSERT_NE(QApplication::focusWidget(), table);
  EXPECT_EQ(focusedRows(), QList<int>{});
  // Back in, the keyboard is on the row it left.
  table->setFocus(Qt::TabFocusReason);
  Test_ProcessEvents();
  EXPECT_EQ(focusedRows(), QList<int>{1});
  EXPECT_EQ(pane->keyRow(), 1);
}

// The alerts about a finished clip whose movie has gone and about a job that made no file offer "Remove
// Job" as their second button: Escape and closing them are no answer, so the job stays in the history
// and in the session's saved jobs, its reason and place with it.
TEST_F(JobsTable, EscapeOrClosingTheAlertAboutAJobKeepsTheJob) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  ZRNJobsController* jobs = window->jobsController();
  const QVariant saved = PlaybackTest_ReadSettings(package).value(QStringLiteral("exportJobs"));
  ASSERT_EQ(saved.toList().size(), 1);
  ASSERT_TRUE(QFile::rename(finished->targetPath(), finished->targetPath() + QStringLiteral(".moved")));
  auto failed = JobsTest_AddUnmade(jobs, *finished, kExportActivityManualClip, QStringLiteral("the clip is 1 s long or shorter"));
  pane->updateInterface();
  const struct {
    const char* name;
    std::function<void(QWidget*)> end;
  } ways[] = {{"Escape", [](QWidget* modal) { QTest::keyClick(modal->focusWidget(), Qt::Key_Escape); }},
              {"closed", [](QWidget* modal) { modal->close(); }}};
  for (const auto& job : {failed, finished}) {
    for (const auto& way : ways) {
      SCOPED_TRACE(std::string(job == failed ? "no file, " : "moved, ") + way.name);
      const int64_t row = jobs->indexOfJob(job.get());
      ASSERT_NE(row, kZRNJobNotFound);
      QString cancelTitle;
      Test_AnswerNextModal(QString(), [&](QWidget* modal) {
        cancelTitle = modal->findChild<QPushButton*>(QStringLiteral("cancelBtn"))->text();
        way.end(modal);
      });
      click(pane->cellAtRow(row)->revealBtn());
      ASSERT_TRUE(Test_WaitUntil([&] { return !cancelTitle.isEmpty() && !QApplication::activeModalWidget(); }));
      EXPECT_EQ(cancelTitle, QStringLiteral("Remove Job"));
      EXPECT_NE(jobs->indexOfJob(job.get()), kZRNJobNotFound);
      EXPECT_EQ(watch->count(job.get(), kJobChangeDeleted), 0);
    }
  }
  EXPECT_EQ(jobs->numberOfJobs(), 2);
  EXPECT_EQ(PlaybackTest_ReadSettings(package).value(QStringLiteral("exportJobs")), saved);
}

// A clip that failed names the file it was to write, numbered as its export numbers clips: never the file
// of another clip with the same start, whether that clip finished before or after it, in the row's tip,
// to a listener, in alert 20051 and in the saved session.
TEST_F(JobsTable, AFailedClipNamesItsOwnFileNeverAnotherClipsFile) {
  const QString clips = QFileInfo(package).absolutePath() + QStringLiteral("/Cup Final Clips/");
  ZRNJobsController* jobs = window->jobsController();
  const auto ended = [&](const std::shared_ptr<VL_ExportJobRecord>& job) {
    return job && Test_WaitUntil([&] { return job->isFinished() && jobs->numberOfPendingJobs() == 0; }, 60000);
  };
  // At 00:01 a clip finishes, then one of 0.8 s fails; at 00:05 one of 0.5 s fails, then a clip finishes.
  auto finishedFirst = finishedClip();
  auto failedAfter = requestClip(1000, 1800);
  ASSERT_TRUE(ended(failedAfter));
  auto failedBefore = requestClip(5000, 5500);
  ASSERT_TRUE(ended(failedBefore));
  auto finishedAfter = requestClip(5000, 7000);
  ASSERT_TRUE(ended(finishedAfter) && finishedFirst);
  EXPECT_EQ(finishedAfter->targetPath().toStdString(), (clips + QStringLiteral("VLClip_005_1.mov")).toStdString());

  const struct {
    std::shared_ptr<VL_ExportJobRecord> failed, other;
    QString path;
  } cases[] = {{failedAfter, finishedFirst, clips + QStringLiteral("VLClip_001_1.mov")},
               {failedBefore, finishedAfter, clips + QStringLiteral("VLClip_005.mov")}};
  QStringList saved;
  for (const QVariant& job : PlaybackTest_ReadSettings(package).value(QStringLiteral("exportJobs")).toList())
    saved << job.toMap().value(QStringLiteral("intendedPath")).toString();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    EXPECT_TRUE(saved.contains(c.path)) << saved.join(QLatin1Char('|')).toStdString();
    const int row = static_cast<int>(jobs->indexOfJob(c.failed.get()));
    ASSERT_NE(pane->cellAtRow(row), nullptr);
    QString alert;
    Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) { alert = Test_LabelsText(modal); });
    click(pane->cellAtRow(row)->revealBtn());
    ASSERT_TRUE(Test_WaitUntil([&] { return !alert.isEmpty(); }));
    EXPECT_TRUE(alert.contains(QLatin1Char('"') + c.path + QStringLiteral("\" was not exported."))) << alert.toStdString();
    for (const QString& text : {pane->cellAtRow(row)->revealBtn()->toolTip(), alert,
                                window->jobTableView()->model()->index(row, 0).data(Qt::AccessibleDescriptionRole).toString()}) {
      EXPECT_TRUE(text.contains(c.path)) << text.toStdString();
      EXPECT_FALSE(text.contains(c.other->targetPath())) << text.toStdString();
    }
  }
}
