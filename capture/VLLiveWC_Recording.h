#pragma once
// The recording half of the live window: starting a recording into a new session package, the LIVE and
// REC states, the hand-over of the growing movie, stopping, closing and quitting with their
// confirmations, keeping or discarding the footage, the size actions and the information popover.
//
// The live window makes one with itself and owns it; the recording state lives in its widget-free
// LiveRecordingController and the window asks for it. The window hands it its outlets and answers the few questions of the capture half
// through VLLiveWC_RecordingHost. Everything here runs on the main thread unless it says otherwise.

#include "capture/LiveRecordingController.h"
#include "capture/ZRNRecorder.h"
#include "common/ZRN_InfoPopoverVC.h"
#include "platform/foundation/NotificationCenter.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTextBrowser;
class QWidget;
class Asset;
class VLDocument;

inline const QString kZRNRecordingStateChangedNotification = QStringLiteral("ZRNRecordingStateChanged");
// Its user info: whether a recording is on.
inline const QString kZRNRecIsONKey = QStringLiteral("recIsON");
// Posted (object: the live window) when a start begins to wait or is given up, and when a stop has
// saved or removed the recording's package: what counts as recording for the settings changed.
inline const QString kZRNRecordingUnderWayChangedNotification = QStringLiteral("ZRNRecordingUnderWayChanged");

// What the recording half asks of the rest of the live window (the capture-session half).
class VLLiveWC_RecordingHost {
 public:
  virtual ~VLLiveWC_RecordingHost() = default;
  // The object of the window's notifications.
  virtual const void* liveWindowObject() const = 0;
  virtual QWidget* window() const = 0;
  virtual QWidget* previewView() const = 0;
  // The name and place chosen in the save panel.
  virtual QUrl targetURL() const = 0;
  // The existing package at targetURL that the user agreed to replace in the naming panel (empty: none).
  virtual QString confirmedReplacementPath() const { return QString(); }
  // The window's own sound switch.
  virtual bool captureAudio() const = 0;
  virtual std::shared_ptr<DispatchQueue> sessionQueue() const = 0;
  // The window's asset-writing queue; none makes the recording half use its own.
  virtual std::shared_ptr<DispatchQueue> assetWritingQueue() const { return nullptr; }
  virtual CaptureSessionRef captureSession() const = 0;
  // Main thread: queues the capture session's teardown (closing a window that does not record); the live
  // window's runs on sessionQueue, after what is already queued there.
  virtual void queueStopLiveSession() {}
  // On sessionQueue: tears the session down and, unless the window closes or the application quits,
  // builds it again; then calls U_FinishStopAndSave(keep) of the recording half on the main queue.
  virtual void U_StopAndSaveSessionAndReconfigureLiveSession(bool keep) = 0;
  virtual void U_UpdateAudioPreviewControl() {}
  virtual void U_UpdateSoundControls() {}
  // The preview's aspect rule and the window's layout.
  virtual void U_ApplyAspectRule() {}
  // The volume of the live sound monitor, when there is one.
  virtual void setLiveAudioVolume(float volume) { (void)volume; }
};

// The outlets the recording half drives; any may be missing.
struct VLLiveWC_RecordingOutlets {
  QPointer<QLabel> recIndicatorView;
  QPointer<QLabel> captureDurationLabel;
  QPointer<QPushButton> recordButton;
  QPointer<QPushButton> showFootageBtn;
  QPointer<QProgressBar> footageProgress;
  QPointer<QPushButton> sourcePrefsBtn;
};

// The confirmation alert of a request (20001 stop, 20004 close, 20007 quit) for a number of pending
// exports: the request itself, request + 1 for one export, request + 2 for more.
int LiveWC_ConfirmationAlertID(int request, int pendingExports);
// Alert shown when the movie could no longer be written during a recording; its argument is the reason.
inline constexpr int kAlertRecordingWriteFailed = 20031;
// The recording could not even begin: there was no package to write into, so nothing was kept.
inline constexpr int kAlertRecordingNotStarted = 20032;

class VLLiveWC_Recording : public QObject {
  Q_OBJECT
 public:
  // With observeMovieStarted NO the window itself observes "VLMovieStarted" and hands it to
  // handleMovieStarted.
  VLLiveWC_Recording(VLLiveWC_RecordingHost* host, const VLLiveWC_RecordingOutlets& outlets, QObject* parent = nullptr,
                     bool observeMovieStarted = true);
  ~VLLiveWC_Recording() override;

  ZRNRecorder& recorder() { return m_controller->recorder(); }
  std::shared_ptr<ZRNRecorder> recorderRef() const { return m_controller->recorderRef(); }
  std::shared_ptr<DispatchQueue> assetWritingQueue() const { return m_controller->assetWritingQueue(); }
  std::shared_ptr<VLDocument> vlDocument() const { return m_controller->document(); }

