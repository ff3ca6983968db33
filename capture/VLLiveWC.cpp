#include "capture/VLLiveWC.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppHost.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNLogger.h"
#include "common/ZRNTimeFormatting.h"
#include "capture/ZRNCaptureDevices.h"
#include "capture/ZRNRecorder.h"
#include "capture/ZRNWaitingForDeviceWC.h"
#include "session/VLDocument.h"
#include "platform/gui/WindowPlacement.h"
#include "platform/gui/DialogRunner.h"
#include "platform/gui/FilePanels.h"
#include "platform/media/view/PreviewView.h"
#include "ui_VLLiveFeedWC.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

QPointer<VLLiveWC> gCurrentLiveWC;

// Session packages are single items in every file panel of the application, from its start.
void U_RegisterSessionPackages() { FilePanels_RegisterPackageExtension(kVLPackageExtension); }
Q_COREAPP_STARTUP_FUNCTION(U_RegisterSessionPackages)

}  // namespace

VLLiveWC* VLLiveWC_Current() { return gCurrentLiveWC.data(); }

VLLiveWC::VLLiveWC(QWidget* parent) : ZRNSizingWC(parent) {
  gCurrentLiveWC = this;
  setObjectName(QStringLiteral("VLLiveFeedWC"));
  m_targetURL = QUrl();
  auto& center = NotificationCenter::defaultCenter();
  QPointer<VLLiveWC> guard(this);
  m_movieStartedObservation = NotificationObservation(
      center, center.addObserver(kZRNMovieStartedNotificationName, this, [guard](const Notification& note) {
        if (guard) guard->handleMovieStarted(note);
      }));
  U_LoadLayout();
  windowDidLoad();
  makeRecording();
}

VLLiveWC::~VLLiveWC() {
  m_capture->shutdown();
  m_recording->setIsClosing(true);
  m_movieStartedObservation.reset();
  m_sessionStartedObservation.reset();
  m_deviceGoneObservation.reset();
  m_runtimeErrorObservation.reset();
  if (m_livePreviewLayer) m_livePreviewLayer->setSession(nullptr);
  // The session goes down on its own queue, after whatever is still queued there: those blocks hold the
  // capture controller (and through it the queue), not this window.
  if (gCurrentLiveWC == this) gCurrentLiveWC = nullptr;
}

