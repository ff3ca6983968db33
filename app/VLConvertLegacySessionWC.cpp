#include "app/VLConvertLegacySessionWC.h"
#include "app/VLConvertLegacySessionWC_Check.h"

#include "common/ZRNDarkLook.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "composition/VL_ExportJobRecord.h"
#include "session/VLDocument.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/StringCompare.h"
#include "platform/media/export/ExportSession.h"
#include "platform/media/export/MovieSalvage.h"
#include "platform/system/ProcessIdentity.h"
#include "ui_ZRNProgressWC.h"

#include <QDir>
#include <QDeadlineTimer>
#include <QFile>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <chrono>

namespace {
constexpr int kAlertConversionFailed = 20028;
constexpr std::chrono::milliseconds kProgressCheckInterval{660};
// Settings files are a few kilobytes; anything far larger is not one, and is not read into memory.
constexpr qint64 kMaxSettingsFileBytes = 4 * 1024 * 1024;
// How long the end of an aborted export is waited for; it stops at its next packet.
constexpr int kExportStopWaitMs = 15000;

const QString kSegmentsFolderName = QStringLiteral("segments");
const QString kLegacySettingsExtension = QStringLiteral("plist");

// The listing of a folder as the conversion reads it: visible entries only, in the order the file system
// gives them, nothing below them.
QFileInfoList U_ListFolder(const QString& path) {
  return QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::NoSort);
}

bool U_IsFinal(AssetExportSessionStatus status) {
  return status == AssetExportSessionStatus::Completed || status == AssetExportSessionStatus::Failed ||
         status == AssetExportSessionStatus::Cancelled;
}

// An old settings file's dictionary; *error is set when the file cannot be read as one.
QVariantMap U_ReadSettingsFile(const QFileInfo& entry, QString* error) {
  QByteArray bytes;
  if (!SafeFile_ReadRegular(entry.filePath(), kMaxSettingsFileBytes, &bytes, error)) return {};
  const QVariant settings = PropertyList_Deserialize(bytes);
  if (settings.typeId() == QMetaType::QVariantMap) return settings.toMap();
  *error = QCoreApplication::translate("Localizable", "it holds no settings");
  return {};
}

// The files of the "segments" folder (its folders are no segments). Anything else in it, a pipe or a link
// to nothing, is a segment that cannot be read.
bool U_ListSegments(const QFileInfo& folder, QList<QUrl>* segments, QList<LegacyReadFile>* read, QString* why) {
  if (!folder.isDir()) {
    *why = QCoreApplication::translate("Localizable", "\"segments\" in the old session is not a folder.");
    return false;
  }
  for (const QFileInfo& file : U_ListFolder(folder.filePath())) {
    if (file.isDir()) continue;
    if (!file.isFile()) {
      *why = Fmt(QCoreApplication::translate("Localizable", "The segment \"%@\" cannot be read: %@"), file.fileName(),
                 QCoreApplication::translate("Localizable", "it is not a file"));
      return false;
    }
    segments->append(QUrl::fromLocalFile(file.filePath()));
    read->append(Legacy_NoteReadFile(file.filePath()));
  }
  return true;
}

// The segment's asset when the file is a movie with pictures to join; null with *error otherwise.
AssetRef U_ReadableSegment(const QString& path, QString* error) {
  if (QFile file; !SafeFile_OpenForReading(file, path, error)) return nullptr;
  const AssetRef asset = Asset::assetWithPath(path);
  if (!asset || !asset->isPlayable()) {
    *error = QCoreApplication::translate("Localizable", "it is not a movie");
    return nullptr;
  }
  const QList<AssetTrackRef> video = asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  if (video.isEmpty()) {
    *error = QCoreApplication::translate("Localizable", "it has no video track");
    return nullptr;
  }
  if (!(video.first()->timeRange().duration > kMediaTimeZero)) {
    *error = QCoreApplication::translate("Localizable", "it holds no pictures");
    return nullptr;
  }
  return asset;
}

