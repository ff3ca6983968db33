#include "capture/LiveCaptureController.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNLogger.h"
#include "capture/ZRNCaptureDevices.h"
#include "platform/gui/DialogRunner.h"
#include "platform/media/capture/CaptureReader.h"

#include <cmath>
#include <utility>
#include <vector>

namespace {

// The saved device when it is connected, else the system's default of that type; isDefault tells which.
CaptureDeviceRef U_SavedOrDefaultDevice(MediaType type, const QString& savedUID, bool* isDefault) {
  CaptureDeviceRef device;
  if (!savedUID.isEmpty()) device = CapDev_DeviceWithUID(type, savedUID);
  *isDefault = !device;
  if (!device) device = CaptureDevice::defaultDeviceWithMediaType(type);
  return device;
}

// A session's configuration is committed once, whichever step of the build stopped it.
class U_CommitOnExit {
 public:
  explicit U_CommitOnExit(const CaptureSessionRef& session) : m_session(session) {}
  ~U_CommitOnExit() { m_session->commitConfiguration(); }
  U_CommitOnExit(const U_CommitOnExit&) = delete;
  U_CommitOnExit& operator=(const U_CommitOnExit&) = delete;

 private:
  CaptureSessionRef m_session;
};

// The controllers made with create(), for the end of the process. Used on the main thread only.
std::vector<std::weak_ptr<LiveCaptureController>>& U_Controllers() {
  static std::vector<std::weak_ptr<LiveCaptureController>> controllers;
  return controllers;
}

}  // namespace

LiveCaptureController::LiveCaptureController(std::shared_ptr<DispatchQueue> sessionQueue)
    : m_sessionQueue(std::move(sessionQueue)) {}

std::shared_ptr<LiveCaptureController> LiveCaptureController::create(std::shared_ptr<DispatchQueue> sessionQueue) {
  Dispatch_AssertMainThread(__func__);
  auto controller = std::make_shared<LiveCaptureController>(std::move(sessionQueue));
  auto& controllers = U_Controllers();
  std::erase_if(controllers, [](const std::weak_ptr<LiveCaptureController>& c) { return c.expired(); });
  controllers.push_back(controller);
  return controller;
}

bool LiveCaptureController::finishForTermination(std::chrono::milliseconds limit) {
  Dispatch_AssertMainThread(__func__);
  m_alive = false;
  if (!m_sessionQueue) return true;
  // After a build under way, which stops its own session when it sees the controller gone.
  m_sessionQueue->async([self = shared_from_this()] { self->U_StopLiveSession(); });
  return m_sessionQueue->finish(limit);
}

bool LiveCapture_StopForTermination(std::chrono::milliseconds limit) {
  Dispatch_AssertMainThread(__func__);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto left = [deadline] {
    const auto now = std::chrono::steady_clock::now();
    return now < deadline ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) : std::chrono::milliseconds(0);
  };
  std::vector<std::shared_ptr<LiveCaptureController>> controllers;
  for (const auto& weak : std::exchange(U_Controllers(), {}))
    if (auto controller = weak.lock()) controllers.push_back(controller);
  bool finished = true;
  for (const auto& controller : controllers) finished = controller->finishForTermination(left()) && finished;
  // The readers have stopped: no preview is queued any more.
  return CaptureReader::FinishPreviews(left()) && finished;
}

CaptureSessionRef LiveCaptureController::captureSession() const {
  std::lock_guard lock(m_sessionMutex);
  return m_captureSession;
}

CaptureDeviceRef LiveCaptureController::videoCaptureDevice() const {
  std::lock_guard lock(m_sessionMutex);
  return m_videoCaptureDevice;
}

CaptureDeviceRef LiveCaptureController::audioCaptureDevice() const {
  std::lock_guard lock(m_sessionMutex);
  return m_audioCaptureDevice;
}

std::shared_ptr<CaptureAudioPreviewOutput> LiveCaptureController::audioPreviewOutput() const {
  std::lock_guard lock(m_sessionMutex);
  return m_audioPreviewOutput;
}

void LiveCaptureController::shutdown() {
  m_alive = false;
  U_StopAndUnlock(captureSession());
}

void LiveCaptureController::U_UnlockCamera() {
  const CaptureDeviceRef camera = videoCaptureDevice();
  if (camera && m_videoDeviceLocked.exchange(false)) camera->unlockForConfiguration();
}

void LiveCaptureController::U_StopAndUnlock(const CaptureSessionRef& session) {
  if (session) session->stopRunning();
  U_UnlockCamera();
}

void LiveCaptureController::queueStopLiveSession() {
  if (!m_sessionQueue) return;
  m_sessionQueue->async([self = shared_from_this()] {
    if (self->isAlive()) self->U_StopLiveSession();
  });
}

