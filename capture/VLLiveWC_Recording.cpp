#include "capture/VLLiveWC_Recording.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppHost.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNLogger.h"
#include "common/ZRNSystemFunctions.h"
#include "common/ZRNTimeFormatting.h"
#include "common/ZRN_InfoPopoverVC.h"
#include "session/VLDocument.h"
#include "capture/VLLiveWC.h"
#include "platform/gui/WindowPlacement.h"
#include "platform/media/asset/FragmentedAsset.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

const QString kTargetURL = QStringLiteral("targetURL");
const QString kIsLast = QStringLiteral("isLast");
const QString kSaveCaptured = QStringLiteral("saveCaptured");

// The badge colours of the two states (the desktop's system red and green).
const char* kRecStyle = "color: #ff3b30;";
const char* kLiveStyle = "color: #28cd41;";

}  // namespace

int LiveWC_ConfirmationAlertID(int request, int pendingExports) {
  if (pendingExports == 1) return request + 1;
  if (pendingExports > 1) return request + 2;
  return request;
}

VLLiveWC_Recording::VLLiveWC_Recording(VLLiveWC_RecordingHost* host, const VLLiveWC_RecordingOutlets& outlets, QObject* parent,
                                       bool observeMovieStarted)
    : QObject(parent),
      m_host(host),
      m_outlets(outlets),
      m_controller(std::make_shared<LiveRecordingController>(host->liveWindowObject(), host->sessionQueue(),
                                                             host->assetWritingQueue())) {
  QPointer<VLLiveWC_Recording> self(this);
  m_controller->recorder().setWriterFailureHandler([self](const QString& reason) {
    if (self) self->U_WriterFailed(reason);
  });
  // The recording's camera going away ends the recording like a writer that can no longer write.
  m_deviceGoneObserver = NotificationCenter::defaultCenter().addObserver(
      QString::fromLatin1(kCaptureDeviceWasDisconnectedNotification), nullptr, this, [this](const Notification& note) {
        const QString uid = note.userInfo.value(QStringLiteral("uniqueID")).toString();
        const QString name = note.userInfo.value(QStringLiteral("localizedName")).toString();
        const std::shared_ptr<VLDocument> document = vlDocument();
        if (!isRecording() || !document || document->cameraUID() != uid) return;
        U_WriterFailed(Fmt("The camera \"%@\" was disconnected.", name));
      });
  if (observeMovieStarted) {
    m_movieStartedObserver = NotificationCenter::defaultCenter().addObserver(
        kZRNMovieStartedNotificationName, host->liveWindowObject(), [self](const Notification& note) {
          if (self) self->handleMovieStarted(note);
        });
  }
}

VLLiveWC_Recording::~VLLiveWC_Recording() {
  // The host may already be half gone (the window deletes its recording from its own destructor): only
  // our own parts.
  // Blocks still queued hold the recorder themselves and find this object gone through their guards.
  // A start that was still waiting took the sleep hold, and nothing else will give it back.
  if (m_controller->startPending()) {
    m_controller->giveUpPendingStart();
    Sys_ResetSystemSleep();
  }
  if (m_movieStartedObserver) NotificationCenter::defaultCenter().removeObserver(m_movieStartedObserver);
  NotificationCenter::defaultCenter().removeObserver(m_deviceGoneObserver);
  m_capturedMovieURL.clear();
}

bool VLLiveWC_Recording::appIsQuitting() const { return ZRNAppHost_Shared().appIsQuitting(); }

// --- start ---------------------------------------------------------------------------------------

void VLLiveWC_Recording::toggleCapture() {
  // Between the click that starts and the writer's start a second click waits its turn: a stop then
  // would reach the session queue before the writer it has to finish.
  if (m_controller->startPending()) return;
  if (isRecording()) {
    UU_StopRecording();
    return;
  }
  // After its stop the window only saves and closes: a start now (a second click, the menu) would
  // begin a recording in a window that goes, at the name of the one just kept.
  if (!mayStartRecording()) {
    ZRNLogger_Log("ATT: Start Recording ignored: this window has recorded or is closing");
    return;
  }
  UU_StartRecording();
}

// --- states --------------------------------------------------------------------------------------

