// The playback window's exports: the requests (the in-out clip, the moment around the player's time,
// the whole session movie chosen in a save panel) become jobs of the window's queue; the window runs
// each job as its delegate, watches its progress and copies the result to its destination.

#include "playback/VLPlaybackWC.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "common/ZRNTimeFormatting.h"
#include "session/ZRNTagRecord.h"
#include "composition/VL_ExportJobRecord.h"
#include "composition/ZRNAVCaptureProject.h"
#include "composition/ZRNJobsController.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/gui/DialogRunner.h"
#include "platform/media/player/Player.h"
#include "platform/media/player/PlayerItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSet>

#include <chrono>

namespace {

constexpr std::chrono::milliseconds kProgressCheckInterval{660};

// Temporary export files handed to running exports of any window. The export creates its file only
// when it ends, so a free name alone would let two windows exporting at once pick the same file.
QSet<QString>& U_TemporaryNamesInUse() {
  static QSet<QString> names;
  return names;
}

QUrl U_ReserveTemporaryExportURL(const QString& base, const QString& extension) {
  for (long n = 0;; ++n) {
    const QUrl url = File_TempFileURL(n == 0 ? base : Fmt("%@_%ld", base, n), extension, false);
    if (!U_TemporaryNamesInUse().contains(url.toLocalFile())) {
      U_TemporaryNamesInUse().insert(url.toLocalFile());
      return url;
    }
  }
}

// Removes an export's temporary file (nothing when it was not written).
void U_RemoveTemporaryExportFile(const QString& path) {
  if (!path.isEmpty() && QFileInfo(path).isFile() && !QFile::remove(path))
    ZRNLogger_Log(QStringLiteral("ERROR at movie removing 2: %@"), path);
}

int64_t U_SettingsInteger(const ExportSettingsRef& settings, const QString& key) {
  int64_t value = 0;
  if (settings) Settings_ReadInteger(settings->value(key), &value);
  return value;
}

}  // namespace

// Export requests

void VLPlaybackWC::exportInOutClip() {
  U_PostOnMain([this] {
    const int64_t inMillis = m_marks.inTimeMillis();
    const int64_t outMillis = m_marks.outTimeMillis();
    if (inMillis < 0 && outMillis < 0) return;
    const int64_t start = inMillis > 0 ? inMillis : 0;
    // The movie's end is truncated, not rounded: 60000.4 ms gives 60000.
    const int64_t end = outMillis >= 0 ? outMillis : static_cast<int64_t>(totalDuration() * 1000.0);
    auto settings = std::make_shared<QVariantMap>();
    settings->insert(kExportSettingsActivityType, QVariant::fromValue<qint64>(kExportActivityManualClip));
    settings->insert(kExportSettingsStartTimeMillis, QVariant::fromValue<qint64>(start));
    settings->insert(kExportSettingsDurationMillis, QVariant::fromValue<qint64>(end - start));
    U_AddNewJobWithParams(settings);
  });
}

void VLPlaybackWC::exportMoment() {
  U_PostOnMain([this] {
    auto item = m_player->currentItem();
    const MediaTime now = item ? item->currentTime() : kMediaTimeZero;
    const qint64 beforeMillis = Prefs_Shared().momentMillisBefore();
    const qint64 afterMillis = Prefs_Shared().momentMillisAfter();
    const MediaTime before = U_MillisTime(beforeMillis);
    const MediaTime start = now < before ? kMediaTimeZero : now - before;
    MediaTime end = now + U_MillisTime(afterMillis);
    const int64_t itemEnd = item ? U_MillisOfSeconds(MediaTimeGetSeconds(item->duration())) : 0;
    if (U_MillisTime(itemEnd) < end) end = U_MillisTime(itemEnd);
    const MediaTime length = end - start;
    auto settings = std::make_shared<QVariantMap>();
    settings->insert(kExportSettingsActivityType, QVariant::fromValue<qint64>(kExportActivityAutomaticClip));
    settings->insert(kExportSettingsStartTimeMillis, QVariant::fromValue<qint64>(U_MillisOfSeconds(MediaTimeGetSeconds(start))));
    settings->insert(kExportSettingsDurationMillis, QVariant::fromValue<qint64>(U_MillisOfSeconds(MediaTimeGetSeconds(length))));
    U_AddNewJobWithParams(settings);
  });
}

