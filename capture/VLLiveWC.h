#pragma once
// The live window: shows the camera picture, runs one capture session from the chosen camera and
// microphone, and records it (recording: VLLiveWC_Recording.cpp). This file's half covers the
// window's start-up, its queues, the device check, the camera-ready handling and the reactions to
// preference changes; the live-audio control is in VLLiveWC_LiveAudio.cpp. The session itself, built
// on the capture-session queue, belongs to a LiveCaptureController that outlives the window while
// blocks still use it.
//
// The window makes its one VLLiveWC_Recording with itself and owns it; the recording state (recording,
// closing, the growing movie) lives there alone and the window's getters ask it.

#include "common/ZRNBaseClasses.h"
#include "capture/LiveCaptureController.h"
#include "capture/VLLiveWC_Recording.h"
#include "capture/ZRNWaitingForDeviceWC.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/capture/CaptureSession.h"
#include "platform/media/view/PreviewView.h"

#include <functional>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSizeF>
#include <QUrl>

#include <atomic>
#include <memory>
#include <mutex>

class QProgressBar;
class QFrame;
class ZRNAspectRatioBox;


// The folder the save panel of a new recording starts in: the saved one when it is a folder, else the
// user's videos folder (or home).
QString VLLiveWC_SaveFolder(const QUrl& savedFolder);

class VLLiveWC : public ZRNSizingWC, public CaptureSampleBufferDelegate {
  Q_OBJECT
 public:
  explicit VLLiveWC(QWidget* parent = nullptr);
  ~VLLiveWC() override;

  // ---- Outlets (object names as the outlets' names) ----
  QFrame* backgroundBox() const { return m_backgroundBox; }
  QPushButton* sourcePrefsBtn() const { return m_sourcePrefsBtn; }
  QPushButton* showFootageBtn() const { return m_showFootageBtn; }
  QFrame* buttonBackEV() const { return m_buttonBackEV; }
  QPushButton* recordButton() const { return m_recordButton; }
  QWidget* livePreviewView() const { return m_livePreviewView; }
  CaptureVideoPreviewView* livePreviewLayer() const { return m_livePreviewLayer; }
  ZRNAspectRatioBox* liveViewAspectConstrain() const { return m_liveViewAspectConstrain; }
  int recViewTopConstrain() const { return m_recViewTopConstrain; }
  QLabel* recIndicatorView() const { return m_recIndicatorView; }
  bool recIndicatorLeftConstrainActive() const { return m_recIndicatorLeftActive; }
  bool recIndicatorRightConstrainActive() const { return m_recIndicatorRightActive; }
  QLabel* captureDurationLabel() const { return m_captureDurationLabel; }
  QPushButton* audioPreviewBtn() const { return m_audioPreviewBtn; }
  QProgressBar* footageProgress() const { return m_footageProgress; }

  // ---- Capture state ----
  bool isInitialized() const { return m_isInitialized; }
  bool canWork() const { return m_canWork; }
  bool sessionRunning() const { return m_capture->sessionRunning(); }
  bool isElgatoSPlus() const { return m_capture->isElgatoSPlus(); }
  bool captureAudio() const { return m_capture->captureAudio(); }
  bool audioPreviewON() const { return m_audioPreviewON; }
  bool videoDeviceLocked() const { return m_capture->videoDeviceLocked(); }
  // The capture state, shared with the blocks queued on the session queue.
  std::shared_ptr<LiveCaptureController> captureController() const { return m_capture; }
  std::shared_ptr<DispatchQueue> sessionQueue() const { return m_sessionQueue; }
  std::shared_ptr<DispatchQueue> assetWritingQueue() const { return m_assetWritingQueue; }
  // The current session and devices (the session queue writes them, the main thread reads).
  CaptureSessionRef captureSession() const;
  CaptureDeviceRef videoCaptureDevice() const;
  CaptureDeviceRef audioCaptureDevice() const;
  std::shared_ptr<CaptureAudioPreviewOutput> audioPreviewOutput() const;
  QUrl targetURL() const { return m_targetURL; }
  // The existing package at targetURL that the user agreed to replace in the naming panel; empty when
  // the name was free (or the panel did not ask).
  QString confirmedReplacementPath() const { return m_confirmedReplacementPath; }
  QUrl capturedMovieURL() const { return m_recording->capturedMovieURL(); }
  // Read on the session queue too.
  bool isClosing() const { return m_recording->isClosing(); }