// The window "VLLiveFeedWC": the picture over a dark background, the LIVE/REC badge and the duration
// above it, the buttons below. Every outlet is a widget named as the outlet.
void VLLiveWC::U_LoadLayout() {
  auto* central = new QWidget(this);
  Ui::VLLiveFeedWC layout;
  layout.setupUi(central);
  m_backgroundBox = layout.backgroundBox;
  m_recIndicatorView = layout.recIndicatorView;
  m_captureDurationLabel = layout.captureDurationLabel;
  m_liveViewAspectConstrain = layout.livePreviewView;
  m_livePreviewView = m_liveViewAspectConstrain;
  m_footageProgress = layout.footageProgress;
  m_buttonBackEV = layout.buttonBackEV;
  m_sourcePrefsBtn = layout.sourcePrefsBtn;
  m_audioPreviewBtn = layout.audioPreviewBtn;
  m_showFootageBtn = layout.showFootageBtn;
  m_recordButton = layout.recordButton;
  layout.boxLayout->setContentsMargins(16, m_recViewTopConstrain, 16, 8);
  // The REC badge blinks by hiding: it keeps its place, and the duration keeps a width of its own, so
  // that neither moves when the other changes.
  for (QLabel* label : {m_recIndicatorView.data(), m_captureDurationLabel.data()}) {
    QSizePolicy policy = label->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    label->setSizePolicy(policy);
  }
  m_captureDurationLabel->setMinimumWidth(m_captureDurationLabel->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00:00")));
  m_livePreviewLayer = new CaptureVideoPreviewView;
  m_livePreviewLayer->setObjectName(QStringLiteral("livePreviewLayer"));
  m_livePreviewLayer->setAccessibleName(QStringLiteral("Camera Picture"));
  m_liveViewAspectConstrain->setContentWidget(m_livePreviewLayer);
  setCentralWidget(central);
  resize(960, 640);

  connect(m_audioPreviewBtn, &QPushButton::clicked, this, [this] { setAudioPreviewOnOff(); });
  // "Source Settings…" shows what the window captures, with the way to the camera settings.
  connect(m_sourcePrefsBtn, &QPushButton::clicked, this, [this] { showInfo(m_sourcePrefsBtn); });
  connect(m_recordButton, &QPushButton::clicked, this, [this] { toggleCapture(); });
}

void VLLiveWC::windowDidLoad() {
  QPalette dark = m_backgroundBox->palette();
  dark.setColor(QPalette::Window, QColor::fromRgbF(0.2, 0.2, 0.2, 1.0));
  m_backgroundBox->setPalette(dark);
  U_ClearWriter();
  m_audioPreviewON = true;
  // Named from the start: the camera may keep the window waiting long before its session says more.
  setWindowTitle(QStringLiteral("Velmora -- Live"));
  U_SetAudioPreviewButton(false, false, QString());
  m_recordButton->setEnabled(false);
  m_showFootageBtn->hide();
  m_showFootageBtn->setEnabled(false);
  m_sourcePrefsBtn->setEnabled(true);
  m_recIndicatorView->hide();
  m_captureDurationLabel->hide();
  m_sessionQueue = DispatchQueue::create(QStringLiteral("org.velmora.Velmora.capture"));
  m_assetWritingQueue = DispatchQueue::create(QStringLiteral("org.velmora.Velmora.writing"));
  m_capture = LiveCaptureController::create(m_sessionQueue);

  auto& center = NotificationCenter::defaultCenter();
  // Any session of the process starting refreshes this window. Starts and disconnections are posted on
  // the session queue and the hot-plug thread: the window hears of them on the main thread while it lives.
  m_sessionStartedObservation = NotificationObservation(
      center, center.addObserver(QString::fromLatin1(kCaptureSessionDidStartRunningNotification), nullptr, this,
                                 [this](const Notification& note) { cameraIsReady(note); }));
  m_deviceGoneObservation = NotificationObservation(
      center, center.addObserver(QString::fromLatin1(kCaptureDeviceWasDisconnectedNotification), nullptr, this,
                                 [this](const Notification& note) { U_DeviceDisconnected(note); }));
  // Only logs, on the reader thread that met the error: it takes no lock a stopping session could be
  // waiting for, and needs no window.
  m_runtimeErrorObservation = NotificationObservation(
      center, center.addObserver(QString::fromLatin1(kCaptureSessionRuntimeErrorNotification), nullptr, &VLLiveWC::U_SessionRuntimeError));
  m_recIndicatorLeftActive = false;
  m_recIndicatorRightActive = true;
  m_livePreviewLayer->setBackgroundColor(Qt::black);
}

void VLLiveWC::closeEvent(QCloseEvent* event) {
  if (windowShouldClose())
    ZRNSizingWC::closeEvent(event);
  else
    event->ignore();
}

void VLLiveWC::U_QueueStopLiveSession() {
  if (m_capture) m_capture->queueStopLiveSession();
}

void VLLiveWC::showEvent(QShowEvent* event) {
  ZRNSizingWC::showEvent(event);
  // Window systems without focus (offscreen, some tiling managers) never make the window main: the
  // first showing counts as becoming main.
  QPointer<VLLiveWC> guard(this);
  Dispatch_MainAsync([guard] {
    if (guard) guard->windowDidBecomeMain();
  });
}

void VLLiveWC::changeEvent(QEvent* event) {
  ZRNSizingWC::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) windowDidBecomeMain();
  if (event->type() == QEvent::WindowStateChange) {
    if (isFullScreen())
      windowDidEnterFullScreen();
    else
      windowDidExitFullScreen();
  }
}

void VLLiveWC::windowDidBecomeMain() {
  if (m_isInitialized) return;
  m_isInitialized = true;
  m_canWork = false;
  QPointer<VLLiveWC> guard(this);
  Dispatch_MainAsync([guard] {
    if (guard) guard->U_Initialize();
  });
}

