#include "capture/VLLiveWC_Recording.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNLogger.h"
#include "common/ZRNSystemFunctions.h"
#include "session/VLDocument.h"
#include "capture/VLLiveWC.h"

#include <QPushButton>

// The start of a recording: from the button or Ctrl+R to the writer's start on the session queue.

void VLLiveWC_Recording::UU_StartRecording() {
  U_OrderOutPreferencesWindow();
  if (Sys_IsOnBattery() && Alert_ShowAlertWithID(20030) != -1000) return;
  // The battery question ran an event loop: the window may have begun to close meanwhile.
  if (!mayStartRecording()) return;
  LiveRecordingController::removeReplacedPackage(m_host->targetURL().toLocalFile(), m_host->confirmedReplacementPath(),
                                                 [this](const QString& path) { U_CloseFileIfOpen(path); });
  Sys_PreventSystemSleep();
  U_StartCapturing();
}

void VLLiveWC_Recording::U_StartCapturing() {
  m_controller->startRequested();
  U_PostUnderWayChanged();
  // The start waits on the session queue behind a set-up of the session (the camera still opening): the
  // window shows at once that it is coming, and the button stops it only once it has begun.
  showWaitingAnimation();
  if (m_outlets.recordButton) {
    m_outlets.recordButton->setEnabled(false);
    m_outlets.recordButton->setText(QStringLiteral("Stop Recording"));
  }
  QPointer<VLLiveWC_Recording> self(this);
  std::shared_ptr<ZRNRecorder> recorder = m_controller->recorderRef();
  m_controller->sessionQueue()->async([recorder, self, turn = m_controller->startTurn()] {
    // Given up while it waited (the window closed, the application quits): nothing of it runs.
    if (!LiveRecordingController::takeStartTurn(turn)) return;
    recorder->resetForNewRecording();
    Dispatch_MainAsync([self] {
      if (self) self->U_BeginRecording();
    });
  });
}

void VLLiveWC_Recording::U_BeginRecording() {
  if (!m_controller->startPending()) return;
  // The set-up the start waited for may have ended without a picture (the camera went or did not open):
  // nothing is made, and the window says so.
  const CaptureSessionRef session = m_host->captureSession();
  if (!session || !session->isRunning()) {
    ZRNLogger_Log("ERR: Start Recording: the camera is not running; nothing was recorded");
    recorder().setIsRecording(false);
    const bool stopAsked = m_controller->takeDeferredStop() >= 0;
    U_StartEnded();
    if (m_outlets.recordButton) m_outlets.recordButton->setEnabled(false);
    if (stopAsked) {
      U_FinishAfterStop();
    } else {
      Dispatch_MainAsync([] { Alert_ShowAlertWithID(kAlertRecordingNotStarted, QStringLiteral("The camera is not running.")); });
    }
    return;
  }
  m_controller->makePackage(m_host->targetURL(), Prefs_Shared());
  prepareForNewRecording();
  // Listed from its start: a recording cut short (a kill, a crash) is one click away afterwards.
  const QUrl package = m_controller->packageURL();
  if (!package.isEmpty()) addZRNRecentItemForPath(package.toLocalFile());
  showWaitingAnimation();
  if (m_outlets.recordButton) {
    m_outlets.recordButton->setEnabled(true);
    m_outlets.recordButton->setText(QStringLiteral("Stop Recording"));
  }
  setupForRecordingState();
  QPointer<VLLiveWC_Recording> self(this);
  NotificationCenter::defaultCenter().post(kZRNRecordingStateChangedNotification, m_host->liveWindowObject(),
                                           QVariantMap{{kZRNRecIsONKey, true}});
  if (!self) return;
  U_StartCapturing2();
  m_controller->startQueued();
  // A stop asked for while the start waited (a quit, a confirmed close) follows the writer's start.
  const int deferred = m_controller->takeDeferredStop();
  if (deferred >= 0) U_QueueStop(deferred == 1);
}

void VLLiveWC_Recording::U_StartEnded() {
  m_controller->startEnded();
  U_PostUnderWayChanged();
  Sys_ResetSystemSleep();
  stopWaitingAnimation();
  setupForLiveState();
}

void VLLiveWC_Recording::U_StartCapturing2() {
  const std::shared_ptr<VLDocument> document = vlDocument();
  const QUrl package = m_controller->packageURL();
  const QString extension = Prefs_Shared().movieFileExtension();
  const CaptureSessionRef session = m_host->captureSession();
  std::shared_ptr<ZRNRecorder> recorder = m_controller->recorderRef();
  QPointer<VLLiveWC_Recording> self(this);
  m_controller->sessionQueue()->async([recorder, self, document, package, extension, session] {
    recorder->setDocument(document);
    recorder->setCaptureSession(session);
    if (package.isEmpty()) {
      // Without a package there is nowhere to write: the recording ends as soon as it began.
      ZRNLogger_Log("ERR: no session package for the recording");
      Dispatch_MainAsync([self] {
        if (self) self->U_WriterFailed(QStringLiteral("The session package could not be created."), false);
      });
      return;
    }
    recorder->startWriterInPackage(package, extension);
  });
}