  // ---- Operations ----
  void windowDidLoad();
  void windowDidBecomeMain();
  void U_Initialize();
  void windowDidEnterFullScreen();
  void windowDidExitFullScreen();
  void cameraCheckCompletion();
  void microphoneCheckCompletion();
  void setAudioPreviewOnOff();
  void updateLiveSettings();
  void enableSettingsInterfaceElements(bool flag);
  void updateSessionSettingsForNewPrefs();
  void updateSessionInterfaceSettings();
  void updateForAudioOnOffPrefsSetup();
  // On the main thread, for any session of the process that started running.
  void cameraIsReady(const Notification& note);
  // The stop of the recording: the session torn down and built again, then the recording's keep or
  // discard step.
  void U_StopAndSaveSessionAndReconfigureLiveSession(bool keep);
  // A set-up of the session for new settings, the launch or a camera that came back: torn down and built
  // again, then the interface's step only (U_LiveSessionSetUpEnded).
  void U_ReconfigureLiveSession();
  void U_LiveSessionSetUpEnded();
  // Tears the session down and builds it again on the session queue, then runs `ended` on the main queue
  // while the window lives.
  void U_QueueReconfigure(std::function<void(VLLiveWC&)> ended);
  void updateForCameraSetup();
  void getSaveName();
  // The save panel asks whether an item may be chosen.
  bool panel(const QFileDialog* sender, const QUrl& url) const;
  void U_UpdateSoundControls();
  void U_UpdateAudioPreviewControl();
  // The live-audio button's state, image, text (its name for a screen reader) and tool tip.
  void U_SetAudioPreviewButton(bool enabled, bool on, const QString& tip);

  // The name the save panel proposes for a recording started at that moment.
  static QString proposedSaveName(const QDateTime& now);
  // The save panel while it is open (for the window's tests and accessibility).
  QFileDialog* savePanel() const { return m_savePanel; }
  // The waiting sheet while one is shown.
  ZRNWaitingWindowController* waitingSheet() const { return m_waitingSheet; }

  // ---- Recording (VLLiveWC_Recording.cpp) ----
  // The information popover, shown from "Source Settings…".
  void showInfo(QWidget* sender);
  // Sizing: the preview gets exactly the movie's size (VLLiveWC_Recording.cpp).
  bool windowIsNaturalSize() const override;
  bool windowCanIncreaseSize() const override;
  bool windowCanDecreaseSize() const override;

  // The window's recording, made with the window and deleted with it.
  VLLiveWC_Recording& recording() const { return *m_recording; }
  // Any thread: the recorder's own flags.
  bool isRecording() const { return m_recording->isRecording(); }
  bool writingHasStarted() const { return m_recording->recorder().writingHasStarted(); }
  void prepareForNewRecording();
  void handleMovieStarted(const Notification& note);
  void toggleCapture();
  // The keep/discard half of U_StopAndSaveSessionAndReconfigureLiveSession, on the main queue.
  void U_FinishStopAndSave(bool keep);
  // Asked before the window closes: not recording, the session goes and the window closes; recording,
  // the user confirms the stop (when asked to) and the window closes once the footage is saved.
  bool windowShouldClose();
  // Tears the live session down on sessionQueue, after what is queued there.
  void U_QueueStopLiveSession();
  // Sample buffers of the data outputs, on samplesBufferQueue.
  void captureOutput(CaptureOutput* output, const SampleBufferRef& sampleBuffer) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 public slots:
  void resizeToNaturalSize() override;
  void increaseWindowSize() override;
  void decreaseWindowSize() override;

