#include "composition/ZRNJobsController.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"

#include <cstdio>
#include <memory>

namespace {

std::function<void()>& U_DockTileUpdater() {
  static std::function<void()> updater;
  return updater;
}

// A few queue lines go to the console, not to the log file.
void U_Console(const QString& line) {
  std::fprintf(stderr, "%s\n", line.toUtf8().constData());
  std::fflush(stderr);
}

// The user's cancel: the job is marked, and an export it runs is stopped now, not at its next progress
// check, so that it cannot complete and be written after the user cancelled it.
void U_CancelJob(VLDocumentJob* job) {
  if (auto* record = dynamic_cast<ZRN_BaseJobRecord*>(job)) record->setCancelled(true);
  if (auto* exportJob = dynamic_cast<VL_ExportJobRecord*>(job))
    if (const AssetExportSessionRef session = exportJob->exportSession()) session->cancelExport();
}

}  // namespace

ZRNJobsController::ZRNJobsController(const QString& queueName) : m_queueName(queueName) {
  // Exports are always serialised, so no queue of our own is made for running jobs side by side.
  VL_ExportJobRecord::registerWithDocument();
  NotificationCenter& center = NotificationCenter::defaultCenter();
  m_observation = NotificationObservation(
      center, center.addObserver(kZRNNotification_JobChange, nullptr, [this](const Notification& note) { handleJobChange(note); }));
}

ZRNJobsController::~ZRNJobsController() {
  m_observation.reset();
  m_jobsDoc.reset();
}

void ZRNJobsController::postJobChange(ZRNJobsController* sender, ZRN_JobRecord* job, int64_t code) {
  QVariantMap info;
  info.insert(kZRNTheSenderKey, QVariant::fromValue(static_cast<void*>(sender)));
  info.insert(kZRNTheJob, QVariant::fromValue(static_cast<QObject*>(job)));
  info.insert(kZRNJobChangeKey, QVariant::fromValue<qint64>(code));
  NotificationCenter::defaultCenter().post(kZRNNotification_JobChange, nullptr, info);
}

ZRNJobsController* ZRNJobsController::senderOfNotification(const Notification& note) {
  return static_cast<ZRNJobsController*>(note.userInfo.value(kZRNTheSenderKey).value<void*>());
}

ZRN_JobRecord* ZRNJobsController::jobOfNotification(const Notification& note) {
  return qobject_cast<ZRN_JobRecord*>(note.userInfo.value(kZRNTheJob).value<QObject*>());
}

int64_t ZRNJobsController::codeOfNotification(const Notification& note) {
  return note.userInfo.value(kZRNJobChangeKey).toLongLong();
}

void ZRNJobsController::setDockTileUpdater(std::function<void()> updater) { U_DockTileUpdater() = std::move(updater); }

QList<std::shared_ptr<VLDocumentJob>>* ZRNJobsController::U_List() const {
  return m_jobsDoc ? &m_jobsDoc->jobsArray() : nullptr;
}

int64_t ZRNJobsController::numberOfJobs() const { return U_List() ? U_List()->size() : 0; }
int64_t ZRNJobsController::numberOfPendingJobs() const { return m_jobsDoc ? m_jobsDoc->numberOfPendingJobs() : 0; }
int64_t ZRNJobsController::numberOfWaitingJobs() const { return m_jobsDoc ? m_jobsDoc->numberOfWaitingJobs() : 0; }

std::shared_ptr<VL_ExportJobRecord> ZRNJobsController::jobAtIndex(int64_t index) const {
  auto* list = U_List();
  if (!list || index < 0 || index >= list->size()) return nullptr;
  return std::dynamic_pointer_cast<VL_ExportJobRecord>(list->at(index));
}

int64_t ZRNJobsController::indexOfJob(const ZRN_JobRecord* job) const {
  auto* list = U_List();
  if (!list || !job) return kZRNJobNotFound;
  for (qsizetype i = 0; i < list->size(); ++i)
    if (list->at(i).get() == static_cast<const VLDocumentJob*>(job)) return i;
  return kZRNJobNotFound;
}

int64_t ZRNJobsController::selectJobWithIndex(int64_t index) {
  const int64_t previous = m_fSingleSelectionIndex;
  if (previous >= 0)
    if (auto job = jobAtIndex(previous)) job->setShowSelected(false);
  m_fSingleSelectionIndex = index;
  if (index >= 0)
    if (auto job = jobAtIndex(index)) job->setShowSelected(true);
  return previous;
}

void ZRNJobsController::U_RemoveAt(int64_t index) {
  U_List()->removeAt(index);
  if (m_fSingleSelectionIndex > index)
    --m_fSingleSelectionIndex;
  else if (m_fSingleSelectionIndex == index)
    m_fSingleSelectionIndex = -1;
}

void ZRNJobsController::U_SaveDoc() {
  if (m_jobsDoc) m_jobsDoc->saveDoc();
}

