#include "capture/LiveRecordingController.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "session/VLDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

LiveRecordingController::LiveRecordingController(const void* liveWindowObject, std::shared_ptr<DispatchQueue> sessionQueue,
                                                 std::shared_ptr<DispatchQueue> assetWritingQueue)
    : m_sessionQueue(std::move(sessionQueue)), m_assetWritingQueue(std::move(assetWritingQueue)) {
  if (!m_assetWritingQueue) m_assetWritingQueue = DispatchQueue::create(QStringLiteral("org.velmora.Velmora.assetWriting.queue"));
  m_recorder = std::make_shared<ZRNRecorder>(liveWindowObject, m_sessionQueue, m_assetWritingQueue);
}

namespace {
enum StartTurn { kStartWaiting = 0, kStartBegun = 1, kStartGivenUp = 2 };
}

void LiveRecordingController::startRequested() {
  m_stopRequested = false;
  m_stopFinished = false;
  m_startPending = true;
  m_hasRecorded = true;
  m_deferredStop = -1;
  m_startTurn = std::make_shared<std::atomic<int>>(kStartWaiting);
}

bool LiveRecordingController::takeStartTurn(const std::shared_ptr<std::atomic<int>>& turn) {
  int expected = kStartWaiting;
  return turn->compare_exchange_strong(expected, kStartBegun);
}

bool LiveRecordingController::giveUpPendingStart() {
  if (!m_startPending) return false;
  int expected = kStartWaiting;
  if (!m_startTurn->compare_exchange_strong(expected, kStartGivenUp)) return false;
  startEnded();
  return true;
}

void LiveRecordingController::startEnded() {
  m_startPending = false;
  m_hasRecorded = false;
  m_deferredStop = -1;
  // A stop asked for while it waited has nothing left to save.
  if (m_stopRequested) m_stopFinished = true;
}

bool LiveRecordingController::stopRequested() {
  if (m_stopRequested) return false;
  m_stopRequested = true;
  return true;
}

void LiveRecordingController::makePackage(const QUrl& target, const ZRNAppPrefs& prefs) {
  m_clipsFolderPath = QString();
  m_document = std::make_shared<VLDocument>();
  m_document->U_LoadCaptureProperties(prefs);
  const float fragmentSeconds = Recorder_FragmentSeconds(m_document->segmentSeconds());
  if (fragmentSeconds != m_document->segmentSeconds()) {
    ZRNLogger_Log("ATT: fragment length %.2f s is out of range; recording with %.0f s",
                  static_cast<double>(m_document->segmentSeconds()), static_cast<double>(fragmentSeconds));
    m_document->setSegmentSeconds(fragmentSeconds);
  }
  m_packageURL = File_MakeSessionPackage(target, kVLPackageExtension);
  m_document->setDocURL(QUrl(m_packageURL));
  writeRecFileflag();
  File_SetCustomIcon(m_packageURL, QStringLiteral("LiveSessionIcon"));
  m_document->updateSettingsFile();
}

void LiveRecordingController::recordingEnded() {
  if (m_document) m_document->updateSettingsFile();
  File_ClearCustomIcon(m_packageURL);
}

void LiveRecordingController::writeRecFileflag() {
  if (!m_document || m_document->docURL().isEmpty()) return;
  VLDocument_NoteRecordingPackage(m_document->docURL().toLocalFile(), true);
  QSaveFile lock(m_document->docURL().toLocalFile() + QLatin1Char('/') + kVLLockFileName);
  if (!lock.open(QIODevice::WriteOnly) || !lock.commit()) ZRNLogger_Log("ERR: cannot write %@", lock.fileName());
}

void LiveRecordingController::deleteRecFileflag() {
  if (!m_document || m_document->docURL().isEmpty()) return;
  // Nothing there, or no file: nothing is removed.
  QFile::remove(m_document->docURL().toLocalFile() + QLatin1Char('/') + kVLLockFileName);
  VLDocument_NoteRecordingPackage(m_document->docURL().toLocalFile(), false);
}

void LiveRecordingController::deleteCapturedFootage(bool withClips) {
  if (!m_document || m_document->docURL().isEmpty()) return;
  const QString package = m_document->docURL().toLocalFile();
  VLDocument_NoteRecordingPackage(package, false);
  if (QFileInfo(package).isDir()) QDir(package).removeRecursively();
  if (withClips && !m_clipsFolderPath.isEmpty() && !QDir(m_clipsFolderPath).isEmpty())
    QDir(m_clipsFolderPath).removeRecursively();
}

bool LiveRecordingController::removeReplacedPackage(const QString& target, const QString& confirmed,
                                                    const std::function<void(const QString&)>& closeIfOpen) {
  if (target.isEmpty()) return false;
  const QFileInfo info(target);
  // Only what the naming panel's question named: anything else at the name keeps it, and the package
  // is made with a free name beside it.
  if (confirmed.isEmpty() || confirmed != QDir::cleanPath(info.absoluteFilePath())) return false;
  if (!info.isDir() || info.isSymLink()) return false;
  if (VLDocument_WasRecordedInThisRun(target)) {
    ZRNLogger_Log("ATT: %@ holds a recording of this run; it is kept and the new recording takes another name",
                  target);
    return false;
  }
  if (closeIfOpen) closeIfOpen(target);
  if (!QDir(target).removeRecursively()) {
    ZRNLogger_Log("ERR: %@ could not be removed wholly", target);
    return false;
  }
  return true;
}