void VLPlaybackWC::exportAll() {
  if (m_exportSavePanel) return;
  const QString extension = U_MovieExtension();
  auto* panel = new QFileDialog(this, QStringLiteral("Export session to movie"));
  panel->setObjectName(QStringLiteral("exportSavePanel"));
  panel->setOption(QFileDialog::DontUseNativeDialog, true);
  panel->setAcceptMode(QFileDialog::AcceptSave);
  panel->setFileMode(QFileDialog::AnyFile);
  panel->setLabelText(QFileDialog::Accept, QCoreApplication::translate("Localizable", "Export"));
  panel->setNameFilter(Fmt("Movie (*.%@)", extension));
  panel->setDefaultSuffix(extension);
  const QString folder = Prefs_Shared().saveTargetDirectory().toLocalFile();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) panel->setDirectory(folder);
  panel->selectFile(Fmt("%@.%@", QFileInfo(U_PackagePath()).completeBaseName(), extension));
  panel->setWindowModality(Qt::WindowModal);
  m_exportSavePanel = panel;
  connect(panel, &QFileDialog::finished, this, [this, panel, extension](int result) {
    const QStringList chosen = panel->selectedFiles();
    panel->deleteLater();
    if (result != QDialog::Accepted || chosen.isEmpty()) {
      Gui_HandleDialogResult(panel, this, nullptr);
      return;
    }
    const QFileInfo info(chosen.first());
    const QString path = Fmt("%@/%@.%@", info.absolutePath(), info.completeBaseName(), extension);
    // The panel's key (Return in its name field, perhaps over its completion list) is still being
    // handled: the old file goes and the job comes once it has returned.
    Gui_HandleDialogResult(panel, this, [this, path, folder = info.absolutePath()] {
      QFile::remove(path);
      Prefs_Shared().setSaveTargetDirectory(QUrl::fromLocalFile(folder));
      exportSessionMovieΤο(path);
    });
  });
  panel->open();
}

void VLPlaybackWC::exportSessionMovieΤο(const QString& path) {
  auto settings = std::make_shared<QVariantMap>();
  settings->insert(kExportSettingsActivityType, QVariant::fromValue<qint64>(kExportActivitySessionMovie));
  settings->insert(kExportSettingsStartTimeMillis, 0.0);
  settings->insert(kExportSettingsDurationMillis, QVariant::fromValue<qint64>(U_MillisOfSeconds(totalDuration())));
  settings->insert(kExportSettingsTargetPath, path);
  U_AddNewJobWithParams(settings);
}

void VLPlaybackWC::U_AddNewJobWithParams(const ExportSettingsRef& settings) {
  auto job = std::make_shared<VL_ExportJobRecord>(settings);
  job->setDelegate(this);
  if (auto project = job->badgeOverlayProject()) {
    if (auto doc = vlDocument()) {
      project->setVideoSize(doc->frameSize());
      project->setUseAudio(doc->captureAudio());
      project->setStartMillisToClip(doc->initialMillisToClip());
    }
    project->setSegmentAssetsArray({m_capturedMovieAsset});
    job->setExportSession(project->makeExportable(QString::fromLatin1(
        job->showBadge() ? AVAssetExportPresetHighestQuality : AVAssetExportPresetPassthrough)));
  }
  m_jobsController->addJob(job);
}

// Running exports

std::shared_ptr<VL_ExportJobRecord> VLPlaybackWC::U_SharedJob(ZRN_JobRecord* job) const {
  const int64_t index = m_jobsController->indexOfJob(job);
  return index == kZRNJobNotFound ? nullptr : m_jobsController->jobAtIndex(index);
}

