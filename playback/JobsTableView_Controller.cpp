#include "playback/JobsTableView_Controller.h"

#include "common/ZRNAlertWindowController.h"
#include "common/ZRNAlerts.h"
#include "common/ZRNDrawnViews.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "composition/ZRNJobsController.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/media/player/Player.h"
#include "playback/VLPlaybackWC.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNJobTableCell.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTableView>
#include <QToolButton>

namespace {

constexpr int kAlertMovieMoved = 20024;
constexpr int kAlertFolderMoved = 20025;
constexpr int kAlertNotExported = 20051;
constexpr int kAlertSecondButton = -1001;

QIcon U_ButtonImage(const char* name) { return QIcon(QStringLiteral(":/images/%1.png").arg(QLatin1String(name))); }

// A job that has ended without a file to show: it failed, or it was stopped before it made one.
bool U_MadeNoFile(const VL_ExportJobRecord& job) { return job.isFinished() && job.targetPath().isEmpty(); }

QString U_NotExportedReason(const VL_ExportJobRecord& job) {
  if (job.exportFailed()) return job.failureReason();
  if (job.cancelled() || job.status() == kJobStatusCancelled)
    return QStringLiteral("the export was stopped before it made its file");
  return QStringLiteral("the export ended without a file");
}

}  // namespace

// The table's rows are the queue's jobs; each row shows a cell widget, so the model only counts. The
// count changes only with a reset, so the table never sees the queue change between two reloads.
class JobsTableModel : public QAbstractTableModel {
 public:
  explicit JobsTableModel(JobsTableView_Controller* controller) : QAbstractTableModel(controller), m_controller(controller) {}
  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : m_rows; }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 1; }
  // A listener hears what the row shows (title, duration or state, date) and, as its description, what
  // its tool tips tell.
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::AccessibleTextRole && role != Qt::AccessibleDescriptionRole) return {};
    auto job = m_controller->objectValueForRow(index.row());
    if (!job) return {};
    return role == Qt::AccessibleTextRole ? ZRNJobCell_AccessibleText(*job) : m_controller->U_RowTip(*job);
  }
  // Names a listener understands: the one column is the clip, a row is named by its job's title.
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
    if (orientation == Qt::Horizontal) return QStringLiteral("Clip");
    auto job = m_controller->objectValueForRow(section);
    return job ? QVariant(job->title()) : QVariant();
  }
  void reset(int rows) {
    beginResetModel();
    m_rows = rows;
    endResetModel();
  }
  // The row's texts changed (progress, an end): a listener's view of it is brought up to date.
  void rowChanged(int row) {
    const QModelIndex cell = index(row, 0);
    emit dataChanged(cell, cell, {Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole});
  }

 private:
  JobsTableView_Controller* m_controller;
  int m_rows = 0;
};

JobsTableView_Controller::JobsTableView_Controller(QWidget* paneView, QTableView* table, VLPlaybackWC* window)
    : ZRNEmptyTableNoteVC(paneView), m_table(table), m_window(window) {
  setObjectName(QStringLiteral("JobsTableView_Controller"));
  hide();
  setHasAutoLayout(false);
  QPointer<JobsTableView_Controller> guard(this);
  NotificationCenter& center = NotificationCenter::defaultCenter();
  m_jobChangeObservation = NotificationObservation(
      center, center.addObserver(kZRNNotification_JobChange, nullptr, [guard](const Notification& note) {
        if (guard) guard->handleJobChange(note);
      }));

  if (paneView) {
    for (QAbstractButton* button : paneView->findChildren<QAbstractButton*>()) {
      const int tag = button->property("tag").toInt();
      if (tag == kJobsPaneCancelAllTag) {
        m_cancelAllButton = button;
        connect(button, &QAbstractButton::clicked, this, [this] { cancelAllJobs(); });
      } else if (tag == kJobsPaneClearTag) {
        m_clearLogButton = button;
        connect(button, &QAbstractButton::clicked, this, [this] { clearLog(); });
      }
    }
  }
  setTheDataView(table);
  m_model = new JobsTableModel(this);
  if (table) {
    table->setModel(m_model);
    // The selected row is drawn by its own dark background, never by the table.
    table->setSelectionMode(QAbstractItemView::NoSelection);
    // Reached with Tab; its keys are the controller's (handleKey).
    table->setFocusPolicy(Qt::StrongFocus);
    table->setTabKeyNavigation(false);
    table->installEventFilter(this);
    table->horizontalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table->viewport()->installEventFilter(this);
  }
  if (window) m_noDataView = window->noDataView();
  if (m_noDataView) {
    m_noDataView->setBackgroundColor(QColor(Qt::transparent));
    m_noDataView->setFrameColor(ZRN_WhiteColor(0.75));
    m_noDataView->setFrameWidth(0);
    m_noDataView->setCornerRadius(0);
    m_noDataView->hide();
  }
}