void VLLiveWC::windowDidEnterFullScreen() {
  m_recViewTopConstrain = 48;
  if (auto* l = m_backgroundBox->layout()) l->setContentsMargins(16, m_recViewTopConstrain, 16, 8);
}

void VLLiveWC::windowDidExitFullScreen() {
  m_recViewTopConstrain = 16;
  if (auto* l = m_backgroundBox->layout()) l->setContentsMargins(16, m_recViewTopConstrain, 16, 8);
}

// ---- device check ---------------------------------------------------------------------------------

void VLLiveWC::U_ShowWaitingSheet(MediaType type, const QString& uid, const QString& name, int errorType,
                                  std::function<void(int, int)> ended) {
  auto* dialog = new ZRNWaitingWindowController(uid, name, this);
  dialog->setDeviceType(type);
  // The device may have come while the dialog was made.
  const long index = CapDev_IndexOfDeviceWithUID(type, uid);
  if (index >= 0 && errorType != -1) {
    delete dialog;
    ended(kDialogResultCancel, 0);
    return;
  }
  dialog->setErrorType(errorType);
  U_RunWaitingSheet(dialog, [ended, errorType](int result) { ended(result, errorType); });
}

void VLLiveWC::U_RunWaitingSheet(ZRNWaitingWindowController* dialog, std::function<void(int)> ended) {
  ZRNAppHost_Shared().setAppInModalMode(true);
  m_waitingSheet = dialog;
  // What the answer leads to opens the next sheet or the naming panel, or closes this window; a sheet's
  // answer comes in a turn of its own, once the key or click that ended it has been handled.
  QPointer<VLLiveWC> guard(this);
  Alert_RunAlertSheet(dialog, this, [guard, ended = std::move(ended)](int result) {
    if (guard) ended(result);
  });
}

void VLLiveWC::U_Initialize() {
  m_backgroundBox->layout()->activate();
  const auto& lists = CapDev_DeviceLists();
  if (!lists.camerasArray.empty() && CapDev_IndexOfDeviceWithUID(MediaType::Video, Prefs_Shared().cameraUID()) >= 0) {
    m_canWork = true;
    cameraCheckCompletion();
    return;
  }
  m_canWork = false;
  long index = CapDev_IndexOfDeviceWithUID(MediaType::Video, Prefs_Shared().cameraUID());
  if (index < 0) {
    auto* dialog = new ZRNWaitingWindowController(Prefs_Shared().cameraUID(), Prefs_Shared().cameraName(), this);
    dialog->setDeviceType(MediaType::Video);
    index = CapDev_IndexOfDeviceWithUID(MediaType::Video, Prefs_Shared().cameraUID());
    if (index < 0) {
      dialog->setErrorType(int(index));
      QPointer<VLLiveWC> guard(this);
      const int errorType = int(index);
      ZRNLogger_Log("ATT: waiting for a camera ('%@')", Prefs_Shared().cameraName());
      U_RunWaitingSheet(dialog, [guard, errorType](int result) {
        if (guard) guard->U_CameraSheetEnded(result, errorType);
      });
      return;
    }
    delete dialog;
  }
  m_canWork = true;
  cameraCheckCompletion();
}

void VLLiveWC::U_CameraSheetEnded(int result, int errorType) {
  ZRNAppHost_Shared().setAppInModalMode(false);
  m_canWork = true;
  if (result == kDialogResultFirst) {
    if (errorType == -1) Prefs_Shared().setCameraUID(QStringLiteral("N/A"));
    if (errorType == -2 || errorType == -3) m_canWork = false;
  }
  cameraCheckCompletion();
}