void VLPlaybackWC::doTheJob(ZRN_JobRecord* job) {
  if (!job) return;
  if (U_SettingsInteger(job->exportSettings(), kExportSettingsActivityType) == kExportActivitySessionMovie)
    exportMovie_DoJob(job);
  else
    exportClip_DoJob(job);
}

void VLPlaybackWC::U_JobFailed(ZRN_JobRecord* job, const QString& reason, const QString& destination) {
  // The history says how the export ended and where its file was to go, and nothing of it stays in the
  // temporary folder.
  auto* exportJob = qobject_cast<VL_ExportJobRecord*>(job);
  if (!exportJob) return;
  exportJob->setFailureReason(reason);
  if (exportJob->activityType() != kExportActivitySessionMovie)
    exportJob->setIntendedPath(destination.isEmpty() ? intendedPathOfJob(*exportJob) : destination);
  if (const auto session = exportJob->exportSession()) U_RemoveTemporaryExportFile(session->outputURL().toLocalFile());
}

void VLPlaybackWC::U_EndJobWithoutExport(ZRN_JobRecord* job, const QString& reason) {
  U_JobFailed(job, reason);
  // Posted after the queue marks the job exporting, so the end (code 7) is the last word: the job
  // finishes without a file and the next waiting job starts.
  auto shared = U_SharedJob(job);
  QPointer<VLPlaybackWC> guard(this);
  Dispatch_MainAsync([guard, shared] {
    if (!guard || !shared) return;
    ZRNJobsController::postJobChange(guard->m_jobsController.get(), shared.get(), kJobChangeFailed);
    ZRNJobsController::postJobChange(guard->m_jobsController.get(), shared.get(), kJobChangeSessionStopped);
  });
}

void VLPlaybackWC::exportClip_DoJob(ZRN_JobRecord* job) {
  const ExportSettingsRef settings = job->exportSettings();
  const int64_t startMillis = U_SettingsInteger(settings, kExportSettingsStartTimeMillis);
  const int64_t lengthMillis = U_SettingsInteger(settings, kExportSettingsDurationMillis);
  if (U_MillisTime(lengthMillis) <= MediaTimeMake(1000, 1000)) {
    ZRNLogger_Log(QStringLiteral("ATT: clip of %ld ms at %ld ms is too short to export"), static_cast<long>(lengthMillis),
                  static_cast<long>(startMillis));
    U_EndJobWithoutExport(job, QStringLiteral("the clip is 1 s long or shorter"));
    return;
  }
  if (auto* exportJob = qobject_cast<VL_ExportJobRecord*>(job))
    if (auto session = exportJob->exportSession())
      session->setTimeRange(MediaTimeRangeMake(U_MillisTime(startMillis), U_MillisTime(lengthMillis)));
  U_StartExport(job, false);
}

void VLPlaybackWC::exportMovie_DoJob(ZRN_JobRecord* job) { U_StartExport(job, true); }

void VLPlaybackWC::U_StartExport(ZRN_JobRecord* job, bool isSession) {
  auto shared = U_SharedJob(job);
  AssetExportSessionRef session = shared ? shared->exportSession() : nullptr;
  if (!session) {
    ZRNLogger_Log(QStringLiteral("ERROR: no export session for %@"), job->title());
    U_EndJobWithoutExport(job, QStringLiteral("the recording cannot be exported"));
    return;
  }
  session->setOutputURL(U_ReserveTemporaryExportURL(isSession ? QStringLiteral("ZrnVLMovie") : QStringLiteral("ZrnVLClip"),
                                                    U_MovieExtension()));
  ZRNLogger_Log(QStringLiteral("session outputURL: %@"), session->outputURL().toLocalFile());
  session->setOutputFileType(Prefs_Shared().captureFileType());
  auto run = std::make_shared<ExportRun>();
  run->job = shared;
  run->session = session;
  run->isSession = isSession;
  run->window = this;
  session->exportAsynchronouslyWithCompletionHandler([run] { Dispatch_MainAsync([run] { U_ExportEnded(run); }); });
  monitorExportProgressFor(run);
}