JobsTableView_Controller::~JobsTableView_Controller() { m_jobChangeObservation.reset(); }

bool JobsTableView_Controller::hasOldJobs() const {
  return m_jobsController && m_jobsController->jobsDoc() && m_jobsController->jobsDoc()->numberOfFinishedJobs() > 0;
}

bool JobsTableView_Controller::hasActiveJobs() const { return m_jobsController && m_jobsController->numberOfPendingJobs() > 0; }

void JobsTableView_Controller::prepareToBeReleased() {
  if (m_jobsController) m_jobsController->selectJobWithIndex(-1);
  m_jobChangeObservation.reset();
  if (m_table) {
    m_table->viewport()->removeEventFilter(this);
    m_table->removeEventFilter(this);
    m_table->setModel(nullptr);
  }
}

bool JobsTableView_Controller::canReset() const { return m_jobsController && m_jobsController->numberOfJobs() > 0; }

int64_t JobsTableView_Controller::numberOfRowsInTableView() const { return m_jobsController ? m_jobsController->numberOfJobs() : 0; }

std::shared_ptr<VL_ExportJobRecord> JobsTableView_Controller::objectValueForRow(int64_t row) const {
  return m_jobsController ? m_jobsController->jobAtIndex(row) : nullptr;
}

void JobsTableView_Controller::U_SelectVideoRangeForRow(int64_t row) {
  if (row < 0 || !m_window) return;
  auto job = objectValueForRow(row);
  if (!job || !job->exportSettings()) return;
  const int64_t start = job->exportSettings()->value(kExportSettingsStartTimeMillis).toLongLong();
  const int64_t duration = job->exportSettings()->value(kExportSettingsDurationMillis).toLongLong();
  m_window->U_SetSelectionWithStart(start, duration);
}

void JobsTableView_Controller::selectRangeOnVideo(QWidget* sender) { U_SelectVideoRangeForRow(rowForView(sender)); }

void JobsTableView_Controller::revealResultsInFinder(QWidget* sender) {
  const int64_t row = rowForView(sender);
  if (row < 0) return;
  auto job = objectValueForRow(row);
  if (!job) return;
  // A job that never made a file has nothing to show and nothing that moved: it tells why.
  if (U_MadeNoFile(*job)) {
    const QString path = m_window ? m_window->intendedPathOfJob(*job) : QString();
    const QString reason = U_NotExportedReason(*job);
    U_AskAboutJob(job, [path, reason] {
      const std::optional<QVariantMap> entry = Alert_EntryForID(kAlertNotExported);
      if (!entry) return 0;
      ZRNLogger_Log(QStringLiteral("alert %ld"), static_cast<long>(kAlertNotExported));
      std::unique_ptr<ZRNAlertWindowController> alert = Alert_MakeAlertController(*entry, path, reason);
      alert->setObjectName(QStringLiteral("notExportedAlert"));
      return Alert_RunAlertModal(alert.get());
    });
    return;
  }
  if (Alert_RevealInFolder(job->targetPath(), job->targetIsFolder())) return;
  const int alertID = job->targetIsFolder() ? kAlertFolderMoved : kAlertMovieMoved;
  const QString name = QFileInfo(job->targetPath()).fileName();
  U_AskAboutJob(job, [alertID, name] { return Alert_ShowAlertWithID(alertID, name); });
}

void JobsTableView_Controller::U_AskAboutJob(const std::shared_ptr<VL_ExportJobRecord>& job, std::function<int()> ask) {
  // The alert runs its own event loop, in which the rows are made anew (progress of other jobs): ask on
  // the next turn, so that no row's button is still inside its click while its row is replaced.
  QPointer<JobsTableView_Controller> guard(this);
  std::weak_ptr<VL_ExportJobRecord> weakJob = job;
  Dispatch_MainAsync([guard, weakJob, ask = std::move(ask)] {
    if (!guard || weakJob.expired()) return;
    const int answer = ask();
    auto job = weakJob.lock();
    if (!guard || !guard->m_jobsController || !job) return;
    // The list may have changed meanwhile: find the job's row again.
    const int64_t now = guard->m_jobsController->indexOfJob(job.get());
    if (now == kZRNJobNotFound) return;
    if (answer == kAlertSecondButton)
      guard->m_jobsController->deleteJobAtIndex(now);
    else
      guard->reloadRow(now);
  });
}