void VLLiveWC_Recording::setupForRecordingState() {
  if (m_outlets.showFootageBtn) m_outlets.showFootageBtn->setEnabled(true);
  if (m_outlets.recIndicatorView) {
    m_outlets.recIndicatorView->setText(QStringLiteral("REC"));
    m_outlets.recIndicatorView->setStyleSheet(QString::fromLatin1(kRecStyle));
  }
  if (m_outlets.captureDurationLabel) m_outlets.captureDurationLabel->setVisible(true);
  m_host->U_UpdateAudioPreviewControl();
  if (m_outlets.captureDurationLabel) m_outlets.captureDurationLabel->setText(compactStringWithCMTime(kMediaTimeZero));
  if (const std::shared_ptr<VLDocument> document = vlDocument()) document->setDocCaptureDate(QDateTime::currentDateTime());
  delete m_recLabelTimer;
  m_recLabelTimer = new QTimer(this);
  m_recLabelTimer->setInterval(500);
  QPointer<VLLiveWC_Recording> self(this);
  connect(m_recLabelTimer, &QTimer::timeout, this, [self] {
    if (!self || !self->isRecording()) return;
    Dispatch_MainAsync([self] {
      if (!self) return;
      if (self->m_outlets.recIndicatorView)
        self->m_outlets.recIndicatorView->setVisible(!self->m_outlets.recIndicatorView->isVisible());
      self->U_UpdateDurationLabel();
      self->m_host->U_UpdateSoundControls();
    });
  });
  m_recLabelTimer->start();
}

void VLLiveWC_Recording::U_UpdateDurationLabel() {
  const std::shared_ptr<VLDocument> document = vlDocument();
  if (!m_outlets.captureDurationLabel || !document) return;
  const qint64 millis = document->docCaptureDate().msecsTo(QDateTime::currentDateTime());
  m_outlets.captureDurationLabel->setText(compactStringWithCMTime(MediaTimeMake(millis, 1000)));
}

void VLLiveWC_Recording::setupForLiveState() {
  delete m_recLabelTimer;
  m_recLabelTimer = nullptr;
  if (m_outlets.recIndicatorView) {
    m_outlets.recIndicatorView->setVisible(true);
    m_outlets.recIndicatorView->setText(QStringLiteral("LIVE"));
    m_outlets.recIndicatorView->setStyleSheet(QString::fromLatin1(kLiveStyle));
  }
  if (m_outlets.captureDurationLabel) m_outlets.captureDurationLabel->setVisible(false);
  m_host->U_UpdateAudioPreviewControl();
  if (m_outlets.sourcePrefsBtn) m_outlets.sourcePrefsBtn->setEnabled(true);
  if (m_outlets.showFootageBtn) {
    m_outlets.showFootageBtn->setVisible(true);
    m_outlets.showFootageBtn->setEnabled(false);
  }
  if (m_outlets.recordButton) {
    m_outlets.recordButton->setText(QStringLiteral("Start Recording"));
    // The window records once: after the stop it saves and closes.
    m_outlets.recordButton->setEnabled(mayStartRecording());
  }
}

void VLLiveWC_Recording::prepareForNewRecording() {
  m_capturedMovieURL.clear();
  m_host->U_ApplyAspectRule();
  showNoFootageLabel();
}

void VLLiveWC_Recording::showNoFootageLabel() {
  if (m_outlets.showFootageBtn) m_outlets.showFootageBtn->setVisible(true);
  if (m_outlets.footageProgress) m_outlets.footageProgress->setVisible(false);
}

void VLLiveWC_Recording::showWaitingAnimation() {
  if (m_outlets.showFootageBtn) m_outlets.showFootageBtn->setVisible(false);
  if (m_outlets.footageProgress) {
    m_outlets.footageProgress->setRange(0, 0);  // indeterminate: it animates while shown
    m_outlets.footageProgress->setVisible(true);
  }
}

void VLLiveWC_Recording::stopWaitingAnimation() {
  if (m_outlets.showFootageBtn) {
    m_outlets.showFootageBtn->setVisible(true);
    m_outlets.showFootageBtn->setEnabled(true);
  }
  if (m_outlets.footageProgress) {
    m_outlets.footageProgress->setRange(0, 1);
    m_outlets.footageProgress->setVisible(false);
  }
}