void LiveCaptureController::queueReconfigure(std::function<bool()> rebuild, std::function<void()> done) {
  if (!m_sessionQueue) return;
  m_sessionQueue->async([self = shared_from_this(), rebuild = std::move(rebuild), done = std::move(done)] {
    if (!self->isAlive()) return;
    self->U_StopLiveSession();
    if (rebuild()) self->U_SessQueue_ConfigureNewCaptureSession();
    done();
  });
}

void LiveCaptureController::U_StopLiveSession() {
  Dispatch_AssertQueue(m_sessionQueue, __func__);
  m_sessionRunning = false;
  CaptureSessionRef session = captureSession();
  if (!session) return;
  session->stopRunning();
  session->beginConfiguration();
  std::lock_guard lock(m_sessionMutex);
  if (m_audioPreviewOutput) session->removeOutput(m_audioPreviewOutput);
  m_audioPreviewOutput.reset();
  if (m_videoCaptureDeviceInput) session->removeInput(m_videoCaptureDeviceInput);
  m_videoCaptureDeviceInput.reset();
  if (m_audioCaptureDeviceInput) session->removeInput(m_audioCaptureDeviceInput);
  m_audioCaptureDeviceInput.reset();
  session->commitConfiguration();
  m_captureSession.reset();
}

void LiveCaptureController::U_SessQueue_ConfigureNewCaptureSession() {
  Dispatch_AssertQueue(m_sessionQueue, __func__);
  auto session = std::make_shared<CaptureSession>();
  {
    std::lock_guard lock(m_sessionMutex);
    m_captureSession = session;
  }
  session->beginConfiguration();
  ZRNLogger_Log(" gAppPrefs.cameraUID: %@", Prefs_Shared().cameraUID());
  ZRNLogger_Log("gAppPrefs.cameraName: %@", Prefs_Shared().cameraName());
  {
    const U_CommitOnExit commit(session);
    const CaptureDeviceRef camera = U_SessQueue_AttachCamera(session);
    if (!camera || !U_SessQueue_AttachMicrophone(session)) return;
    session->setSessionPreset(QString::fromLatin1(kCaptureSessionPresetHigh));
    configureCamera(camera, Prefs_Shared().movieSize(), Prefs_Shared().captureFPS());
  }
  session->startRunning();
  // The window went while this build ran.
  if (!isAlive()) U_StopAndUnlock(session);
}

CaptureDeviceRef LiveCaptureController::U_SessQueue_AttachCamera(const CaptureSessionRef& session) {
  bool cameraIsDefault = false;
  CaptureDeviceRef camera = U_SavedOrDefaultDevice(MediaType::Video, Prefs_Shared().cameraUID(), &cameraIsDefault);
  if (!camera) {
    ZRNLogger_Log("ERR: NO CAMERA found");
    return nullptr;
  }
  if (cameraIsDefault) {
    Prefs_Shared().setCameraUID(camera->uniqueID());
    Prefs_Shared().setCameraName(camera->localizedName());
    CapDev_CheckCameraPresence();
    CapDev_CheckMicrophonePresence();
  }
  // Termination ended a waiting dialog: nothing is built on its behalf.
  if (Gui_TerminationRequested()) return nullptr;
  U_UnlockCamera();
  {
    std::lock_guard lock(m_sessionMutex);
    m_videoCaptureDevice = camera;
  }

  QString error;
  auto videoInput = CaptureDeviceInput::deviceInputWithDevice(camera, &error);
  if (!videoInput) {
    ZRNLogger_Log("ERR: Could not create video device input: %@", error);
    return nullptr;
  }
  if (!session->canAddInput(videoInput)) {
    ZRNLogger_Log("ERR: Could not add video device input to the session");
    return nullptr;
  }
  session->addInput(videoInput);
  std::lock_guard lock(m_sessionMutex);
  m_videoCaptureDeviceInput = videoInput;
  return camera;
}