QString JobsTableView_Controller::U_NotExportedTip(const VL_ExportJobRecord& job) const {
  const QString path = m_window ? m_window->intendedPathOfJob(job) : QString();
  const QString reason = Fmt("Not exported: %@", U_NotExportedReason(job));
  return path.isEmpty() ? reason : Fmt("%@\nIt was to be saved as %@", reason, path);
}

QString JobsTableView_Controller::U_RowTip(const VL_ExportJobRecord& job) const {
  if (!job.isFinished()) return job.descriptionTipString();
  if (U_MadeNoFile(job)) return U_NotExportedTip(job);
  if (!QFileInfo::exists(job.targetPath())) return Fmt("Movie file not available: %@", job.targetPath());
  return job.targetPath();
}

void JobsTableView_Controller::deleteJobRecord(QWidget* sender) {
  const int64_t row = rowForView(sender);
  if (row >= 0 && m_jobsController) m_jobsController->deleteJobAtIndex(row);
}

void JobsTableView_Controller::cancelJob(QWidget* sender) {
  const int64_t row = rowForView(sender);
  if (row >= 0 && m_jobsController) m_jobsController->cancelJobAtIndex(row);
}

void JobsTableView_Controller::cancelAllJobs() {
  if (m_jobsController) m_jobsController->clearAllPendingJobs();
  updateInterface();
}

void JobsTableView_Controller::clearLog() {
  if (m_jobsController) m_jobsController->clearJobLog();
  updateInterface();
}

void JobsTableView_Controller::updateInterface() {
  reloadData();
  const bool empty = numberOfRowsInTableView() == 0;
  setupForEmptyTable(empty);
  if (m_cancelAllButton) m_cancelAllButton->setEnabled(hasActiveJobs());
  if (m_clearLogButton) m_clearLogButton->setEnabled(hasOldJobs());
  if (m_noDataView) m_noDataView->setVisible(empty);
}

ZRNJobTableCell* JobsTableView_Controller::viewForRow(int64_t row) {
  if (!objectValueForRow(row)) return nullptr;
  auto* cell = new ZRNJobTableCell;
  U_ConfigureCell(cell, row, U_KeyFocusRow());
  return cell;
}

int64_t JobsTableView_Controller::U_KeyFocusRow() const { return m_table && m_table->hasFocus() ? keyRow() : -1; }

void JobsTableView_Controller::U_ConfigureCell(ZRNJobTableCell* cell, int64_t row, int64_t keyFocusRow) {
  auto job = objectValueForRow(row);
  if (!job) return;
  cell->setTheJob(job.get());
  cell->updateBindings();
  cell->setTableController(this);
  ZRNTypeBadgeView* badge = cell->typeBadge();
  badge->setTitle(job->activityBadgeString());
  const QColor color = job->badgeColor();
  badge->setTitleColor(color);
  badge->setLineColor(color);
  badge->setBadgeColor(color);
  cell->imageView()->clear();
  cell->backgroundView()->setFillColor(ZRN_WhiteColor(job->showSelected() ? 0.0 : 0.3));
  const bool keyFocus = row == keyFocusRow;
  cell->backgroundView()->setStrokeColor(keyFocus ? m_table->palette().color(QPalette::Highlight) : QColor());
  cell->backgroundView()->setStrokeWidth(keyFocus ? 2 : 0);
  if (job->isFinished()) {
    cell->abortBtn()->hide();
    cell->revealBtn()->show();
    QToolButton* reveal = cell->revealBtn();
    if (U_MadeNoFile(*job)) {
      // The warning of a job that never made a file says why, and where the file was to go.
      const QString tip = U_NotExportedTip(*job);
      reveal->setIcon(U_ButtonImage("thincircle_warning"));
      reveal->setToolTip(tip);
      reveal->setAccessibleName(QStringLiteral("Why Not Exported"));
      reveal->setAccessibleDescription(tip);
    } else {
      const bool exists = QFileInfo::exists(job->targetPath());
      reveal->setIcon(U_ButtonImage(exists ? "thincircle_rightarrow" : "thincircle_warning"));
      reveal->setToolTip(exists ? QStringLiteral("Show in Folder") : QStringLiteral("Movie file not available"));
      reveal->setAccessibleName(QStringLiteral("Show in Folder"));
      reveal->setAccessibleDescription(exists ? job->targetPath() : QStringLiteral("Movie file not available"));
    }
    cell->jobProgress()->hide();
    cell->progressText()->hide();
  } else {
    cell->abortBtn()->show();
    cell->abortBtn()->setIcon(U_ButtonImage("thincircle_x"));
    cell->abortBtn()->setToolTip(QStringLiteral("Cancel Job"));
    cell->revealBtn()->hide();
    cell->jobProgress()->show();
    cell->jobProgress()->setMaximum(static_cast<int>(job->totalSteps()));
    cell->jobProgress()->setValue(static_cast<int>(job->currentStep()));
    cell->progressText()->show();
    cell->setStatusText(job->progressString());
  }
}