void VLPlaybackWC::U_ExportEnded(const std::shared_ptr<ExportRun>& run) {
  const QString temporary = run->session->outputURL().toLocalFile();
  if (run->window)
    run->window->U_ExportCompleted(run);
  else
    U_RemoveTemporaryExportFile(temporary);  // no window left to take the file
  U_TemporaryNamesInUse().remove(temporary);
  // The job ends with its export, not at the next progress check: a window closed at once finds no
  // export in progress. A cancelled job has already left the list and ends with nothing.
  if (run->window && !run->job->cancelled())
    ZRNJobsController::postJobChange(run->window->m_jobsController.get(), run->job.get(), kJobChangeSessionStopped);
}

void VLPlaybackWC::U_ExportCompleted(const std::shared_ptr<ExportRun>& run) {
  const AssetExportSessionStatus status = run->session->status();
  if (status == AssetExportSessionStatus::Completed) {
    writeExportedVideoToDestination(run->job.get(), run->isSession);
  } else if (!run->job->cancelled() && !run->session->error().isEmpty()) {
    U_JobFailed(run->job.get(), run->session->error());
    if (run->isSession) {
      ZRNLogger_Log(QStringLiteral("Export Session Failed: %@ // %ld"), run->session->error(), static_cast<long>(status));
    } else {
      ZRNLogger_Log(QStringLiteral("Export Failed: %@ // %ld"), run->session->error(), static_cast<long>(status));
      ZRNJobsController::postJobChange(m_jobsController.get(), run->job.get(), kJobChangeFailed);
    }
  }
}

void VLPlaybackWC::monitorExportProgressFor(const std::shared_ptr<ExportRun>& run) {
  Dispatch_MainAfter(kProgressCheckInterval, [run] { U_ProgressCheck(run); });
}

void VLPlaybackWC::U_ProgressCheck(const std::shared_ptr<ExportRun>& run) {
  const AssetExportSessionStatus status = run->session->status();
  const bool running = status == AssetExportSessionStatus::Exporting || status == AssetExportSessionStatus::Waiting;
  // A stopped export is ended by its completion work (U_ExportEnded).
  if (!running) return;
  // A cancelled job has stopped its export already; a closed window's exports stop here.
  if (run->job->cancelled() || !run->window) {
    run->session->cancelExport();
    return;
  }
  const int64_t step =
      static_cast<int64_t>(static_cast<float>(run->job->totalSteps()) * run->session->progress() + 0.5f);
  if (run->job->currentStep() < step) {
    run->job->setCurrentStep(step);
    ZRNJobsController::postJobChange(run->window->m_jobsController.get(), run->job.get(), kJobChangeProgress);
  }
  monitorExportProgressFor(run);
}

QString VLPlaybackWC::sessionTargetPath(const AssetExportSessionRef& session, bool part) {
  if (!part) return Prefs_Shared().saveTargetDirectory().toLocalFile();
  QString folder = m_clipsURL.toLocalFile();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    const QFileInfo wanted(clipsFolderPath());
    folder = File_MakeSessionFolder(wanted.absolutePath(), wanted.fileName(), true);
    // A file of that name is no folder either.
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return QString();
    m_clipsURL = QUrl::fromLocalFile(folder);
  }
  return U_FreeClipPath(folder, session ? session->timeRange().start : kMediaTimeZero);
}