bool LiveCaptureController::U_SessQueue_AttachMicrophone(const CaptureSessionRef& session) {
  m_isElgatoSPlus = CapDev_IsHD60SPlusCamera(Prefs_Shared().cameraUID());
  if (m_isElgatoSPlus) ZRNLogger_Log("** Elgato 60+ detected");
  m_captureAudio = ZRNAppSetup_HasMicrophoneAccess() && Prefs_Shared().hasAudioDevice() && (Prefs_Shared().captureAudio() || m_isElgatoSPlus);

  std::shared_ptr<CaptureAudioPreviewOutput> preview;
  if (m_captureAudio) {
    bool micIsDefault = false;
    CaptureDeviceRef mic = U_SavedOrDefaultDevice(MediaType::Audio, Prefs_Shared().microphoneUID(), &micIsDefault);
    if (!mic) {
      ZRNLogger_Log("ATT: NO MICROPHONE found");
      return false;
    }
    if (micIsDefault) {
      Prefs_Shared().setMicrophoneUID(mic->uniqueID());
      Prefs_Shared().setMicrophoneName(mic->localizedName());
      Prefs_Shared().setMicrophoneIsBuiltIn(CapDev_IsBuiltInMicrophone(mic));
      if (!CapDev_CheckMicrophonePresence() && Gui_TerminationRequested()) return false;
    }
    {
      std::lock_guard lock(m_sessionMutex);
      m_audioCaptureDevice = mic;
    }
    QString error;
    auto audioInput = CaptureDeviceInput::deviceInputWithDevice(mic, &error);
    const bool refused = audioInput && !session->canAddInput(audioInput);
    if (!audioInput || refused) {
      if (!audioInput)
        ZRNLogger_Log("ERR: Could not create audio device input: %@", error);
      else
        ZRNLogger_Log("ERR: Could not add audio device input to the session");
      std::lock_guard lock(m_sessionMutex);
      m_audioCaptureDevice.reset();
      return false;
    }
    session->addInput(audioInput);
    {
      std::lock_guard lock(m_sessionMutex);
      m_audioCaptureDeviceInput = audioInput;
      preview = m_audioPreviewOutput;
    }
    if (Prefs_Shared().captureAudio()) {
      // With the built-in microphone the sound is not monitored: the speakers would feed it back.
      if (!preview && !Prefs_Shared().microphoneIsBuiltIn()) {
        preview = std::make_shared<CaptureAudioPreviewOutput>();
        preview->setVolume(1.0f);
        const QString outputUID = CapDev_DefaultOutputDeviceUID();
        if (!outputUID.isEmpty()) preview->setOutputDeviceUniqueID(outputUID);
        if (session->canAddOutput(preview))
          session->addOutput(preview);
        else
          preview.reset();
      }
    } else {
      preview.reset();
    }
  }
  std::lock_guard lock(m_sessionMutex);
  m_audioPreviewOutput = m_captureAudio ? preview : nullptr;
  return true;
}

bool LiveCaptureController::configureCamera(const CaptureDeviceRef& camera, const QSizeF& size, double frameRate) {
  if (!camera) return false;
  CaptureDeviceFormatRef bestFormat;
  double bestMax = -1;
  for (const auto& format : camera->formats()) {
    if (!CapDev_IsAcceptedVideoSubType(format->mediaSubType)) continue;
    if (format->dimensions.width() != size.width() || format->dimensions.height() != size.height()) continue;
    for (const FrameRateRange& range : format->videoSupportedFrameRateRanges) {
      if (range.minFrameRate <= frameRate && frameRate <= range.maxFrameRate && range.maxFrameRate > bestMax) {
        bestMax = range.maxFrameRate;
        bestFormat = format;
      }
    }
  }
  if (!bestFormat) return false;  // the session keeps the preset's format
  QString error;
  if (!camera->lockForConfiguration(&error)) {
    ZRNLogger_Log("ERR: in device lockForConfiguration: %@", error);
    return false;
  }
  ZRNLogger_Log("--transportType: %d", camera->transportType());
  ZRNLogger_Log("--inputSources: %@", camera->inputSources());
  ZRNLogger_Log("--activeInputSource: %@", camera->activeInputSource());
  ZRNLogger_Log("--modelID: %@", camera->modelID());
  ZRNLogger_Log("--OLD activeFormat: %@", camera->activeFormat() ? camera->activeFormat()->description() : QStringLiteral("(null)"));
  camera->setActiveFormat(bestFormat);
  QStringList ranges;
  for (const FrameRateRange& r : bestFormat->videoSupportedFrameRateRanges) ranges << r.description();
  ZRNLogger_Log("--videoSupportedFrameRateRanges: %@", ranges);
  // 1000 / (rate * 1000, rounded) seconds: 29.97 gives 1000/29970. The rate comes from a float
  // preference, and 29.97f is 29.9699997...: truncating would make it 29969.
  const MediaTime duration = MediaTimeMake(1000, static_cast<int32_t>(std::lround(frameRate * 1000.0)));
  camera->setActiveVideoMinFrameDuration(duration);
  camera->setActiveVideoMaxFrameDuration(duration);
  ZRNLogger_Log("--NEW activeFormat: %@", bestFormat->description());
  m_videoDeviceLocked = true;
  return true;
}