void VLLiveWC::cameraCheckCompletion() {
  if (!m_canWork) {
    close();
    return;
  }
  auto& lists = CapDev_DeviceLists();
  lists.camerasArray = CapDev_ValidateSavedCameraFormat();
  Prefs_Shared().synchronize();
  m_capture->setIsElgatoSPlus(CapDev_IsHD60SPlusCamera(Prefs_Shared().cameraUID()));
  if (m_capture->isElgatoSPlus()) {
    Prefs_Shared().setHasAudioDevice(true);
    microphoneCheckCompletion();
    return;
  }
  Prefs_Shared().setHasAudioDevice(false);
  long index = CapDev_IndexOfDeviceWithUID(MediaType::Audio, Prefs_Shared().microphoneUID());
  if (index >= 0) {
    Prefs_Shared().setHasAudioDevice(true);
  } else {
    auto* dialog = new ZRNWaitingWindowController(Prefs_Shared().microphoneUID(), Prefs_Shared().microphoneName(), this);
    dialog->setDeviceType(MediaType::Audio);
    index = CapDev_IndexOfDeviceWithUID(MediaType::Audio, Prefs_Shared().microphoneUID());
    if (index >= 0) {
      delete dialog;
      Prefs_Shared().setHasAudioDevice(true);
    } else {
      dialog->setErrorType(int(index));
      QPointer<VLLiveWC> guard(this);
      const int errorType = int(index);
      U_RunWaitingSheet(dialog, [guard, errorType](int result) {
        if (guard) guard->U_MicrophoneSheetEnded(result, errorType);
      });
      return;
    }
  }
  microphoneCheckCompletion();
}

void VLLiveWC::U_MicrophoneSheetEnded(int result, int errorType) {
  ZRNAppHost_Shared().setAppInModalMode(false);
  Prefs_Shared().setHasAudioDevice(true);
  if (result == kDialogResultFirst) {
    if (errorType == -1) {
      Prefs_Shared().setMicrophoneUID(QStringLiteral("N/A"));
      Prefs_Shared().setHasAudioDevice(false);
    }
    if (errorType == -2) Prefs_Shared().setHasAudioDevice(false);
  }
  microphoneCheckCompletion();
}

void VLLiveWC::microphoneCheckCompletion() {
  auto& lists = CapDev_DeviceLists();
  if (Prefs_Shared().hasAudioDevice()) {
    lists.microphonesArray = CapDev_SelectMicrophone(lists.camerasArray, CapDev_IsHD60SPlusCamera(Prefs_Shared().cameraUID()));
    Prefs_Shared().synchronize();
  }
  const qint64 cameraIndex = Prefs_Shared().cameraIndex();
  if (cameraIndex >= 0 && cameraIndex < qint64(lists.camerasArray.size()))
    CapDev_BuildFormatDicts(lists.camerasArray[size_t(cameraIndex)]);
  if (!Prefs_Shared().hasAudioDevice()) {
    Prefs_Shared().setMicrophoneUID(QStringLiteral("ZRNNoMicAvail"));
    Prefs_Shared().setCaptureAudio(false);
  } else {
    CapDev_LoadMicrophoneFormats();
  }
  updateForCameraSetup();
  U_ApplyAspectRule();
  prepareForNewRecording();
  getSaveName();
}

void VLLiveWC::U_ApplyAspectRule() {
  const QSizeF size = Prefs_Shared().movieSize();
  if (size.height() <= 0 || size.width() <= 0) return;
  const double ratio = size.width() / size.height();
  if (std::abs(m_liveViewAspectConstrain->multiplier() - ratio) > 0.01) m_liveViewAspectConstrain->updateMultiplier(ratio);
}

// ---- the capture session ------------------------------------------------------------------------------

CaptureSessionRef VLLiveWC::captureSession() const { return m_capture->captureSession(); }
CaptureDeviceRef VLLiveWC::videoCaptureDevice() const { return m_capture->videoCaptureDevice(); }
CaptureDeviceRef VLLiveWC::audioCaptureDevice() const { return m_capture->audioCaptureDevice(); }
std::shared_ptr<CaptureAudioPreviewOutput> VLLiveWC::audioPreviewOutput() const { return m_capture->audioPreviewOutput(); }

