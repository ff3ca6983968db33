// The export history by keyboard: the row the keyboard is on, the keys of the focused table and the
// row's context menu opened from the keyboard.

#include "playback/JobsTableView_Controller.h"

#include "composition/ZRNJobsController.h"
#include "playback/ZRNJobTableCell.h"

#include <QKeyEvent>
#include <QMenu>
#include <QTableView>
#include <QToolButton>

#include <algorithm>

int64_t JobsTableView_Controller::keyRow() const {
  const int64_t rows = numberOfRowsInTableView();
  if (rows == 0 || !m_jobsController) return -1;
  if (auto job = m_keyJob.lock()) {
    const int64_t index = m_jobsController->indexOfJob(job.get());
    if (index != kZRNJobNotFound) return index;
  }
  // The job is gone (removed from the list): the row that took its place.
  return std::clamp<int64_t>(m_keyRowHint, 0, rows - 1);
}

void JobsTableView_Controller::U_SetKeyRow(int64_t row) {
  const int64_t previous = keyRow();
  m_keyJob = objectValueForRow(row);
  m_keyRowHint = row;
  if (previous != row) reloadRow(previous);
  reloadRow(row);
  if (m_table && row >= 0 && row < m_shownRows) {
    // The table's current index follows, so that the accessibility tree announces the row.
    const QModelIndex index = m_table->model()->index(static_cast<int>(row), 0);
    m_table->setCurrentIndex(index);
    m_table->scrollTo(index);
  }
}

bool JobsTableView_Controller::handleKey(const QKeyEvent* event) {
  const int64_t rows = numberOfRowsInTableView();
  const int64_t row = keyRow();
  const int page = m_table ? std::max(1, m_table->viewport()->height() / kRowHeight) : 1;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  int64_t target = -2;
  switch (event->key()) {
    case Qt::Key_Up: target = row - 1; break;
    case Qt::Key_Down: target = row + 1; break;
    case Qt::Key_PageUp: target = row - page; break;
    case Qt::Key_PageDown: target = row + page; break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = rows - 1; break;
    default: break;
  }
  if (target != -2) {
    if (modifiers != Qt::NoModifier) return false;
    if (rows == 0 || !m_jobsController) return true;
    target = std::clamp<int64_t>(target, 0, rows - 1);
    // The selection follows the keyboard, as a click would make it; the focus stays in the table.
    U_SetKeyRow(target);
    U_SelectRow(target);
    if (m_table) m_table->viewport()->update();
    return true;
  }
  const bool menuKey = event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
  if (menuKey) {
    showKeyRowMenu();
    return true;
  }
  if (modifiers != Qt::NoModifier) return false;
  ZRNJobTableCell* cell = cellAtRow(row);
  auto job = objectValueForRow(row);
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (cell && job && job->isFinished()) revealResultsInFinder(cell->revealBtn());
      return true;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
      if (cell && job) {
        if (job->isFinished())
          deleteJobRecord(cell->revealBtn());
        else
          cancelJob(cell->abortBtn());
      }
      return true;
    default:
      return false;
  }
}

QMenu* JobsTableView_Controller::showKeyRowMenu() {
  ZRNJobTableCell* cell = cellAtRow(keyRow());
  if (!cell) return nullptr;
  QMenu* menu = cell->menuForEvent(nullptr);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // Beside the row's title, where the eye already is.
  menu->popup(cell->mapToGlobal(QPoint(cell->width() / 3, cell->height() / 2)));
  return menu;
}