// The settings files go into the document; the segment files are listed in counting order (seg2 before
// seg10). Each file read is noted in `read`, as it stood before it was read. False, with the reason, for
// anything that cannot be read.
bool U_ReadLegacyEntries(const QFileInfoList& entries, VLDocument& document, QList<QUrl>* segments,
                         QList<LegacyReadFile>* read, QString* why) {
  bool sawSegments = false;
  for (const QFileInfo& entry : entries) {
    if (entry.fileName() == kSegmentsFolderName) {
      sawSegments = true;
      if (!U_ListSegments(entry, segments, read, why)) return false;
    } else if (entry.suffix() == kLegacySettingsExtension && !entry.isDir()) {
      read->append(Legacy_NoteReadFile(entry.filePath()));
      QString error;
      const QVariantMap settings = U_ReadSettingsFile(entry, &error);
      if (!error.isEmpty()) {
        *why = Fmt(QCoreApplication::translate("Localizable", "The settings file \"%@\" cannot be read: %@"),
                   entry.fileName(), error);
        return false;
      }
      document.loadFromDictionary(settings);
    }
  }
  if (!sawSegments) {
    *why = QCoreApplication::translate("Localizable", "The old session has no \"segments\" folder of movies.");
    return false;
  }
  if (segments->isEmpty()) {
    *why = QCoreApplication::translate("Localizable", "The \"segments\" folder of the old session holds no movies.");
    return false;
  }
  std::sort(segments->begin(), segments->end(),
            [](const QUrl& a, const QUrl& b) { return String_CompareNumeric(a.fileName(), b.fileName()) < 0; });
  return true;
}

// Every listed segment must be a movie with pictures that can be read, and every picture FFmpeg reads
// from it must reach the joined movie. A segment cut short (its recorder was killed inside a fragment)
// is first copied whole into `repairFolder`, with the pictures of its last fragment, and joined from
// that copy: the movie of the segment as it stands ends before that fragment.
bool U_ReadSegments(const QList<QUrl>& segments, const QString& repairFolder, const std::atomic<bool>* stop,
                    QList<AssetRef>* assets, QList<LegacySegmentCheck>* checks, QString* why) {
  for (const QUrl& url : segments) {
    const QString path = url.toLocalFile();
    QString error;
    AssetRef asset = U_ReadableSegment(path, &error);
    MoviePictures read;
    if (asset && !Movie_CountPictures(path, &read, &error, stop)) asset = nullptr;
    if (!asset) {
      *why = Fmt(QCoreApplication::translate("Localizable", "The segment \"%@\" cannot be read: %@"), url.fileName(), error);
      return false;
    }
    LegacySegmentCheck check{url.fileName(), path, read.pictures};
    if (read.cutShort) {
      const QString repaired = QDir(repairFolder).filePath(url.fileName());
      MoviePictures copied;
      bool ok = QDir().mkpath(repairFolder) && Movie_CopyReadablePackets(path, repaired, &copied, &error);
      if (ok && copied.pictures != read.pictures) {
        error = Fmt(QCoreApplication::translate("Localizable", "%@ of its %@ pictures could be copied"),
                    QString::number(copied.pictures), QString::number(read.pictures));
        ok = false;
      }
      asset = ok ? U_ReadableSegment(repaired, &error) : nullptr;
      if (!asset) {
        *why = Fmt(QCoreApplication::translate("Localizable",
                                               "The segment \"%@\" was cut short, and its pictures cannot all be joined: %@"),
                   url.fileName(), error);
        return false;
      }
      ZRNLogger_Log(QStringLiteral("segment %@ was cut short: its %ld pictures are joined from a copy"), url.fileName(),
                    static_cast<long>(read.pictures));
      check.readFrom = repaired;
    }
    assets->append(asset);
    checks->append(check);
  }
  return true;
}


}  // namespace

bool LegacyConversionControl::abort() {
  std::lock_guard lock(m_mutex);
  if (m_committed) return false;
  m_aborted.store(true);
  return true;
}

void LegacyConversionControl::setKeptInOldFolder(const QStringList& kept) {
  std::lock_guard lock(m_mutex);
  m_keptInOldFolder = kept;
}

QStringList LegacyConversionControl::keptInOldFolder() const {
  std::lock_guard lock(m_mutex);
  return m_keptInOldFolder;
}

bool LegacyConversionControl::commit() {
  {
    std::lock_guard lock(m_mutex);
    if (m_aborted.load()) return false;
    m_committed = true;
  }
  if (m_committedHandler) m_committedHandler();
  return true;
}

VLConvertLegacySessionWC::VLConvertLegacySessionWC(QWidget* parent) : ZRN_CommonInitWC<QDialog>(parent) {
  setObjectName(QStringLiteral("VLConvertLegacySessionWC"));
  Ui::ZRNProgressWC layout;
  layout.setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  m_labelTxt = layout.labelTxt;
  m_cancelBtn = layout.cancelBtn;
  m_progressBar = layout.progressBar;
  windowDidLoad();
}

