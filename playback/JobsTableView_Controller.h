#pragma once
// The export jobs pane of a playback window: the table of the session's jobs (newest on top, one
// ZRNJobTableCell per row), the note over the empty table, the pane's "Cancel All" and "Clear" buttons,
// and the row commands (cancel, show the file, remove). Clicking a row selects the job's range in the
// player; clicking empty space clears the window's in and out points. The table follows the window's
// jobs controller through "ZRNNotification_JobChange".

#include "common/ZRNDrawnViews.h"
#include "common/ZRNEmptyTableNote.h"
#include "composition/VL_ExportJobRecord.h"
#include "platform/foundation/NotificationCenter.h"

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>

class QAbstractButton;
class QKeyEvent;
class QMenu;
class QTableView;
class VLPlaybackWC;
class ZRNJobTableCell;
class ZRNJobsController;
class ZRN_FramedView;
class JobsTableModel;

// Tags of the pane's buttons (their "tag" property).
inline constexpr int kJobsPaneCancelAllTag = 13101;
inline constexpr int kJobsPaneClearTag = 13102;

class JobsTableView_Controller : public ZRNEmptyTableNoteVC {
  Q_OBJECT
 public:
  static constexpr int kRowHeight = 58;

  // `paneView` holds the buttons tagged 13101 and 13102; `window` is the playback window (the table's
  // window delegate).
  JobsTableView_Controller(QWidget* paneView, QTableView* table, VLPlaybackWC* window);
  ~JobsTableView_Controller() override;

  QString emptyDataString() const override { return QStringLiteral("No Exported Clips"); }

  // Weak references.
  ZRN_FramedView* noDataView() const { return m_noDataView; }
  ZRNJobsController* jobsController() const { return m_jobsController; }
  void setJobsController(ZRNJobsController* controller) { m_jobsController = controller; }
  QAbstractButton* cancelAllButton() const { return m_cancelAllButton; }
  QAbstractButton* clearLogButton() const { return m_clearLogButton; }
  bool hasOldJobs() const;
  bool hasActiveJobs() const;

  void prepareToBeReleased();
  bool canReset() const;
  void U_SelectVideoRangeForRow(int64_t row);
  void selectRangeOnVideo(QWidget* sender);
  void revealResultsInFinder(QWidget* sender);
  void deleteJobRecord(QWidget* sender);
  void cancelJob(QWidget* sender);
  void cancelAllJobs();
  void clearLog();
  void updateInterface();
  void handleSelectNoCell() {}

  // Data source.
  int64_t numberOfRowsInTableView() const;
  std::shared_ptr<VL_ExportJobRecord> objectValueForRow(int64_t row) const;
  int heightOfRow(int64_t) const { return kRowHeight; }
  // Makes the row's cell for the job at that row.
  ZRNJobTableCell* viewForRow(int64_t row);
  // Shows the job at `row` in the cell: badge, background, buttons, progress and texts.
  // keyFocusRow: the row the keyboard is on while the table has the focus (U_KeyFocusRow), else -1.
  void U_ConfigureCell(ZRNJobTableCell* cell, int64_t row, int64_t keyFocusRow);
  int64_t U_KeyFocusRow() const;
  // The cell shown at a row (null when none), and the row of a cell or of a view inside one (-1).
  ZRNJobTableCell* cellAtRow(int64_t row) const;
  int64_t rowForView(const QWidget* view) const;
  void reloadData();
  void reloadRow(int64_t row);

  // The row the keyboard is on (-1 when the list is empty): drawn with a ring while the table has focus.
  int64_t keyRow() const;
  // Keys of the focused table: the arrows, Home, End and the page keys select a row as a click does;
  // Return or Space reveal a finished job's file; Delete (or Backspace) cancels a waiting or running job
  // and removes a finished one; the Menu key and Shift+F10 open the row's context menu. Answers whether
  // the key was one of them.
  bool handleKey(const QKeyEvent* event);
  // Opens the context menu of the key row beside it; answers the menu (closed with the popup).
  QMenu* showKeyRowMenu();

  void U_ClearTableSelection();
  // A click on the table: `clickedRow` is the row under the mouse, -1 for empty space. Answers the row
  // that is selected now, or -1.
  int64_t selectionIndexesForProposedSelection(int64_t clickedRow);
  void tableViewSelectionDidChange();
  void U_ClickedCell(ZRNJobTableCell* cell);

  void handleJobChange(const Notification& note);

  // What the row's tool tips tell, for a listener: the tip of a job that waits or runs, the file of an
  // ended one, or why a job made no file and where the file was to go.
  QString U_RowTip(const VL_ExportJobRecord& job) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QTableView> m_table;
  QPointer<VLPlaybackWC> m_window;
  QPointer<ZRN_FramedView> m_noDataView;
  ZRNJobsController* m_jobsController = nullptr;
  QPointer<QAbstractButton> m_cancelAllButton;
  QPointer<QAbstractButton> m_clearLogButton;
  void U_SelectRow(int64_t row);
  void U_SetKeyRow(int64_t row);
  // Asks the user about an ended job on the next turn (the answer of `ask`); the second button removes
  // the job, any other answer shows its row again.
  void U_AskAboutJob(const std::shared_ptr<VL_ExportJobRecord>& job, std::function<int()> ask);
  QString U_NotExportedTip(const VL_ExportJobRecord& job) const;
  void U_FitRowHeight(int row);
  void U_FitRowHeights();

  JobsTableModel* m_model = nullptr;
  // The keyboard's row follows its job when rows are added above it or removed.
  std::weak_ptr<VL_ExportJobRecord> m_keyJob;
  int64_t m_keyRowHint = -1;
  // The rows the table shows (the model counts the queue's jobs live).
  int m_shownRows = 0;
  NotificationObservation m_jobChangeObservation;
};