// --- the growing movie ---------------------------------------------------------------------------

void VLLiveWC_Recording::handleMovieStarted(const Notification& note) {
  if (note.userInfo.value(kIsLast).toBool()) {
    m_host->U_StopAndSaveSessionAndReconfigureLiveSession(note.userInfo.value(kSaveCaptured).toBool());
    return;
  }
  const QUrl url = note.userInfo.value(kTargetURL).toUrl();
  if (url.isEmpty() || !m_capturedMovieURL.isEmpty()) return;
  auto asset = FragmentedAsset::fragmentedAssetWithURL(url);
  m_capturedMovieURL = url;
  if (const std::shared_ptr<VLDocument> document = vlDocument()) document->updateSettingsFile();
  loadTheAsset(asset);
}

void VLLiveWC_Recording::loadTheAsset(const std::shared_ptr<Asset>& asset) {
  if (!asset) return;
  const QStringList keys{kAssetKeyPlayable,  kAssetKeyHasProtectedContent, kAssetKeyTracks,
                         kAssetKeyDuration,  kAssetKeyCanContainFragments, kAssetKeyContainsFragments};
  QPointer<VLLiveWC_Recording> self(this);
  asset->loadValuesAsynchronouslyForKeys(keys, [self, asset, keys] {
    Dispatch_MainAsync([self, asset, keys] {
      if (!self) return;
      self->setUpPlaybackOfFragmentedAsset(asset, keys);
      if (!self->hasCapturePlaybackWC()) self->U_OpenLiveRecordingAndShow(false);
    });
  });
}

bool VLLiveWC_Recording::setUpPlaybackOfFragmentedAsset(const std::shared_ptr<Asset>& asset, const QStringList& keys) {
  for (const QString& key : keys) {
    QString error;
    if (asset->statusOfValueForKey(key, &error) == KeyValueStatus::Failed) {
      ZRNLogger_Log("asset key failed to load: %@ error: %@", key, error);
      return false;
    }
  }
  if (asset->isPlayable() && !asset->hasProtectedContent()) {
    U_UpdateForAssetLoaded();
    return true;
  }
  return false;
}

void VLLiveWC_Recording::U_UpdateForAssetLoaded() {
  stopWaitingAnimation();
  if (isRecording()) m_host->setLiveAudioVolume(0.0f);
  m_host->U_UpdateSoundControls();
}

// --- stop ----------------------------------------------------------------------------------------

void VLLiveWC_Recording::UU_StopRecording() {
  if (U_GetUserVerifiedCloseWithError(20001) != -1000) return;
  setIsClosing(true);
  stopWaitingAnimation();
  U_StopCapturing(true);
}

void VLLiveWC_Recording::UU_CancelRecording() {
  setIsClosing(true);
  stopWaitingAnimation();
  U_StopCapturing(false);
}

void VLLiveWC_Recording::prepareToQuit(bool keep) {
  // Nothing to stop: no start waits, no recording runs (a stop under way finishes by itself).
  if (!m_controller->startPending() && !isRecording()) return;
  stopWaitingAnimation();
  U_StopCapturing(keep);
}

void VLLiveWC_Recording::U_StopCapturing(bool keep) {
  // A start still waiting for the camera: given up when its turn has not come (nothing was made), else
  // the stop follows it once its writer is on its way.
  if (m_controller->startPending()) {
    if (m_controller->giveUpPendingStart()) {
      ZRNLogger_Log("ATT: Start Recording given up while it waited for the camera");
      U_StartEnded();
      U_FinishAfterStop();
    } else if (m_controller->stopRequested()) {
      m_controller->deferStop(keep);
    }
    return;
  }
  // One stop per recording: a second request (the user, the writer's failure) while one runs is ignored.
  if (!m_controller->stopRequested()) {
    ZRNLogger_Log("ATT: stop already under way");
    return;
  }
  U_QueueStop(keep);
}