void ZRNJobsController::handleJobChange(const Notification& note) {
  if (senderOfNotification(note) != this && note.object != this) return;
  // The job list is the document's, which only the main thread changes.
  Dispatch_AssertMainThread(__func__);
  const int64_t code = codeOfNotification(note);
  if (code == kJobChangeAdded || code == kJobChangeFinished || code == kJobChangeCancelled) {
    if (m_jobsDoc) {
      const int64_t waiting = m_jobsDoc->numberOfWaitingJobs();
      const int64_t pending = m_jobsDoc->numberOfPendingJobs();
      U_Console(Fmt("  pending: %ld, waiting: %ld", pending, waiting));
      if (waiting >= 1 && pending <= waiting) {
        U_Console(Fmt("exporting: %ld", waiting - 1));
        auto oldest = std::dynamic_pointer_cast<VL_ExportJobRecord>(m_jobsDoc->waitingJobs().at(waiting - 1));
        // A job whose export was started in this turn still reads as waiting: never start it twice.
        if (oldest && !m_startRequested.contains(oldest.get())) U_DoExportJob(oldest);
      }
    }
    if (auto& updater = U_DockTileUpdater()) updater();
    return;
  }
  if (code == kJobChangeSessionStopped) {
    auto* job = qobject_cast<VL_ExportJobRecord*>(jobOfNotification(note));
    if (!job) return;
    const bool cancelled = job->cancelled();
    job->setStatus(cancelled ? kJobStatusCancelled : kJobStatusFinished);
    job->setExportSession(nullptr);
    job->setTitle(job->defaultClipTitle());
    postJobChange(this, job, cancelled ? kJobChangeCancelled : kJobChangeFinished);
    U_SaveDoc();
  }
}

void ZRNJobsController::deleteJobAtIndex(int64_t index) { deleteJob(jobAtIndex(index)); }

void ZRNJobsController::deleteJob(const std::shared_ptr<VL_ExportJobRecord>& job) {
  // Keep the job alive for the notification even when the list held its last reference.
  std::shared_ptr<VL_ExportJobRecord> keep = job;
  const int64_t index = indexOfJob(job.get());
  if (index != kZRNJobNotFound) U_RemoveAt(index);
  U_SaveDoc();
  postJobChange(this, job.get(), kJobChangeDeleted);
}

void ZRNJobsController::clearAllPendingJobs() {
  if (!m_jobsDoc || m_jobsDoc->numberOfPendingJobs() == 0) return;
  bool removed = false;
  for (int64_t i = numberOfJobs() - 1; i >= 0; --i) {
    auto job = U_List()->at(i);
    if (job->status() == kJobStatusFinished) continue;
    U_CancelJob(job.get());
    U_RemoveAt(i);
    removed = true;
  }
  if (removed) U_SaveDoc();
}

void ZRNJobsController::cancelJobAtIndex(int64_t index) {
  std::shared_ptr<VL_ExportJobRecord> job = jobAtIndex(index);
  if (!job) return;
  U_CancelJob(job.get());
  if (ZRNJobDelegate* delegate = job->delegate())
    if (delegate->respondsToJobAbort()) delegate->jobAbort(job.get());
  const int64_t at = indexOfJob(job.get());
  if (at != kZRNJobNotFound) U_RemoveAt(at);
  U_SaveDoc();
  postJobChange(this, job.get(), kJobChangeCancelled);
}

void ZRNJobsController::clearJobLog() {
  if (!m_jobsDoc || m_jobsDoc->numberOfFinishedJobs() == 0) return;
  bool removed = false;
  for (int64_t i = numberOfJobs() - 1; i >= 0; --i) {
    if (U_List()->at(i)->status() != kJobStatusFinished) continue;
    U_RemoveAt(i);
    removed = true;
  }
  if (removed) U_SaveDoc();
}

void ZRNJobsController::addJob(const std::shared_ptr<VL_ExportJobRecord>& job) {
  Dispatch_AssertMainThread(__func__);
  if (!job || !U_List()) return;
  U_List()->insert(0, job);
  if (m_fSingleSelectionIndex >= 0) ++m_fSingleSelectionIndex;
  postJobChange(this, job.get(), kJobChangeAdded);
}

void ZRNJobsController::U_DoExportJob(const std::shared_ptr<VL_ExportJobRecord>& job) {
  const ExportSettingsRef settings = job->exportSettings();
  if (settings && settings->value(kExportSettingsUserCancelled).toBool()) return;
  // Marked exporting on the next main-queue turn: the delegate starts its export first.
  std::weak_ptr<VL_ExportJobRecord> weakJob = job;
  std::weak_ptr<int> alive = m_lifeToken;
  ZRNJobsController* self = this;
  const ZRN_JobRecord* started = job.get();
  m_startRequested.insert(started);
  Dispatch_MainAsync([weakJob, alive, self, started] {
    if (alive.expired()) return;
    self->m_startRequested.remove(started);
    auto job = weakJob.lock();
    if (!job) return;
    job->setStatus(kJobStatusExporting);
    postJobChange(self, job.get(), kJobChangeStarted);
  });
  if (ZRNJobDelegate* delegate = job->delegate())
    if (delegate->respondsToDoTheJob()) delegate->doTheJob(job.get());
}