ZRNJobTableCell* JobsTableView_Controller::cellAtRow(int64_t row) const {
  if (!m_table || row < 0 || row >= m_shownRows) return nullptr;
  return qobject_cast<ZRNJobTableCell*>(m_table->indexWidget(m_model->index(static_cast<int>(row), 0)));
}

int64_t JobsTableView_Controller::rowForView(const QWidget* view) const {
  for (const QWidget* w = view; w; w = w->parentWidget()) {
    if (auto* cell = qobject_cast<const ZRNJobTableCell*>(w)) {
      if (!m_jobsController || !cell->theJob()) return -1;
      const int64_t index = m_jobsController->indexOfJob(cell->theJob());
      return index == kZRNJobNotFound ? -1 : index;
    }
  }
  return -1;
}

void JobsTableView_Controller::reloadData() {
  if (!m_table) return;
  const int rows = static_cast<int>(numberOfRowsInTableView());
  // The same number of rows: the rows are brought up to date where they are, so that a button being
  // pressed in a row is not replaced under the mouse by the next progress step.
  bool inPlace = rows == m_shownRows;
  for (int row = 0; inPlace && row < rows; ++row) inPlace = cellAtRow(row) != nullptr;
  if (inPlace) {
    // The key row is looked up once, not once a row: this runs at every progress step.
    const int64_t keyFocusRow = U_KeyFocusRow();
    for (int row = 0; row < rows; ++row) {
      U_ConfigureCell(cellAtRow(row), row, keyFocusRow);
      m_model->rowChanged(row);
    }
    U_FitRowHeights();
    return;
  }
  m_model->reset(rows);
  m_shownRows = rows;
  for (int row = 0; row < rows; ++row) m_table->setIndexWidget(m_model->index(row, 0), viewForRow(row));
  if (const int64_t key = U_KeyFocusRow(); key >= 0) m_table->setCurrentIndex(m_model->index(static_cast<int>(key), 0));
  U_FitRowHeights();
}

void JobsTableView_Controller::reloadRow(int64_t row) {
  if (!m_table || row < 0 || row >= m_shownRows) return;
  if (ZRNJobTableCell* cell = cellAtRow(row))
    U_ConfigureCell(cell, row, U_KeyFocusRow());
  else
    m_table->setIndexWidget(m_model->index(static_cast<int>(row), 0), viewForRow(row));
  m_model->rowChanged(static_cast<int>(row));
  U_FitRowHeight(static_cast<int>(row));
}

void JobsTableView_Controller::U_FitRowHeight(int row) {
  ZRNJobTableCell* cell = cellAtRow(row);
  if (!cell) return;
  // The width the table gives the row's cell: the one column fills the viewport, less the grid line.
  // (The column itself follows a new viewport width only after the viewport has told of it.)
  const int height = cell->rowHeightForWidth(m_table->viewport()->width() - (m_table->showGrid() ? 1 : 0));
  if (m_table->rowHeight(row) != height) m_table->verticalHeader()->resizeSection(row, height);
}

void JobsTableView_Controller::U_FitRowHeights() {
  if (!m_table) return;
  for (int row = 0; row < m_shownRows; ++row) U_FitRowHeight(row);
}