void VLLiveWC::cameraIsReady(const Notification& note) {
  // Any session of the process that started. Its note only names it: the session itself may be gone.
  const CaptureSessionRef current = m_capture->captureSession();
  m_capture->setSessionRunning(current && note.object == current.get() && current->isRunning());
  QPointer<VLLiveWC> guard(this);
  const std::shared_ptr<LiveCaptureController> capture = m_capture;
  const std::shared_ptr<ZRNRecorder> recorder = m_recording->recorderRef();
  capture->sessionQueue()->async([guard, capture, recorder] {
    if (!capture->isAlive()) return;
    recorder->cameraIsReady();
    const CaptureSessionRef session = capture->captureSession();
    capture->setSessionRunning(session && session->isRunning());
    Dispatch_MainAsync([guard, session] {
      if (!guard) return;
      VLLiveWC* self = guard.data();
      self->setWindowTitle(Fmt("%@ -- Live", Prefs_Shared().cameraName()));
      self->m_livePreviewLayer->setVideoGravity(QString::fromLatin1(kLayerVideoGravityResizeAspect));
      self->m_livePreviewLayer->setBackgroundColor(Qt::black);
      self->m_livePreviewLayer->setSession(session);
      if (auto preview = self->audioPreviewOutput()) preview->setVolume(self->m_audioPreviewON ? 1.0f : 0.0f);
      self->U_ApplyAspectRule();
      self->m_recIndicatorView->show();
      // A start that waited for this camera, or a recording, keeps its own button.
      if (!self->m_recording->recordingUnderWay()) {
        self->m_recordButton->setText(QStringLiteral("Start Recording"));
        self->enableSettingsInterfaceElements(true);
      }
      self->U_UpdateSoundControls();
      if (auto preview = self->audioPreviewOutput()) preview->setVolume(self->m_audioPreviewON ? 1.0f : 0.0f);
    });
  });
}

void VLLiveWC::U_QueueReconfigure(std::function<void(VLLiveWC&)> ended) {
  QPointer<VLLiveWC> guard(this);
  const std::shared_ptr<const std::atomic<bool>> closing = m_recording->closingFlag();
  m_capture->queueReconfigure([closing] { return !closing->load() && !ZRNAppHost_Shared().appIsQuitting(); },
                              [guard, ended = std::move(ended)] {
                                Dispatch_MainAsync([guard, ended] {
                                  if (guard) ended(*guard);
                                });
                              });
}

void VLLiveWC::U_StopAndSaveSessionAndReconfigureLiveSession(bool keep) {
  U_QueueReconfigure([keep](VLLiveWC& live) { live.U_FinishStopAndSave(keep); });
}

void VLLiveWC::U_ReconfigureLiveSession() {
  U_QueueReconfigure([](VLLiveWC& live) { live.U_LiveSessionSetUpEnded(); });
}

void VLLiveWC::U_LiveSessionSetUpEnded() {
  // A set-up (launch, settings, a camera back) ends in the interface only. A recording that started while
  // it ran, or one being saved, decides about its own package and its own button.
  if (m_recording->recordingUnderWay()) {
    U_UpdateAudioPreviewControl();
    return;
  }
  if (ZRNAppHost_Shared().appIsQuitting()) {
    close();
    ZRNAppHost_Shared().terminate();
  } else if (isClosing()) {
    close();
  } else {
    prepareForNewRecording();
    U_UpdateAudioPreviewControl();
  }
}

// ---- preference changes ---------------------------------------------------------------------------------

void VLLiveWC::updateSessionSettingsForNewPrefs() {
  auto& lists = CapDev_DeviceLists();
  const qint64 cameraIndex = Prefs_Shared().cameraIndex();
  if (cameraIndex >= 0 && cameraIndex < qint64(lists.camerasArray.size()))
    CapDev_BuildFormatDicts(lists.camerasArray[size_t(cameraIndex)]);
  if (Prefs_Shared().hasAudioDevice() && ZRNAppSetup_HasMicrophoneAccess()) CapDev_LoadMicrophoneFormats();
  updateLiveSettings();
}

void VLLiveWC::updateLiveSettings() {
  Prefs_Shared().synchronize();
  updateForCameraSetup();
}

void VLLiveWC::updateForCameraSetup() {
  enableSettingsInterfaceElements(false);
  m_capture->setCaptureAudio(Prefs_Shared().hasAudioDevice() && Prefs_Shared().captureAudio() && ZRNAppSetup_HasMicrophoneAccess());
  U_ApplyAspectRule();
  U_ReconfigureLiveSession();
  U_UpdateAudioPreviewControl();
}