VLConvertLegacySessionWC::~VLConvertLegacySessionWC() { U_StopWork(); }

void VLConvertLegacySessionWC::windowDidLoad() {
  ZRN_ApplyDarkLook(this);
  setAutoFillBackground(true);
  if (m_cancelBtn) {
    m_cancelBtn->setText(QCoreApplication::translate("Localizable", "Abort"));
    m_cancelBtn->setAccessibleName(m_cancelBtn->text());
    connect(m_cancelBtn, &QPushButton::clicked, this, [this] { cancelProcess(); });
  }
  if (m_progressBar) {
    m_progressBar->setRange(0, 200);
    m_progressBar->setValue(0);
  }
}

std::shared_ptr<VLDocument> VLConvertLegacySessionWC::vlDocument() const {
  std::lock_guard lock(m_mutex);
  return m_vlDocument;
}
QUrl VLConvertLegacySessionWC::fileURL() const {
  std::lock_guard lock(m_mutex);
  return m_fileURL;
}
QList<QUrl> VLConvertLegacySessionWC::segmentURLsArray() const {
  std::lock_guard lock(m_mutex);
  return m_segmentURLsArray;
}
QList<AssetRef> VLConvertLegacySessionWC::segmentAssetsArray() const {
  std::lock_guard lock(m_mutex);
  return m_segmentAssetsArray;
}
std::shared_ptr<VL_ExportJobRecord> VLConvertLegacySessionWC::exportJob() const {
  std::lock_guard lock(m_mutex);
  return m_exportJob;
}

void VLConvertLegacySessionWC::reject() { cancelProcess(); }

void VLConvertLegacySessionWC::cancelProcess() {
  // Once the package has its name the old folder goes: nothing is left to abort.
  if (!m_control->abort()) return;
  if (auto job = exportJob()) job->setCancelled(true);
  if (!Dispatch_IsMainThread()) {
    QPointer<VLConvertLegacySessionWC> guard(this);
    Dispatch_MainAsync([guard] {
      if (guard) guard->U_EndRun(kLegacyConversionAborted);
    });
    return;
  }
  U_EndRun(kLegacyConversionAborted);
}

void VLConvertLegacySessionWC::U_EndRun(int result, const QString& reason) {
  if (m_runEnded) return;
  m_runEnded = true;
  m_failureReason = reason;
  if (m_sessionWindow) m_sessionWindow->removeEventFilter(this);
  if (result == kLegacyConversionFailed) {
    // The alert ends the conversion: it comes over this window, which goes once it is answered.
    const QString folder = fileURL().toLocalFile();
    ZRNLogger_Log(QStringLiteral("ERR: conversion of %@ failed: %@"), folder, reason);
    Alert_ShowAlertWithID(kAlertConversionFailed, QFileInfo(folder).completeBaseName(), reason);
  }
  done(result);
}

void VLConvertLegacySessionWC::U_FailFromQueue(const QString& reason) {
  QPointer<VLConvertLegacySessionWC> guard(this);
  Dispatch_MainAsync([guard, reason] {
    if (guard) guard->U_EndRun(kLegacyConversionFailed, reason);
  });
}

void VLConvertLegacySessionWC::U_SetProgress(int value) {
  if (m_progressBar) m_progressBar->setValue(value);
}

void VLConvertLegacySessionWC::setUpFor(const QUrl& folderURL) {
  {
    std::lock_guard lock(m_mutex);
    m_fileURL = folderURL;
  }
  const QString name = QFileInfo(folderURL.toLocalFile()).completeBaseName();
  setWindowTitle(Fmt(QCoreApplication::translate("Localizable", "Converting %@..."), name));
  if (!m_legacyImportQueue)
    m_legacyImportQueue = DispatchQueue::create(StandardLocations::appIdentifier() + QStringLiteral(".importer"));
  if (m_labelTxt) m_labelTxt->setText(QCoreApplication::translate("Localizable", "Step 1/2: Reading old session"));
  m_control = std::make_shared<LegacyConversionControl>();
  // From the moment the package takes its name Abort could undo nothing: it is no longer offered.
  QPointer<VLConvertLegacySessionWC> guard(this);
  m_control->setCommitted([guard] {
    Dispatch_MainAsync([guard] {
      if (guard && guard->m_cancelBtn) guard->m_cancelBtn->setEnabled(false);
    });
  });
  m_runEnded = false;
  m_failureReason.clear();
  loadLegacyRecording(folderURL);
}