void JobsTableView_Controller::U_ClearTableSelection() {
  if (m_jobsController) {
    const int64_t previous = m_jobsController->selectJobWithIndex(-1);
    if (previous >= 0) reloadRow(previous);
  }
  // The keys stay where they are: a command (a new export, a new mark) clears the selection from
  // wherever the user gave it. A click in the table hands them to the video itself.
}

void JobsTableView_Controller::U_SelectRow(int64_t row) {
  const int64_t previous = m_jobsController->selectJobWithIndex(row);
  if (previous >= 0 && previous != row) reloadRow(previous);
  reloadRow(row);
  U_SelectVideoRangeForRow(row);
}

int64_t JobsTableView_Controller::selectionIndexesForProposedSelection(int64_t clickedRow) {
  if (clickedRow >= 0 && clickedRow < numberOfRowsInTableView() && m_jobsController) {
    U_SetKeyRow(clickedRow);
    U_SelectRow(clickedRow);
    tableViewSelectionDidChange();
    return clickedRow;
  }
  U_ClearTableSelection();
  if (numberOfRowsInTableView() > 0 && m_window) m_window->clearInOutPoints();
  tableViewSelectionDidChange();
  return -1;
}

void JobsTableView_Controller::tableViewSelectionDidChange() {
  if (m_table) m_table->viewport()->update();
  if (m_window && m_window->playerView()) m_window->playerView()->setFocus();
}

void JobsTableView_Controller::U_ClickedCell(ZRNJobTableCell* cell) {
  // The click may reach us after the list changed; the cell's job names the row.
  selectionIndexesForProposedSelection(rowForView(cell));
}

bool JobsTableView_Controller::eventFilter(QObject* watched, QEvent* event) {
  if (m_table && watched == m_table) {
    switch (event->type()) {
      case QEvent::KeyPress:
        if (handleKey(static_cast<QKeyEvent*>(event))) return true;
        break;
      case QEvent::ContextMenu:
        // The Menu key as the window system reports it: the key row's menu, beside the row.
        if (static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
          showKeyRowMenu();
          return true;
        }
        break;
      case QEvent::FocusIn: {
        if (keyRow() < 0 && numberOfRowsInTableView() > 0) U_SetKeyRow(0);
        // Keys that come back with the window (a panel, an alert or a menu gone) find the list as it was
        // left: a new row brought into view meanwhile stays in view. Keys that move in bring their row.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool comingBack = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
        const bool autoScroll = m_table->hasAutoScroll();
        if (comingBack) m_table->setAutoScroll(false);
        if (const int64_t key = keyRow(); key >= 0 && key < m_shownRows)
          m_table->setCurrentIndex(m_model->index(static_cast<int>(key), 0));
        m_table->setAutoScroll(autoScroll);
        reloadRow(keyRow());
        break;
      }
      case QEvent::FocusOut:
        // The keyboard's row is kept for the return, but no row reads as focused once the list is left.
        m_table->setCurrentIndex(QModelIndex());
        reloadRow(keyRow());
        break;
      default:
        break;
    }
  }
  // A row's height follows its width (a failed job's reason wraps), with and without the scroll bar.
  if (m_table && watched == m_table->viewport() && event->type() == QEvent::Resize) U_FitRowHeights();
  if (m_table && watched == m_table->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) {
      const QModelIndex index = m_table->indexAt(mouse->position().toPoint());
      selectionIndexesForProposedSelection(index.isValid() ? index.row() : -1);
      return true;
    }
  }
  return ZRNEmptyTableNoteVC::eventFilter(watched, event);
}

void JobsTableView_Controller::handleJobChange(const Notification& note) {
  if (!m_jobsController || ZRNJobsController::senderOfNotification(note) != m_jobsController) return;
  const int64_t code = ZRNJobsController::codeOfNotification(note);
  if (code == kJobChangeAdded) {
    U_ClearTableSelection();
    updateInterface();
    // The new row goes on top, above a scrolled list: it is brought into view, the keys stay where they are.
    const int64_t row = m_jobsController->indexOfJob(ZRNJobsController::jobOfNotification(note));
    if (m_table && row != kZRNJobNotFound && row < m_shownRows)
      m_table->scrollTo(m_model->index(static_cast<int>(row), 0));
  } else if (code == kJobChangeCancelled || code == kJobChangeDeleted) {
    updateInterface();
  } else if (m_jobsController->indexOfJob(ZRNJobsController::jobOfNotification(note)) != kZRNJobNotFound) {
    updateInterface();
  }
}