 private:
  // Answers the recording's questions for this window (VLLiveWC_Recording.cpp).
  class RecordingHost;

  void U_LoadLayout();
  // Makes the window's recording; once the layout and the queues exist.
  void makeRecording();
  // Clears the recorder's writer and its inputs; also on the session queue.
  void U_ClearWriter();
  void U_ApplyAspectRule();
  void U_CameraSheetEnded(int result, int errorType);
  void U_MicrophoneSheetEnded(int result, int errorType);
  void U_ShowWaitingSheet(MediaType type, const QString& uid, const QString& name, int errorType,
                          std::function<void(int, int)> ended);
  // Runs the waiting dialog as a sheet on this window; `ended` gets its answer in a turn of its own.
  void U_RunWaitingSheet(ZRNWaitingWindowController* dialog, std::function<void(int)> ended);
  void U_DeviceDisconnected(const Notification& note);
  static void U_SessionRuntimeError(const Notification& note);

  QFrame* m_backgroundBox = nullptr;
  QPushButton* m_sourcePrefsBtn = nullptr;
  QPushButton* m_showFootageBtn = nullptr;
  QFrame* m_buttonBackEV = nullptr;
  QPointer<QPushButton> m_recordButton;
  QPointer<QWidget> m_livePreviewView;
  QPointer<CaptureVideoPreviewView> m_livePreviewLayer;
  ZRNAspectRatioBox* m_liveViewAspectConstrain = nullptr;
  int m_recViewTopConstrain = 16;
  QPointer<QLabel> m_recIndicatorView;
  bool m_recIndicatorLeftActive = false;
  bool m_recIndicatorRightActive = true;
  QPointer<QLabel> m_captureDurationLabel;
  QPointer<QPushButton> m_audioPreviewBtn;
  QProgressBar* m_footageProgress = nullptr;
  QPointer<QFileDialog> m_savePanel;
  QPointer<ZRNWaitingWindowController> m_waitingSheet;

  bool m_isInitialized = false;
  bool m_canWork = false;
  bool m_audioPreviewON = true;
  bool m_waitingForLostCamera = false;
  QUrl m_targetURL;
  QString m_confirmedReplacementPath;
  std::shared_ptr<LiveCaptureController> m_capture;

  NotificationObservation m_movieStartedObservation;
  NotificationObservation m_sessionStartedObservation;
  NotificationObservation m_deviceGoneObservation;
  NotificationObservation m_runtimeErrorObservation;
  // The recording keeps a plain pointer to its host: declared after it, it goes first.
  std::unique_ptr<VLLiveWC_RecordingHost> m_recordingHost;
  std::unique_ptr<VLLiveWC_Recording> m_recording;
  std::shared_ptr<DispatchQueue> m_assetWritingQueue;
  std::shared_ptr<DispatchQueue> m_sessionQueue;
};

// The live window of the application (none while no live session runs).
VLLiveWC* VLLiveWC_Current();
// Makes the live window when there is none, loads it and shows it.
void VLLiveWC_MakeAndShow();
bool VLLiveWC_RecordingIsON();
// A start waits for the camera, a recording runs or its stop has not saved it yet: the session may not be
// set up again (the preferences' camera settings, the bit rate).
bool VLLiveWC_RecordingUnderWay();
// Runs the main queue until a stop of the live window's recording under way has saved its footage, for at
// most timeoutMillis; answers NO when the time ran out first. Nothing to wait for answers YES at once.
bool VLLiveWC_WaitUntilRecordingSaved(int timeoutMillis);
// Asks the user to confirm stopping the recording (alert given); -1000 when confirmed.
int VLLiveWC_GetUserVerifiedCloseWithError(int alertID);
// Stops a recording under way for a quit, keeping or discarding its footage.
void VLLiveWC_PrepareToQuit(bool keep);