void VLLiveWC_Recording::U_QueueStop(bool keep) {
  QPointer<VLLiveWC_Recording> self(this);
  m_controller->recorder().U_StopCapturing(keep, [self](bool kept) {
    if (!self) return;
    VLLiveWC_Recording& w = *self;
    w.setupForLiveState();
    w.m_controller->recordingEnded();
    const void* object = w.m_host->liveWindowObject();
    NotificationCenter::defaultCenter().post(kZRNMovieStartedNotificationName, object,
                                             QVariantMap{{kIsLast, true}, {kSaveCaptured, kept}});
    if (!self) return;
    NotificationCenter::defaultCenter().post(kZRNRecordingStateChangedNotification, object, QVariantMap{{kZRNRecIsONKey, false}});
    Sys_ResetSystemSleep();
    if (self) emit self->recordingStopped(kept);
  });
}

void VLLiveWC_Recording::U_PostUnderWayChanged() {
  NotificationCenter::defaultCenter().post(kZRNRecordingUnderWayChangedNotification, m_host->liveWindowObject(), {});
}

void VLLiveWC_Recording::U_FinishAfterStop(bool prepareForNext) {
  // What a stop leads to, in a turn of its own: the window closing closes, a quit goes on, and otherwise
  // the window is made ready for the next recording where asked.
  QPointer<VLLiveWC_Recording> self(this);
  Dispatch_MainAsync([self, prepareForNext] {
    if (!self) return;
    if (self->isClosing()) {
      if (QWidget* window = self->m_host->window()) window->close();
    } else if (self->appIsQuitting()) {
      ZRNAppHost_Shared().terminate();
    } else if (prepareForNext) {
      self->prepareForNewRecording();
    }
  });
}

void VLLiveWC_Recording::U_WriterFailed(const QString& reason, bool packageMade) {
  if (m_controller->isStopRequested()) return;
  ZRNLogger_Log("ERR: recording stopped, the movie cannot be written: %@", reason);
  setIsClosing(true);
  stopWaitingAnimation();
  U_StopCapturing(true);
  // After the stop is on its way, so that the modal alert does not hold it up.
  const int alert = packageMade ? kAlertRecordingWriteFailed : kAlertRecordingNotStarted;
  Dispatch_MainAsync([alert, reason] { Alert_ShowAlertWithID(alert, reason); });
}

void VLLiveWC_Recording::U_FinishStopAndSave(bool saveCaptured) {
  Dispatch_AssertMainThread(__func__);
  // Only a stop of this recording decides about its package; nothing else reaches here with it.
  if (!stopUnderWay()) {
    ZRNLogger_Log("ATT: keep-or-discard step without a stop under way: nothing is done");
    return;
  }
  if (saveCaptured) {
    deleteRecFileflag();
    saveCapturedFootage();
    m_controller->stopFinished();
    U_PostUnderWayChanged();
    U_FinishAfterStop(true);
  } else {
    deleteCapturedFootage(false);
    m_controller->stopFinished();
    U_PostUnderWayChanged();
    if (appIsQuitting()) {
      if (QWidget* window = m_host->window()) window->close();
      ZRNAppHost_Shared().terminate();
    } else if (isClosing()) {
      if (QWidget* window = m_host->window()) window->close();
    } else {
      prepareForNewRecording();
      m_host->U_UpdateAudioPreviewControl();
    }
  }
}

// --- the package -------------------------------------------------------------------------------

void VLLiveWC_Recording::saveCapturedFootage() {
  if (const std::shared_ptr<VLDocument> document = vlDocument()) document->updateSettingsFile();
  saveFootageToFile(m_controller->savedPackageURL(m_host->targetURL()));
}

void VLLiveWC_Recording::saveFootageToFile(const QUrl& url) {
  addZRNRecentItemForPath(url.toLocalFile());
  if (Prefs_Shared().reopenSavedRecording()) U_OpenWindowForTopDoc();
}

// --- confirmation and closing --------------------------------------------------------------------

int VLLiveWC_Recording::U_GetUserVerifiedCloseWithError(int request) {
  // A waiting job is counted in both terms.
  const int count = capturePlaybackWaitingJobs() + capturePlaybackPendingJobs();
  if (Prefs_Shared().askForCaptureStop()) {
    const int answer = Alert_ShowAlertWithID(LiveWC_ConfirmationAlertID(request, count));
    if (answer != -1000) return answer;
  }
  setIsClosing(request != 20007);
  ZRNAppHost_Shared().setAppIsQuitting(request == 20007);
  if (count >= 1) {
    QPointer<VLLiveWC_Recording> self(this);
    Dispatch_MainAsync([self] {
      if (self) self->clearAllPendingJobs();
    });
    Dispatch_MainAsync([self] {
      if (self) self->u_DoCloseTheWindow();
    });
  }
  return -1000;
}

