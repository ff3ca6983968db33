#pragma once
// The export pane of a playback window for the jobs table's tests, shared by their files.

#include "common/ZRNAppPrefs.h"
#include "composition/VL_ExportJobRecord.h"
#include "playback/JobsTableView_Controller.h"
#include "playback/VLPlaybackWC.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/ZRNJobTableCell.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

// The export pane of a playback window on a 10 s session, with real pass-through exports.
class JobsTable : public PlaybackMovieSuite<10> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(s_movie->isEmpty());
    ZRNAppPrefs().setCaptureFileType(QStringLiteral("video/quicktime"));
    const QString folder = Test_MakeTempDir(QStringLiteral("sessions"));
    package = folder + QStringLiteral("/Cup Final.vlvidcapb");
    makeSession(package);
    window = host.openPlayable(package);
    ASSERT_NE(window, nullptr);
    pane = window->jobsTableController();
    ASSERT_NE(pane, nullptr);
    watch = std::make_unique<PlaybackTestJobWatch>(window->jobsController());
  }

  // Marks a range and asks for its clip; answers the new job.
  std::shared_ptr<VL_ExportJobRecord> requestClip(int64_t in, int64_t out) { return PlaybackTest_RequestClip(window, in, out); }
  bool waitUntilFinished(const std::shared_ptr<VL_ExportJobRecord>& job) {
    return Test_WaitUntil([&] { return job->status() == kJobStatusFinished && pane->cellAtRow(0) && pane->cellAtRow(0)->revealBtn()->isVisibleTo(window); }, 60000);
  }
  // A clip of 1 to 3 s exported and shown finished in the top row; null when it is not.
  std::shared_ptr<VL_ExportJobRecord> finishedClip() {
    auto job = requestClip(1000, 3000);
    return job && waitUntilFinished(job) ? job : nullptr;
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

  QString package;
  PlaybackTestHost host;
  VLPlaybackWC* window = nullptr;
  JobsTableView_Controller* pane = nullptr;
  std::unique_ptr<PlaybackTestJobWatch> watch;
};

// A copy of a finished job in another state, put on top of the list as a reopened session's job is.
inline std::shared_ptr<VL_ExportJobRecord> JobsTest_AddCopy(ZRNJobsController* jobs, const VL_ExportJobRecord& model, int64_t status) {
  auto copy = std::make_shared<VL_ExportJobRecord>(model.dictionaryToSave());
  copy->setStatus(status);
  copy->setCancelled(false);
  copy->setTotalSteps(100);
  copy->setCurrentStep(status == kJobStatusExporting ? 40 : 0);
  jobs->jobsDoc()->jobsArray().prepend(copy);
  return copy;
}
