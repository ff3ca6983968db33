#pragma once
// One row of the export jobs table: the job's type badge, title, description and date, and either the
// progress of a job that waits or runs (with a button to cancel it) or, once it has ended, a button that
// shows its file in the file manager. The row's context menu offers the same commands.

#include "composition/ZRN_JobRecord.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

class JobsTableView_Controller;
class QAction;
class QContextMenuEvent;
class QLabel;
class QMenu;
class QProgressBar;
class QToolButton;
class ZRNRoundedView;
class ZRNTypeBadgeView;

// The layout's identifier of a job row.
inline constexpr const char* kZRNJobCellIdentifier = "ZRNJobCell";

// What a listener is told of a job's row: its title, its description (the duration, or why it failed),
// its state while it waits or runs, and its date.
QString ZRNJobCell_AccessibleText(const ZRN_JobRecord& job);

class ZRNJobTableCell : public QWidget {
  Q_OBJECT
 public:
  explicit ZRNJobTableCell(QWidget* parent = nullptr);
  ~ZRNJobTableCell() override;

  // Outlets.
  ZRNTypeBadgeView* typeBadge() const { return m_typeBadge; }
  QToolButton* revealBtn() const { return m_revealBtn; }
  QToolButton* abortBtn() const { return m_abortBtn; }
  QProgressBar* jobProgress() const { return m_jobProgress; }
  QLabel* progressText() const { return m_progressText; }
  ZRNRoundedView* backgroundView() const { return m_backgroundView; }
  QLabel* titleText() const { return m_titleText; }
  QLabel* descriptionText() const { return m_descriptionText; }
  QLabel* infoText() const { return m_infoText; }
  QLabel* imageView() const { return m_imageView; }

  // Not retained: the pane's controller and the job shown.
  JobsTableView_Controller* tableController() const { return m_tableController; }
  void setTableController(JobsTableView_Controller* controller);
  ZRN_JobRecord* theJob() const { return m_theJob; }
  void setTheJob(ZRN_JobRecord* job);
  // Takes the job's texts again (title, description, date and their tool tips).
  void updateBindings();
  // The status line of a job that waits or runs.
  void setStatusText(const QString& text);
  // The whole text of one of the row's lines. A line shows what fits its width: a text that does not fit
  // ends in "…", a failed job's description wraps over as many lines as it takes. The line's tool tip
  // and accessible description carry the whole text.
  QString wholeText(const QLabel* line) const;
  // The row's height at this width: a failed job's description is shown whole, so its row grows by the
  // lines the description needs beyond the first.
  int rowHeightForWidth(int rowWidth) const;

  void removeFromList();
  void revealInFinderContextual();
  void cancelJobContextual();
  bool validateMenuItem(const QAction* item) const;
  // Menus titled "Job Contextual", owned by the caller.
  QMenu* viewContextualGeneric();
  QMenu* viewContextualWhileRunning();
  // The menu for the job's state: the generic one once it has ended, else the running one.
  QMenu* menuForEvent(QContextMenuEvent* event);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Line {
    QString text;
    QString tip;
  };
  void awakeFromNib();
  void U_FitLinesInRow();
  void U_SetLine(QLabel* line, const QString& text, const QString& tip);
  // Fits the line's whole text to its width (or to `width` when one is given).
  void U_FitLine(QLabel* line, int width = -1);
  bool U_WrapsDescription() const;
  int U_TextColumnWidth(int rowWidth) const;
  QAction* U_MenuItem(QMenu* menu, const char* title, const char* name, void (ZRNJobTableCell::*operation)());

  ZRNTypeBadgeView* m_typeBadge = nullptr;
  QToolButton* m_revealBtn = nullptr;
  QToolButton* m_abortBtn = nullptr;
  QProgressBar* m_jobProgress = nullptr;
  QLabel* m_progressText = nullptr;
  ZRNRoundedView* m_backgroundView = nullptr;
  QLabel* m_titleText = nullptr;
  QLabel* m_descriptionText = nullptr;
  QLabel* m_infoText = nullptr;
  QLabel* m_imageView = nullptr;
  QHash<const QLabel*, Line> m_lines;
  QPointer<JobsTableView_Controller> m_tableController;
  QPointer<ZRN_JobRecord> m_theJob;
};