void VLLiveWC_Recording::askUserToVerifyClose() {
  if (U_GetUserVerifiedCloseWithError(20004) != -1000) return;
  QPointer<VLLiveWC_Recording> self(this);
  Dispatch_MainAsync([self] {
    if (self) self->U_StopCapturing(true);
  });
}

bool VLLiveWC_Recording::windowShouldClose() {
  // Between the writer's finish and the saved footage the window stays: it closes (or the application
  // quits) by itself once the footage is saved, and going now would leave the package unfinished.
  if (stopUnderWay()) return false;
  // A start still waiting for the camera has made nothing: it is given up and the window closes. One
  // that has begun is a recording.
  if (m_controller->startPending() && m_controller->giveUpPendingStart()) {
    ZRNLogger_Log("ATT: Start Recording given up: the window closes before the camera opened");
    U_StartEnded();
  }
  if (!isRecording() && !m_controller->startPending()) {
    setIsClosing(true);
    m_host->queueStopLiveSession();
    return true;
  }
  askUserToVerifyClose();
  return false;
}

// --- the live window's recording ----------------------------------------------------------------
// VLLiveWC makes its VLLiveWC_Recording with itself and owns it; its recording operations hand over to it
// and its recording state is the recording's.

// The window's answers to its recording: a small class, so that the window's own interface stays its own.
class VLLiveWC::RecordingHost : public VLLiveWC_RecordingHost {
 public:
  explicit RecordingHost(VLLiveWC* live) : m_live(live) {}

  const void* liveWindowObject() const override { return m_live; }
  QWidget* window() const override { return m_live; }
  QWidget* previewView() const override { return m_live->livePreviewView(); }
  QUrl targetURL() const override { return m_live->targetURL(); }
  QString confirmedReplacementPath() const override { return m_live->confirmedReplacementPath(); }
  bool captureAudio() const override { return m_live->captureAudio(); }
  std::shared_ptr<DispatchQueue> sessionQueue() const override { return m_live->sessionQueue(); }
  std::shared_ptr<DispatchQueue> assetWritingQueue() const override { return m_live->assetWritingQueue(); }
  CaptureSessionRef captureSession() const override { return m_live->captureSession(); }
  void queueStopLiveSession() override { m_live->U_QueueStopLiveSession(); }
  void U_StopAndSaveSessionAndReconfigureLiveSession(bool keep) override {
    m_live->U_StopAndSaveSessionAndReconfigureLiveSession(keep);
  }
  void U_UpdateAudioPreviewControl() override { m_live->U_UpdateAudioPreviewControl(); }
  void U_UpdateSoundControls() override { m_live->U_UpdateSoundControls(); }
  void U_ApplyAspectRule() override { m_live->U_ApplyAspectRule(); }
  void setLiveAudioVolume(float volume) override {
    if (auto preview = m_live->audioPreviewOutput()) preview->setVolume(volume);
  }

 private:
  VLLiveWC* m_live;
};

void VLLiveWC::makeRecording() {
  VLLiveWC_RecordingOutlets outlets;
  outlets.recIndicatorView = m_recIndicatorView;
  outlets.captureDurationLabel = m_captureDurationLabel;
  outlets.recordButton = m_recordButton;
  outlets.showFootageBtn = m_showFootageBtn;
  outlets.footageProgress = m_footageProgress;
  outlets.sourcePrefsBtn = m_sourcePrefsBtn;
  m_recordingHost = std::make_unique<RecordingHost>(this);
  // The window observes "VLMovieStarted" itself and hands it on.
  m_recording = std::make_unique<VLLiveWC_Recording>(m_recordingHost.get(), outlets, nullptr, false);
}

void VLLiveWC::prepareForNewRecording() {
  U_ApplyAspectRule();
  m_recording->prepareForNewRecording();
}

