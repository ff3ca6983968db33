#pragma once
// The export queue of one playback window. The job list is the session document's jobsArray (newest at
// index 0); exports run one at a time: when a job is added, finishes or is cancelled, the oldest waiting
// job starts if none is exporting. Every change is announced with "ZRNNotification_JobChange" (object
// nil), whose userInfo names the controller that owns the job, so several windows share the one name.

#include "session/VLDocument.h"
#include "composition/VL_ExportJobRecord.h"
#include "platform/foundation/NotificationCenter.h"

#include <QSet>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

inline const QString kZRNNotification_JobChange = QStringLiteral("ZRNNotification_JobChange");
inline const QString kZRNTheSenderKey = QStringLiteral("ZRNTheSenderKey");
inline const QString kZRNTheJob = QStringLiteral("ZRNTheJob");
inline const QString kZRNJobChangeKey = QStringLiteral("ZRNJobChangeKey");

// The change codes of "ZRNNotification_JobChange".
enum JobChangeCode : int64_t {
  kJobChangeAdded = 1,
  kJobChangeStarted = 2,
  kJobChangeProgress = 3,
  kJobChangeFinished = 4,
  kJobChangeCancelled = 5,
  kJobChangeFailed = 6,
  kJobChangeSessionStopped = 7,
  kJobChangeDeleted = 8,
};

// indexOfJob() of a job that is not in the list.
inline constexpr int64_t kZRNJobNotFound = std::numeric_limits<int64_t>::max();

class ZRNJobsController {
 public:
  explicit ZRNJobsController(const QString& queueName);
  ~ZRNJobsController();
  ZRNJobsController(const ZRNJobsController&) = delete;
  ZRNJobsController& operator=(const ZRNJobsController&) = delete;

  // Posts "ZRNNotification_JobChange" for a job of this controller (also used by the export code).
  static void postJobChange(ZRNJobsController* sender, ZRN_JobRecord* job, int64_t code);
  static ZRNJobsController* senderOfNotification(const Notification& note);
  static ZRN_JobRecord* jobOfNotification(const Notification& note);
  static int64_t codeOfNotification(const Notification& note);

  // Refreshes the application's Dock badge after the queue changed; installed by the application.
  static void setDockTileUpdater(std::function<void()> updater);

  std::shared_ptr<VLDocument> jobsDoc() const { return m_jobsDoc; }
  void setJobsDoc(std::shared_ptr<VLDocument> doc) { m_jobsDoc = std::move(doc); }
  QString queueName() const { return m_queueName; }

  int64_t numberOfJobs() const;
  int64_t numberOfPendingJobs() const;
  int64_t numberOfWaitingJobs() const;
  std::shared_ptr<VL_ExportJobRecord> jobAtIndex(int64_t index) const;
  int64_t indexOfJob(const ZRN_JobRecord* job) const;

  bool hasSingleSelection() const { return m_fSingleSelectionIndex >= 0; }
  int64_t indexOfSelectedJob() const { return m_fSingleSelectionIndex; }
  // Answers the previously selected index.
  int64_t selectJobWithIndex(int64_t index);

  void handleJobChange(const Notification& note);
  void deleteJobAtIndex(int64_t index);
  void deleteJob(const std::shared_ptr<VL_ExportJobRecord>& job);
  void clearAllPendingJobs();
  void cancelJobAtIndex(int64_t index);
  void clearJobLog();
  void addJob(const std::shared_ptr<VL_ExportJobRecord>& job);
  void U_DoExportJob(const std::shared_ptr<VL_ExportJobRecord>& job);

 private:
  QList<std::shared_ptr<VLDocumentJob>>* U_List() const;
  void U_RemoveAt(int64_t index);
  void U_SaveDoc();

  int64_t m_fSingleSelectionIndex = -1;
  std::shared_ptr<VLDocument> m_jobsDoc;
  QString m_queueName;
  NotificationObservation m_observation;
  // Jobs handed to their delegate whose exporting mark has not been set yet (it comes a turn later).
  QSet<const ZRN_JobRecord*> m_startRequested;
  // Lets work queued for later see whether this controller still exists.
  std::shared_ptr<int> m_lifeToken = std::make_shared<int>(0);
};
