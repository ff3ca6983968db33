#include "composition/ZRNJobsController.h"

#include "support/TestSupport.h"

#include <QObject>

#include <gtest/gtest.h>

namespace {

// The window side of a queue: runs jobs (records which were started) and saves the document.
class TestWindow : public QObject, public ZRNJobDelegate, public VLDocumentWindowController {
 public:
  bool respondsToDoTheJob() const override { return true; }
  void doTheJob(ZRN_JobRecord* job) override { started.push_back(job); }
  bool respondsToJobAbort() const override { return true; }
  void jobAbort(ZRN_JobRecord* job) override { aborted.push_back(job); }
  void updateVLDoc() override { ++saves; }

  std::vector<ZRN_JobRecord*> started;
  std::vector<ZRN_JobRecord*> aborted;
  int saves = 0;
};

struct Posted {
  ZRN_JobRecord* job;
  int64_t code;
  bool operator==(const Posted&) const = default;
};

class JobsQueue : public ::testing::Test {
 public:
  void SetUp() override {
    // Registered before the controller, so codes are seen in the order they are posted.
    NotificationCenter& center = NotificationCenter::defaultCenter();
    recorder = NotificationObservation(center, center.addObserver(kZRNNotification_JobChange, nullptr, [this](const Notification& n) {
      if (ZRNJobsController::senderOfNotification(n) == controller.get())
        posted.push_back({ZRNJobsController::jobOfNotification(n), ZRNJobsController::codeOfNotification(n)});
    }));
    controller = std::make_unique<ZRNJobsController>(QStringLiteral("org.velmora.Velmora.exportJobQ"));
    doc = std::make_shared<VLDocument>();
    doc->setWindowController(&window);
    controller->setJobsDoc(doc);
  }
  void TearDown() override {
    Test_ProcessEvents(0);
    controller.reset();
  }

  std::shared_ptr<VL_ExportJobRecord> make(int64_t type, bool userCancelled = false) {
    auto job = std::make_shared<VL_ExportJobRecord>(
        std::make_shared<QVariantMap>(QVariantMap{{"activityType", QVariant::fromValue<qint64>(type)}, {"userCancelled", userCancelled}}));
    job->setDelegate(&window);
    return job;
  }
  std::shared_ptr<VL_ExportJobRecord> add(int64_t type = 102) {
    auto job = make(type);
    controller->addJob(job);
    Test_ProcessEvents(0);  // the started mark comes on the next main-queue turn
    return job;
  }
  // The export code's report that a job's export session stopped.
  void sessionStopped(const std::shared_ptr<VL_ExportJobRecord>& job) {
    ZRNJobsController::postJobChange(controller.get(), job.get(), kJobChangeSessionStopped);
    Test_ProcessEvents(0);
  }