  // Any thread.
  bool isRecording() const { return m_controller->isRecording(); }
  // Any thread: the window's session queue asks it before building the session again.
  bool isClosing() const { return m_controller->isClosing(); }
  void setIsClosing(bool closing) { m_controller->setIsClosing(closing); }
  // The same flag for blocks that may run after this object went.
  std::shared_ptr<const std::atomic<bool>> closingFlag() const { return m_controller->closingFlag(); }
  // The application delegate's flag: set by a confirmed quit request or by the delegate's own quit.
  bool appIsQuitting() const;
  // A stop was asked for and its footage is not saved yet (the keep or discard step has not run).
  bool stopUnderWay() const { return m_controller->stopUnderWay(); }
  // A start waits for the camera, a recording runs or its stop has not saved it yet.
  bool recordingUnderWay() const { return m_controller->recordingUnderWay(); }
  bool startPending() const { return m_controller->startPending(); }
  // A live window records once: not after its recording began, nor while it closes or the
  // application quits.
  bool mayStartRecording() const { return m_controller->mayStartRecording(appIsQuitting()); }
  QUrl documentPackageFolderURL() const { return m_controller->packageURL(); }
  QString clipsFolderPath() const { return m_controller->clipsFolderPath(); }
  QUrl capturedMovieURL() const { return m_capturedMovieURL; }
  bool progressiveWindowWasOpen() const { return m_progressiveWindowWasOpen; }
  void setProgressiveWindowWasOpen(bool open) { m_progressiveWindowWasOpen = open; }
  QTimer* recLabelTimer() const { return m_recLabelTimer; }

  void U_StartCapturing();
  void U_StartCapturing2();
  void U_StopCapturing(bool keep);
  void UU_StartRecording();
  void UU_StopRecording();
  void UU_CancelRecording();
  void toggleCapture();
  void saveFootageToFile(const QUrl& url);
  void saveCapturedFootage();
  void deleteRecFileflag() { m_controller->deleteRecFileflag(); }
  void deleteCapturedFootage(bool withClips) { m_controller->deleteCapturedFootage(withClips); }
  void prepareToQuit(bool keep);
  // The keep/discard step after the session was torn down, on the main queue.
  void U_FinishStopAndSave(bool keep);
  QString updateCaptureDescriptionLabel() const;
  void prepareForNewRecording();
  void handleMovieStarted(const Notification& note);
  void loadTheAsset(const std::shared_ptr<Asset>& asset);
  bool setUpPlaybackOfFragmentedAsset(const std::shared_ptr<Asset>& asset, const QStringList& keys);
  void setupForLiveState();
  void setupForRecordingState();
  void showNoFootageLabel();
  void showWaitingAnimation();
  void stopWaitingAnimation();
  void U_UpdateForAssetLoaded();
  bool windowIsNaturalSize() const;
  bool windowCanIncreaseSize() const;
  bool windowCanDecreaseSize() const;
  void resizeToNaturalSize();
  void increaseWindowSize();
  void decreaseWindowSize();
  void createPopover();
  QString infoPopupHtml() const;
  void showInfo(QWidget* sender);
  void popoverDidShow();
  void popoverDidClose();
  int U_GetUserVerifiedCloseWithError(int request);
  void askUserToVerifyClose();
  bool windowShouldClose();

  QFrame* popover() const { return m_popover; }
  ZRN_InfoPopoverVC* popoverViewController() const { return m_popoverViewController; }

 signals:
  // The stop's main-queue step has run (the window is LIVE again).
  void recordingStopped(bool keep);

 private:
  // packageMade NO: nothing could be written at all, and the alert must not say that anything was kept.
  void U_WriterFailed(const QString& reason, bool packageMade = true);
  // The start's turn came on the session queue: the package, the REC state and the writer's start.
  void U_BeginRecording();
  // The start ended before anything was made: the sleep hold goes back and the window is LIVE again.
  void U_StartEnded();
  // Queues the writer's finishing and the main-queue step after it.
  void U_QueueStop(bool keep);
  // After a stop with nothing to save: the window closes when closing, the application goes on quitting.
  void U_FinishAfterStop(bool prepareForNext = false);
  void U_PostUnderWayChanged();
  void U_SetContentSizeForMovieSize();
  void U_UpdateDurationLabel();

  // The preferences window goes out of sight while a recording runs (the application delegate hides it).
  void U_OrderOutPreferencesWindow();
  // The application delegate's documents and the live recording's playback window, reached through
  // ZRNAppHost (the delegate's ZRNAppDelegate_Documents.cpp and ZRNAppDelegate_LiveWindow.cpp).
  void U_CloseFileIfOpen(const QString& path);
  void addZRNRecentItemForPath(const QString& path);
  void U_OpenWindowForTopDoc();
  bool hasCapturePlaybackWC() const;
  void U_OpenLiveRecordingAndShow(bool show);
  // Waiting and pending exports of the live playback window's session.
  int capturePlaybackWaitingJobs() const;
  int capturePlaybackPendingJobs() const;
  void clearAllPendingJobs();
  void u_DoCloseTheWindow();
  // Sends the application delegate's camera-settings command.
  void showHideCameraPreferences();

  VLLiveWC_RecordingHost* m_host;
  VLLiveWC_RecordingOutlets m_outlets;
  std::shared_ptr<LiveRecordingController> m_controller;
  bool m_progressiveWindowWasOpen = false;
  QUrl m_capturedMovieURL;
  QTimer* m_recLabelTimer = nullptr;
  QPointer<QFrame> m_popover;
  QPointer<ZRN_InfoPopoverVC> m_popoverViewController;
  NotificationToken m_movieStartedObserver = 0;
  NotificationToken m_deviceGoneObserver = 0;
};