void VLConvertLegacySessionWC::loadLegacyRecording(const QUrl& folderURL) {
  {
    std::lock_guard lock(m_mutex);
    m_segmentURLsArray.clear();
    m_segmentAssetsArray.clear();
  }
  m_legacyImportQueue->async([this, folderURL] { U_ReadLegacyFolder(folderURL); });
}

// On the importer queue. The window waits for this queue before it goes, so `this` stays valid here.
// Everything the old folder lists must be read, or the conversion ends and says why: the folder is
// removed afterwards, and what was not read would be lost with it.
void VLConvertLegacySessionWC::U_ReadLegacyFolder(const QUrl& folderURL) {
  Dispatch_AssertQueue(m_legacyImportQueue, __func__);
  const QString folder = folderURL.toLocalFile();
  // The run's tag in the name lets a later run tell a package left by a killed conversion from one that
  // a conversion still running is filling.
  const QUrl temporary =
      File_TempFileURL(kLegacy_TemporaryPackagePrefix + Process_RunTag(), kVLPackageExtension, true);
  const QFileInfoList entries = U_ListFolder(folder);
  if (entries.isEmpty()) {
    ZRNLogger_Log(QStringLiteral("ATT: the old session folder %@ is empty or cannot be read"), folder);
    U_FailFromQueue(QCoreApplication::translate("Localizable", "The old session folder is empty or cannot be read."));
    return;
  }
  auto document = std::make_shared<VLDocument>();
  // Without a temporary folder the name above would land in the root folder.
  const bool haveTemporaryFolder = QFileInfo(StandardLocations::tempPath()).isDir();
  const QUrl package = haveTemporaryFolder ? File_MakeSessionPackage(temporary, kVLPackageExtension) : QUrl();
  document->setDocURL(package);
  {
    std::lock_guard lock(m_mutex);
    m_vlDocument = document;
  }
  if (package.isEmpty()) {
    U_FailFromQueue(QCoreApplication::translate("Localizable", "The temporary session package could not be made."));
    return;
  }
  QList<QUrl> segments;
  QList<AssetRef> assets;
  QList<LegacySegmentCheck> checks;
  QList<LegacyReadFile> read;
  QString why;
  const QString repairFolder = QDir(package.toLocalFile()).filePath(kLegacy_RepairFolderName);
  if (!U_ReadLegacyEntries(entries, *document, &segments, &read, &why) ||
      !U_ReadSegments(segments, repairFolder, m_control->abortFlag(), &assets, &checks, &why)) {
    if (m_control->aborted()) return;
    ZRNLogger_Log(QStringLiteral("ATT: old session %@ not converted: %@"), folder, why);
    U_FailFromQueue(why);
    return;
  }
  {
    std::lock_guard lock(m_mutex);
    m_segmentURLsArray = segments;
    m_segmentAssetsArray = assets;
    m_segmentChecks = checks;
    m_readFiles = read;
  }
  ZRNLogger_Log(QStringLiteral("converting %@: %ld segments into %@"), folder, static_cast<long>(assets.size()),
                package.toLocalFile());
  File_WriteSettings(package, kVLSettingsBaseName, kVLSettingsExtension, document->dictionaryToSave());
  // The writer only logs a failure; without the settings the old ones would be lost with the folder.
  if (!QFileInfo::exists(QDir(package.toLocalFile()).filePath(kVLSettingsBaseName + QLatin1Char('.') + kVLSettingsExtension))) {
    U_FailFromQueue(QCoreApplication::translate("Localizable", "The settings could not be written into the new package."));
    return;
  }
  loadAssetWithIndex(0);
}

void VLConvertLegacySessionWC::loadAssetWithIndex(qsizetype index) {
  const QList<AssetRef> assets = segmentAssetsArray();
  const qsizetype count = assets.size();
  if (index < 0 || index >= count) return;
  QPointer<VLConvertLegacySessionWC> guard(this);
  const QStringList keys{QString::fromLatin1(kAssetKeyPlayable), QString::fromLatin1(kAssetKeyHasProtectedContent),
                         QString::fromLatin1(kAssetKeyTracks), QString::fromLatin1(kAssetKeyDuration)};
  // The answer comes on the main queue. The last asset is not loaded ahead: the export reads what it needs.
  assets.at(index)->loadValuesAsynchronouslyForKeys(keys, [guard, index, count] {
    if (!guard || guard->m_runEnded) return;
    if (index + 1 >= count - 1) {
      guard->mergeAssets(guard->segmentAssetsArray());
      return;
    }
    guard->U_SetProgress(static_cast<int>((index + 1) * 100 / count));
    guard->loadAssetWithIndex(index + 1);
  });
}