QString VLPlaybackWC::U_FreeClipPath(const QString& folder, MediaTime start) const {
  QSet<QString> named;
  for (int64_t i = 0, count = m_jobsController ? m_jobsController->numberOfJobs() : 0; i < count; ++i) {
    if (const auto job = m_jobsController->jobAtIndex(i)) {
      for (const QString& path : {job->targetPath(), job->intendedPath()})
        if (!path.isEmpty()) named.insert(QDir::cleanPath(path));
    }
  }
  for (long n = 0;; ++n) {
    const QString path = folder + QLatin1Char('/') + clipFileName(start, n);
    if (!QFileInfo::exists(path) && !named.contains(QDir::cleanPath(path))) return path;
  }
}

QString VLPlaybackWC::intendedPathOfJob(const VL_ExportJobRecord& job) const {
  const ExportSettingsRef settings = job.exportSettings();
  if (job.activityType() == kExportActivitySessionMovie)
    return settings ? settings->value(kExportSettingsTargetPath).toString() : QString();
  if (!job.intendedPath().isEmpty()) return job.intendedPath();
  return U_FreeClipPath(clipsFolderPath(), U_MillisTime(U_SettingsInteger(settings, kExportSettingsStartTimeMillis)));
}

QString VLPlaybackWC::clipsFolderPath() const {
  if (const QString inUse = m_clipsURL.toLocalFile(); !inUse.isEmpty() && QFileInfo(inUse).isDir()) return inUse;
  const QFileInfo package(U_PackagePath());
  return Fmt("%@/%@ Clips", package.absolutePath(), package.completeBaseName());
}

QString VLPlaybackWC::clipFileName(MediaTime start, long n) const {
  const QString suffix = n == 0 ? QString() : Fmt("_%ld", n);
  return Fmt("VLClip_%@%@.%@", cmtimeAsTimeStamp(start, QString()), suffix, U_MovieExtension());
}

bool VLPlaybackWC::writeExportedVideoToDestination(ZRN_JobRecord* job, bool session) {
  auto* exportJob = qobject_cast<VL_ExportJobRecord*>(job);
  if (!exportJob || !exportJob->exportSession()) return false;
  const QString exportPath = exportJob->exportSession()->outputURL().toLocalFile();
  // Cancelled while its export was completing: nothing is written at the destination (not even the
  // clips folder), nothing is recorded, and the temporary file goes.
  if (job->cancelled()) {
    U_RemoveTemporaryExportFile(exportPath);
    return false;
  }
  const QString destination = session ? job->exportSettings()->value(kExportSettingsTargetPath).toString()
                                       : sessionTargetPath(exportJob->exportSession(), true);
  if (destination.isEmpty()) {
    // Without a clips folder there is nowhere to put the clip: the export has failed.
    const QString clips = clipsFolderPath();
    ZRNLogger_Log(QStringLiteral("ERROR: no folder for the clips of %@"), U_PackagePath());
    U_JobFailed(job, Fmt("the clips folder \"%@\" cannot be made", clips));
    ZRNJobsController::postJobChange(m_jobsController.get(), job, kJobChangeFailed);
    return false;
  }
  ZRNLogger_Log(QStringLiteral("exportURL: %@"), exportPath);
  ZRNLogger_Log(QStringLiteral("  saveURL: %@"), destination);
  QFile source(exportPath);
  const bool copied = source.copy(destination);
  if (!copied) ZRNLogger_Log(QStringLiteral("ERROR at movie copying 1: %@"), source.errorString());
  if (!copied) {
    U_JobFailed(job, Fmt("the movie could not be copied to \"%@\": %@", destination, source.errorString()), destination);
    return false;
  }
  QFile temporary(exportPath);
  if (!temporary.remove()) ZRNLogger_Log(QStringLiteral("ERROR at movie removing 2: %@"), temporary.errorString());
  if (copied) {
    job->setTargetPath(destination);
    job->setTargetIsFolder(false);
    if (session) {
      ZRNAppPrefs& prefs = Prefs_Shared();
      const QFileInfo saved(prefs.saveTargetDirectory().toLocalFile());
      if (saved.exists() && !saved.isDir()) prefs.setSaveTargetDirectory(QUrl::fromLocalFile(saved.absolutePath()));
    }
  }
  return copied;
}
