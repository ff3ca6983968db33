#pragma once
// The live window's capture session and what it is built from: the session, its inputs and devices, the
// sound monitor and the flags the build decides. The session is built and torn down on the capture-session
// queue, and a build can wait there for a long time (a waiting dialog for a device on the main thread), so
// this state must outlive the window: blocks queued on the session queue hold this object, never the
// window, and the window going only clears isAlive. Knows no widget.

#include "platform/foundation/DispatchQueue.h"
#include "platform/media/capture/CaptureSession.h"

#include <QSizeF>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class LiveCaptureController : public std::enable_shared_from_this<LiveCaptureController> {
 public:
  // A null queue checks no thread (tests that configure a camera directly).
  explicit LiveCaptureController(std::shared_ptr<DispatchQueue> sessionQueue);
  LiveCaptureController(const LiveCaptureController&) = delete;
  LiveCaptureController& operator=(const LiveCaptureController&) = delete;

  // A controller the end of the process knows of (LiveCapture_StopForTermination).
  static std::shared_ptr<LiveCaptureController> create(std::shared_ptr<DispatchQueue> sessionQueue);

  std::shared_ptr<DispatchQueue> sessionQueue() const { return m_sessionQueue; }

  // ---- Any thread ----
  // Cleared when the window goes: blocks still queued then do nothing.
  bool isAlive() const { return m_alive.load(); }
  bool sessionRunning() const { return m_sessionRunning.load(); }
  void setSessionRunning(bool running) { m_sessionRunning = running; }
  bool isElgatoSPlus() const { return m_isElgatoSPlus.load(); }
  void setIsElgatoSPlus(bool hd60) { m_isElgatoSPlus = hd60; }
  // Whether the session captures sound (the window's sound switch).
  bool captureAudio() const { return m_captureAudio.load(); }
  void setCaptureAudio(bool capture) { m_captureAudio = capture; }
  bool videoDeviceLocked() const { return m_videoDeviceLocked.load(); }
  // The session queue writes these, the main thread reads them.
  CaptureSessionRef captureSession() const;
  CaptureDeviceRef videoCaptureDevice() const;
  CaptureDeviceRef audioCaptureDevice() const;
  std::shared_ptr<CaptureAudioPreviewOutput> audioPreviewOutput() const;

  // ---- Main thread ----
  // The window goes. The devices are let go at once, so that a window opened next finds them free; a
  // build still under way stops its own session when it sees the controller no longer alive.
  void shutdown();
  // Tears the session down on the session queue, after what is queued there.
  void queueStopLiveSession();
  // On the session queue: tears the session down, builds it again when rebuild() answers YES there, then
  // calls done() there. Nothing runs when the window went before the block's turn came.
  void queueReconfigure(std::function<bool()> rebuild, std::function<void()> done);

  // No longer alive; the session is torn down on the session queue after what is queued there, and the
  // queue's worker ends and is joined, within `limit`. NO when the queue had not ended by then (a build
  // waiting on a device that does not open): its worker is left running.
  bool finishForTermination(std::chrono::milliseconds limit);

  // ---- Session queue ----
  void U_SessQueue_ConfigureNewCaptureSession();
  void U_StopLiveSession();
  // The camera's format with the highest frame-rate range that holds frameRate at that size, locked for
  // the session; NO leaves the preset's format (nothing fits, or the camera could not be locked).
  bool configureCamera(const CaptureDeviceRef& camera, const QSizeF& size, double frameRate);

 private:
  // The steps of a build; each answers NO when the build stops there.
  CaptureDeviceRef U_SessQueue_AttachCamera(const CaptureSessionRef& session);
  bool U_SessQueue_AttachMicrophone(const CaptureSessionRef& session);
  // Lets go of the camera's configuration lock, when this controller holds it.
  void U_UnlockCamera();
  void U_StopAndUnlock(const CaptureSessionRef& session);

  std::shared_ptr<DispatchQueue> m_sessionQueue;
  std::atomic<bool> m_alive{true};
  std::atomic<bool> m_sessionRunning{false};
  std::atomic<bool> m_isElgatoSPlus{false};
  std::atomic<bool> m_captureAudio{false};
  std::atomic<bool> m_videoDeviceLocked{false};

  mutable std::mutex m_sessionMutex;
  CaptureSessionRef m_captureSession;
  CaptureDeviceRef m_videoCaptureDevice;
  CaptureDeviceRef m_audioCaptureDevice;
  CaptureDeviceInputRef m_videoCaptureDeviceInput;
  CaptureDeviceInputRef m_audioCaptureDeviceInput;
  std::shared_ptr<CaptureAudioPreviewOutput> m_audioPreviewOutput;
};

// The end of the process, on the main thread, before the application's objects and the process's globals
// go: every controller made with create() and still in use finishes its session queue (the session, its
// readers and the builds queued there stop), then the capture preview thread ends. All within `limit`; NO
// when something still ran then, which may go on using what the exit handlers free.
bool LiveCapture_StopForTermination(std::chrono::milliseconds limit);