void VLConvertLegacySessionWC::mergeAssets(const QList<AssetRef>& assets) {
  Dispatch_AssertMainThread(__func__);
  if (m_runEnded) return;
  const std::shared_ptr<VLDocument> document = vlDocument();
  if (!document) return;
  U_SetProgress(100);
  if (m_labelTxt)
    m_labelTxt->setText(QCoreApplication::translate("Localizable", "Step 2/2: Converting to new session format"));

  auto job = std::make_shared<VL_ExportJobRecord>(std::make_shared<QVariantMap>());
  {
    std::lock_guard lock(m_mutex);
    m_exportJob = job;
  }
  bool segmentsHaveSound = false;
  for (const AssetRef& asset : assets)
    if (asset && !asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeAudio)).isEmpty()) segmentsHaveSound = true;
  const std::shared_ptr<ZRNAVCaptureProject> project = job->badgeOverlayProject();
  project->setVideoSize(document->frameSize());
  // The movie keeps everything the segments hold: their sound even where the old settings do not
  // mention it, and the leading milliseconds, which the document's initialMillisToClip already leaves
  // out when the session is played and exported (cutting them here as well would lose them twice).
  project->setUseAudio(document->captureAudio() || segmentsHaveSound);
  project->setStartMillisToClip(0);
  project->setSegmentAssetsArray(assets);
  job->setTotalSteps(100);
  job->setExportSession(project->makeExportable(QString::fromLatin1(AVAssetExportPresetPassthrough)));
  if (!job->exportSession()) {
    U_EndRun(kLegacyConversionFailed, QCoreApplication::translate("Localizable", "The segments cannot be joined."));
    return;
  }
  // The old folder goes once the movie stands; so every segment it lists must be in the movie.
  QList<LegacySegmentCheck> checks;
  {
    std::lock_guard lock(m_mutex);
    checks = m_segmentChecks;
  }
  const QString left = U_SegmentLeftOut(project->exportedComposition(), checks);
  if (!left.isEmpty()) {
    U_EndRun(kLegacyConversionFailed,
             Fmt(QCoreApplication::translate("Localizable", "The segment \"%@\" could not be joined."), left));
    return;
  }
  {
    std::lock_guard lock(m_mutex);
    m_segmentStarts = U_SegmentStarts(project->exportedComposition(), checks);
  }
  m_legacyImportQueue->async([this, job] { U_StartExport(job); });
}

// On the importer queue.
void VLConvertLegacySessionWC::U_StartExport(const std::shared_ptr<VL_ExportJobRecord>& job) {
  Dispatch_AssertQueue(m_legacyImportQueue, __func__);
  const AssetExportSessionRef session = job->exportSession();
  const std::shared_ptr<VLDocument> document = vlDocument();
  if (!session || !document || job->cancelled()) return;
  const ZRNAppPrefs& prefs = Prefs_Shared();
  const QString movie = QDir(document->docURL().toLocalFile())
                            .filePath(kVLMovieBaseName + QLatin1Char('.') + prefs.movieFileExtension());
  session->setOutputURL(QUrl::fromLocalFile(movie));
  ZRNLogger_Log(QStringLiteral("session outputURL: %@"), movie);
  session->setOutputFileType(prefs.captureFileType());
  QPointer<VLConvertLegacySessionWC> guard(this);
  session->exportAsynchronouslyWithCompletionHandler([guard, job] {
    Dispatch_MainAsync([guard, job] {
      if (guard) guard->U_ExportEnded(job);
    });
  });
  monitorExportProgressFor(job);
}

void VLConvertLegacySessionWC::monitorExportProgressFor(const std::shared_ptr<VL_ExportJobRecord>& job) {
  QPointer<VLConvertLegacySessionWC> guard(this);
  Dispatch_MainAfter(kProgressCheckInterval, [guard, job] {
    if (guard) guard->U_ProgressCheck(job);
  });
}