  TestWindow window;
  std::shared_ptr<VLDocument> doc;
  std::unique_ptr<ZRNJobsController> controller;
  NotificationObservation recorder;
  std::vector<Posted> posted;
};

TEST_F(JobsQueue, OneExportAtATimeOldestWaitingFirst) {
  auto first = add();
  EXPECT_EQ(window.started, (std::vector<ZRN_JobRecord*>{first.get()}));
  EXPECT_EQ(first->status(), kJobStatusExporting);
  auto second = add();
  auto third = add(101);
  // One exporting, two waiting: adding started nothing (pending 3 > waiting 2).
  EXPECT_EQ(window.started.size(), 1u);
  EXPECT_EQ(controller->numberOfWaitingJobs(), 2);
  EXPECT_EQ(controller->numberOfPendingJobs(), 3);
  EXPECT_EQ(controller->jobAtIndex(0), third);

  first->setTargetPath(QStringLiteral("/clips/VLClip_0.05.mp4"));
  sessionStopped(first);
  EXPECT_EQ(first->status(), kJobStatusFinished);
  EXPECT_EQ(first->title(), QStringLiteral("VLClip_0.05"));
  EXPECT_EQ(window.started, (std::vector<ZRN_JobRecord*>{first.get(), second.get()}));
  EXPECT_EQ(third->status(), kJobStatusWaiting);
  EXPECT_EQ(window.saves, 1);

  const std::vector<Posted> expected{{first.get(), 1}, {first.get(), 2}, {second.get(), 1}, {third.get(), 1},
                                     {first.get(), 7}, {first.get(), 4}, {second.get(), 2}};
  EXPECT_EQ(posted, expected);
}

TEST_F(JobsQueue, CancellingTheExportingJobStartsTheNextAndALateStopEndsItCancelled) {
  auto first = add();
  auto second = add();
  controller->cancelJobAtIndex(controller->indexOfJob(first.get()));
  Test_ProcessEvents(0);
  EXPECT_TRUE(first->cancelled());
  EXPECT_EQ(window.aborted, (std::vector<ZRN_JobRecord*>{first.get()}));
  EXPECT_EQ(controller->indexOfJob(first.get()), kZRNJobNotFound);
  EXPECT_EQ(window.started, (std::vector<ZRN_JobRecord*>{first.get(), second.get()}));

  // The export had already stopped: the stop report arrives and ends the job cancelled.
  posted.clear();
  sessionStopped(first);
  EXPECT_EQ(first->status(), kJobStatusCancelled);
  EXPECT_EQ(posted, (std::vector<Posted>{{first.get(), 7}, {first.get(), 5}}));
  EXPECT_EQ(window.started.size(), 2u);  // second is still exporting
}

TEST_F(JobsQueue, SelectionFollowsAddsAndRemovals) {
  struct Case {
    const char* name;
    int64_t selected;
    std::function<void(JobsQueue&)> action;
    int64_t expected;
  } const cases[] = {
      {"delete the selected row", 1, [](JobsQueue& q) { q.controller->deleteJobAtIndex(1); }, -1},
      {"delete a row above", 2, [](JobsQueue& q) { q.controller->deleteJobAtIndex(0); }, 1},
      {"delete a row below", 0, [](JobsQueue& q) { q.controller->deleteJobAtIndex(2); }, 0},
      {"add a job", 1, [](JobsQueue& q) { q.add(); }, 2},
      {"cancel above", 2, [](JobsQueue& q) { q.controller->cancelJobAtIndex(1); }, 1},
      {"nothing selected stays so", -1, [](JobsQueue& q) { q.add(); }, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    controller->clearAllPendingJobs();
    doc->jobsArray().clear();
    controller->selectJobWithIndex(-1);
    add();
    add();
    add();
    controller->selectJobWithIndex(c.selected);
    auto selectedJob = c.selected >= 0 ? controller->jobAtIndex(c.selected) : nullptr;
    c.action(*this);
    EXPECT_EQ(controller->indexOfSelectedJob(), c.expected);
    if (c.expected >= 0) {
      EXPECT_EQ(controller->jobAtIndex(c.expected), selectedJob);
    }
  }
  // Selecting another row clears the old row's mark.
  controller->selectJobWithIndex(0);
  EXPECT_EQ(controller->selectJobWithIndex(1), 0);
  EXPECT_FALSE(controller->jobAtIndex(0)->showSelected());
  EXPECT_TRUE(controller->jobAtIndex(1)->showSelected());
}

TEST_F(JobsQueue, ClearingAndDeletingJobs) {
  auto first = add();
  auto second = add();
  sessionStopped(first);  // first finished, second exporting
  auto third = add();     // waiting
  const int savesBefore = window.saves;
  posted.clear();

  controller->clearJobLog();
  EXPECT_EQ(controller->indexOfJob(first.get()), kZRNJobNotFound);
  EXPECT_EQ(window.saves, savesBefore + 1);

  controller->clearAllPendingJobs();
  EXPECT_EQ(controller->numberOfJobs(), 0);
  EXPECT_TRUE(second->cancelled());
  EXPECT_TRUE(third->cancelled());
  EXPECT_EQ(window.saves, savesBefore + 2);
  EXPECT_TRUE(posted.empty());
  EXPECT_TRUE(window.aborted.empty());

  // Deleting a job posts code 8 and saves.
  auto fourth = add();
  posted.clear();
  controller->deleteJob(fourth);
  EXPECT_EQ(controller->numberOfJobs(), 0);
  EXPECT_EQ(window.saves, savesBefore + 3);
  EXPECT_EQ(posted, (std::vector<Posted>{{fourth.get(), 8}}));
}

TEST_F(JobsQueue, IgnoresOtherControllersAndUserCancelledJobs) {
  ZRNJobsController other(QStringLiteral("other"));
  auto otherDoc = std::make_shared<VLDocument>();
  other.setJobsDoc(otherDoc);
  auto foreign = make(101);
  // A job of ours reported by the other window's controller changes nothing here.
  doc->jobsArray().insert(0, foreign);
  ZRNJobsController::postJobChange(&other, foreign.get(), kJobChangeAdded);
  ZRNJobsController::postJobChange(&other, foreign.get(), kJobChangeSessionStopped);
  Test_ProcessEvents(0);
  EXPECT_TRUE(window.started.empty());
  EXPECT_EQ(window.saves, 0);  // the stop was the other controller's to apply
  EXPECT_TRUE(posted.empty());
  doc->jobsArray().clear();

  auto job = make(102, true);
  controller->addJob(job);
  Test_ProcessEvents(0);
  EXPECT_TRUE(window.started.empty());
  EXPECT_EQ(job->status(), kJobStatusWaiting);
}

TEST_F(JobsQueue, RestoredUnfinishedJobsAreNeverStarted) {
  VL_ExportJobRecord waiting(std::make_shared<QVariantMap>(QVariantMap{{"activityType", 101}}));
  VL_ExportJobRecord exporting(std::make_shared<QVariantMap>(QVariantMap{{"activityType", 102}}));
  exporting.setStatus(kJobStatusExporting);
  doc->loadJobsArray({waiting.dictionaryToSave(), exporting.dictionaryToSave()});
  EXPECT_EQ(controller->numberOfPendingJobs(), 0);
  auto fresh = add();
  EXPECT_EQ(window.started, (std::vector<ZRN_JobRecord*>{fresh.get()}));
  EXPECT_EQ(controller->jobAtIndex(1)->status(), kJobStatusCancelled);
  EXPECT_EQ(controller->jobAtIndex(2)->status(), kJobStatusCancelled);
}

TEST_F(JobsQueue, AJobIsNeverStartedTwiceBeforeItIsMarkedExporting) {
  // Two changes in one main-queue turn: the first job still reads as waiting when the second arrives.
  auto first = make(101);
  auto second = make(102);
  controller->addJob(first);
  controller->addJob(second);
  EXPECT_EQ(window.started, (std::vector<ZRN_JobRecord*>{first.get()}));
  Test_ProcessEvents(0);
  EXPECT_EQ(first->status(), kJobStatusExporting);
  EXPECT_EQ(second->status(), kJobStatusWaiting);
  EXPECT_EQ(window.started.size(), 1u);
}

}  // namespace