void VLLiveWC::handleMovieStarted(const Notification& note) { m_recording->handleMovieStarted(note); }

void VLLiveWC::toggleCapture() { m_recording->toggleCapture(); }

void VLLiveWC::showInfo(QWidget* sender) { m_recording->showInfo(sender); }
bool VLLiveWC::windowIsNaturalSize() const { return m_recording->windowIsNaturalSize(); }
bool VLLiveWC::windowCanIncreaseSize() const { return m_recording->windowCanIncreaseSize(); }
bool VLLiveWC::windowCanDecreaseSize() const { return m_recording->windowCanDecreaseSize(); }
void VLLiveWC::resizeToNaturalSize() { m_recording->resizeToNaturalSize(); }
void VLLiveWC::increaseWindowSize() { m_recording->increaseWindowSize(); }
void VLLiveWC::decreaseWindowSize() { m_recording->decreaseWindowSize(); }

void VLLiveWC::U_FinishStopAndSave(bool keep) { m_recording->U_FinishStopAndSave(keep); }

void VLLiveWC::captureOutput(CaptureOutput* output, const SampleBufferRef& sampleBuffer) {
  // The recorder is the outputs' delegate itself; anything handed here goes the same way.
  m_recording->recorder().captureOutput(output, sampleBuffer);
}

void VLLiveWC::U_ClearWriter() {
  // The window's first load runs before its recording is made: nothing to clear then.
  if (m_recording) m_recording->recorder().cameraIsReady();
}

bool VLLiveWC::windowShouldClose() { return m_recording->windowShouldClose(); }

bool VLLiveWC_WaitUntilRecordingSaved(int timeoutMillis) {
  const QPointer<VLLiveWC> live = VLLiveWC_Current();
  auto pending = [&live] { return live && live->recording().stopUnderWay(); };
  if (!pending()) return true;
  // The stop completes in main-queue steps; the tick wakes the loop to look at the clock.
  QTimer tick;
  tick.start(50);
  QElapsedTimer clock;
  clock.start();
  while (pending()) {
    if (clock.hasExpired(timeoutMillis)) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

int VLLiveWC_GetUserVerifiedCloseWithError(int alertID) {
  VLLiveWC* live = VLLiveWC_Current();
  return live ? live->recording().U_GetUserVerifiedCloseWithError(alertID) : -1000;
}

void VLLiveWC_PrepareToQuit(bool keep) {
  if (VLLiveWC* live = VLLiveWC_Current()) live->recording().prepareToQuit(keep);
}

// The application's documents and the live recording's playback window

void VLLiveWC_Recording::U_OrderOutPreferencesWindow() { ZRNAppHost_Shared().orderOutPreferencesWindow(); }

void VLLiveWC_Recording::U_CloseFileIfOpen(const QString& path) {
  ZRNAppHost_Shared().U_CloseFileIfOpen(path);
}

void VLLiveWC_Recording::addZRNRecentItemForPath(const QString& path) {
  ZRNAppHost_Shared().addZRNRecentItemForPath(path);
}

void VLLiveWC_Recording::U_OpenWindowForTopDoc() {
  ZRNAppHost_Shared().U_OpenWindowForTopDoc();
}

bool VLLiveWC_Recording::hasCapturePlaybackWC() const { return ZRNAppHost_Shared().capturePlaybackWindow(); }

void VLLiveWC_Recording::U_OpenLiveRecordingAndShow(bool show) {
  ZRNAppHost_Shared().U_OpenLiveRecordingAndShow(show);
}

int VLLiveWC_Recording::capturePlaybackWaitingJobs() const { return ZRNAppHost_Shared().capturePlaybackWaitingJobs(); }

int VLLiveWC_Recording::capturePlaybackPendingJobs() const { return ZRNAppHost_Shared().capturePlaybackPendingJobs(); }

void VLLiveWC_Recording::clearAllPendingJobs() {
  ZRNAppHost_Shared().clearCapturePlaybackPendingJobs();
}

void VLLiveWC_Recording::u_DoCloseTheWindow() {
  // The recording's playback window; the stop that follows closes it for good.
  if (QWidget* window = ZRNAppHost_Shared().capturePlaybackWindow()) window->close();
}