void VLConvertLegacySessionWC::U_ProgressCheck(const std::shared_ptr<VL_ExportJobRecord>& job) {
  const AssetExportSessionRef session = job->exportSession();
  if (!session || session->status() != AssetExportSessionStatus::Exporting) return;
  if (job->cancelled() || userCanceled()) {
    m_control->abort();
    session->cancelExport();
    return;
  }
  const auto step = static_cast<int64_t>(static_cast<float>(job->totalSteps()) * session->progress() + 0.5f);
  if (step > job->currentStep()) {
    job->setCurrentStep(step);
    U_SetProgress(static_cast<int>(step + 100));
  }
  monitorExportProgressFor(job);
}

void VLConvertLegacySessionWC::U_ExportEnded(const std::shared_ptr<VL_ExportJobRecord>& job) {
  const AssetExportSessionRef session = job->exportSession();
  if (!session) return;
  const AssetExportSessionStatus status = session->status();
  if (status == AssetExportSessionStatus::Completed) {
    if (userCanceled() || m_runEnded) return;
    // Reading the movie back and copying it into place go without a measure of their progress.
    if (m_progressBar) m_progressBar->setRange(0, 0);
    LegacyFinishWork work;
    work.movie = session->outputURL().toLocalFile();
    {
      std::lock_guard lock(m_mutex);
      work.checks = m_segmentChecks;
      work.starts = m_segmentStarts;
      if (m_vlDocument) work.package = m_vlDocument->docURL().toLocalFile();
      work.legacyFolder = m_fileURL.toLocalFile();
      work.readFiles = m_readFiles;
    }
    // The queue's block works with the shared control alone; its answer is taken on the main thread, and
    // only while this window lives (the guard is looked at there, never on the queue).
    QPointer<VLConvertLegacySessionWC> guard(this);
    m_legacyImportQueue->async([guard, control = m_control, work] {
      const QString failure = U_FinishConversion(work, *control);
      if (control->aborted()) return;
      Dispatch_MainAsync([guard, failure] {
        if (!guard) return;
        if (failure.isEmpty()) guard->U_ConversionInPlace();
        else guard->U_EndRun(kLegacyConversionFailed, failure);
      });
    });
    return;
  }
  const QString error = session->error();
  if (!job->cancelled() && !error.isEmpty())
    ZRNLogger_Log(QStringLiteral("Export Session Failed: %@ // %ld"), error, static_cast<long>(status));
  if (userCanceled()) return;
  U_EndRun(kLegacyConversionFailed,
           error.isEmpty() ? QCoreApplication::translate("Localizable", "The segments could not be joined.") : error);
}

void VLConvertLegacySessionWC::U_ConversionInPlace() {
  if (m_runEnded) return;
  // The old folder is gone: an abort could undo nothing any more.
  if (m_cancelBtn) m_cancelBtn->setEnabled(false);
  QWidget* window = m_openConverted ? m_openConverted() : nullptr;
  if (m_runEnded) return;
  if (!window || window->isVisible()) {
    U_EndRun(kLegacyConversionDone);
    return;
  }
  m_sessionWindow = window;
  window->installEventFilter(this);
  // A session that cannot be shown says so in its own alert, and its window goes.
  connect(window, &QObject::destroyed, this, [this] { U_EndRun(kLegacyConversionDone); });
}

bool VLConvertLegacySessionWC::eventFilter(QObject* watched, QEvent* event) {
  // Once the session's window is on the screen this one goes (not before: nothing of Velmora would show).
  if (watched == m_sessionWindow && event->type() == QEvent::Show)
    QMetaObject::invokeMethod(this, [this] { U_EndRun(kLegacyConversionDone); }, Qt::QueuedConnection);
  return ZRN_CommonInitWC<QDialog>::eventFilter(watched, event);
}

void VLConvertLegacySessionWC::U_StopWork() {
  m_runEnded = true;
  // Whatever the queue still does stops at its next packet or block of bytes, unless the package already
  // has its name: then the old folder's removal is waited for.
  m_control->abort();
  if (m_legacyImportQueue) m_legacyImportQueue->sync([] {});
  const std::shared_ptr<VL_ExportJobRecord> job = exportJob();
  const AssetExportSessionRef session = job ? job->exportSession() : nullptr;
  if (!session || U_IsFinal(session->status())) return;
  session->cancelExport();
  // A cancelled export stops at its next packet and removes what it wrote. Events are processed by hand
  // meanwhile: after a Quit no event loop would run.
  QDeadlineTimer deadline(kExportStopWaitMs);
  while (!U_IsFinal(session->status()) && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  if (!U_IsFinal(session->status()))
    ZRNLogger_Log(QStringLiteral("ATT: the export into %@ has not stopped"), session->outputURL().toLocalFile());
}