void VLLiveWC::updateSessionInterfaceSettings() { updateForAudioOnOffPrefsSetup(); }

void VLLiveWC::updateForAudioOnOffPrefsSetup() {
  const bool wanted = ZRNAppSetup_HasMicrophoneAccess() && Prefs_Shared().hasAudioDevice() && (Prefs_Shared().captureAudio() || m_capture->isElgatoSPlus());
  if (wanted == m_capture->captureAudio()) {
    U_UpdateAudioPreviewControl();
    return;
  }
  m_capture->setCaptureAudio(Prefs_Shared().hasAudioDevice() && Prefs_Shared().captureAudio());
  U_ReconfigureLiveSession();
}

void VLLiveWC::enableSettingsInterfaceElements(bool flag) {
  // A camera with nothing recordable never gets a running record button.
  if (flag && CapDev_DeviceLists().sizesArray.empty()) {
    ZRNLogger_Log("ATT: Start Recording stays disabled: camera '%@' offers no format that can be recorded", Prefs_Shared().cameraName());
    flag = false;
  }
  // Nor does a window that has recorded (or closes): it records once. While it records the button
  // is the one that stops.
  if (flag && m_recording && !m_recording->isRecording() && !m_recording->mayStartRecording()) flag = false;
  if (m_recordButton) m_recordButton->setEnabled(flag);
}

// ---- faults while live -------------------------------------------------------------------------------------

void VLLiveWC::U_DeviceDisconnected(const Notification& note) {
  const CaptureDeviceRef camera = videoCaptureDevice();
  const QString uid = note.userInfo.value(QStringLiteral("uniqueID")).toString();
  if (!camera || camera->uniqueID() != uid || isClosing()) return;
  // A recording, also one whose footage is still being saved, ends through the recording's own handling.
  if (isRecording() || m_recording->stopUnderWay()) {
    ZRNLogger_Log("ERR: camera '%@' disconnected while recording", camera->localizedName());
    return;
  }
  if (m_waitingForLostCamera) return;
  m_waitingForLostCamera = true;
  ZRNLogger_Log("ATT: camera '%@' disconnected; waiting for it to come back", camera->localizedName());
  enableSettingsInterfaceElements(false);
  QPointer<VLLiveWC> guard(this);
  m_capture->queueStopLiveSession();
  U_ShowWaitingSheet(MediaType::Video, camera->uniqueID(), camera->localizedName(), -1, [guard](int result, int) {
    if (!guard) return;
    ZRNAppHost_Shared().setAppInModalMode(false);
    guard->m_waitingForLostCamera = false;
    if (result == kDialogResultFirst) {
      // "Forget device": another camera is chosen by the usual validation.
      Prefs_Shared().setCameraUID(QStringLiteral("N/A"));
      CapDev_DeviceLists().camerasArray = CapDev_ValidateSavedCameraFormat();
      if (CapDev_DeviceLists().camerasArray.empty()) {
        guard->close();
        return;
      }
      CapDev_BuildFormatDicts(CapDev_DeviceLists().camerasArray[size_t(std::max<qint64>(0, Prefs_Shared().cameraIndex()))]);
    }
    guard->updateForCameraSetup();
  });
}

void VLLiveWC::U_SessionRuntimeError(const Notification& note) {
  ZRNLogger_Log("ERR: capture session: %@", note.userInfo.value(QStringLiteral("error")).toString());
}

void VLLiveWC_MakeAndShow() {
  VLLiveWC* live = VLLiveWC_Current();
  if (!live) {
    live = new VLLiveWC;
    live->setAttribute(Qt::WA_DeleteOnClose);
  }
  Gui_ShowWindowInArea(live);
  live->raise();
  live->activateWindow();
}

bool VLLiveWC_RecordingIsON() {
  const VLLiveWC* live = VLLiveWC_Current();
  return live && live->isRecording();
}

bool VLLiveWC_RecordingUnderWay() {
  const VLLiveWC* live = VLLiveWC_Current();
  return live && live->recording().recordingUnderWay();
}
