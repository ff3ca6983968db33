#pragma once
// The live window's recording state and what it writes besides the movie: the recorder it hands the
// session to, the steps of one recording (started, stop asked for, footage saved), the session document
// and its package with the lock file that marks a recording under way. The window's recording half
// (VLLiveWC_Recording) shows this state and asks it; this knows no widget. Main thread unless a member
// says otherwise.

#include "capture/ZRNRecorder.h"

#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

class VLDocument;
class ZRNAppPrefs;

class LiveRecordingController {
 public:
  // liveWindowObject: the object of the recording's notifications.
  LiveRecordingController(const void* liveWindowObject, std::shared_ptr<DispatchQueue> sessionQueue,
                          std::shared_ptr<DispatchQueue> assetWritingQueue);
  LiveRecordingController(const LiveRecordingController&) = delete;
  LiveRecordingController& operator=(const LiveRecordingController&) = delete;

  ZRNRecorder& recorder() { return *m_recorder; }
  std::shared_ptr<ZRNRecorder> recorderRef() const { return m_recorder; }
  std::shared_ptr<DispatchQueue> sessionQueue() const { return m_sessionQueue; }
  std::shared_ptr<DispatchQueue> assetWritingQueue() const { return m_assetWritingQueue; }

  // ---- Any thread ----
  bool isRecording() const { return m_recorder->isRecording(); }
  // The window closes: its session queue asks this before building the session again.
  bool isClosing() const { return m_isClosing->load(); }
  void setIsClosing(bool closing) { *m_isClosing = closing; }
  // The same flag for blocks that may run after this object went.
  std::shared_ptr<const std::atomic<bool>> closingFlag() const { return m_isClosing; }

  // ---- The steps of the recording ----
  // A window records once: not after its recording began, nor while a stop runs, it closes or the
  // application quits.
  bool mayStartRecording(bool appIsQuitting) const {
    return !m_hasRecorded && !m_stopRequested && !isClosing() && !appIsQuitting;
  }
  // A start was asked for; until startQueued() a second toggle waits its turn. The start waits on the
  // session queue behind what is queued there (a set-up of the session while the camera opens).
  void startRequested();
  void startQueued() { m_startPending = false; }
  bool startPending() const { return m_startPending; }
  // Session queue: the start's turn has come; NO when it was given up while it waited.
  static bool takeStartTurn(const std::shared_ptr<std::atomic<int>>& turn);
  std::shared_ptr<std::atomic<int>> startTurn() const { return m_startTurn; }
  // A start still waiting for its turn is given up (the window closes, the application quits): YES when
  // it had not begun, and then never will; NO when it has begun and goes on to its recording.
  bool giveUpPendingStart();
  // The start ended before anything was made (given up, or no camera picture when its turn came): no
  // recording began, and the window may still record.
  void startEnded();
  // A stop asked for while the start waited: it is carried out once the start has queued its writer.
  void deferStop(bool keep) { m_deferredStop = keep ? 1 : 0; }
  // -1 when none was deferred, else the keep flag; taking it clears it.
  int takeDeferredStop() { return std::exchange(m_deferredStop, -1); }
  // A start waits, a recording runs or its stop has not saved it yet: the recording owns the session and
  // its package, and nothing else may set the session up again or decide about the package.
  bool recordingUnderWay() const { return m_startPending || isRecording() || stopUnderWay(); }
  // A stop was asked for: true for the first request of a recording, false while one is under way.
  bool stopRequested();
  bool isStopRequested() const { return m_stopRequested; }
  void stopFinished() { m_stopFinished = true; }
  // A stop was asked for and its footage is not saved yet (the keep or discard step has not run).
  bool stopUnderWay() const { return m_stopRequested && !m_stopFinished; }

  // ---- The session package ----
  std::shared_ptr<VLDocument> document() const { return m_document; }
  QUrl packageURL() const { return m_packageURL; }
  QString clipsFolderPath() const { return m_clipsFolderPath; }
  // A new document with the recording preferences, in a new package at target (or a free name beside
  // it), marked as a recording under way and listed with its settings. An empty packageURL() afterwards:
  // no package could be made.
  void makePackage(const QUrl& target, const ZRNAppPrefs& prefs);
  // The package made, which is the chosen name unless that was taken.
  QUrl savedPackageURL(const QUrl& target) const { return m_packageURL.isEmpty() ? target : m_packageURL; }
  // After the writer finished: the settings as they ended, and the package's icon back to a plain one.
  void recordingEnded();
  void writeRecFileflag();
  void deleteRecFileflag();
  void deleteCapturedFootage(bool withClips);
  // Removes the package at target when it is the one the user agreed to replace (confirmed), unless it
  // holds a recording of this run: that one stays, and the new recording takes a free name beside it.
  // closeIfOpen closes a window that shows it first. True when it was removed.
  static bool removeReplacedPackage(const QString& target, const QString& confirmed,
                                    const std::function<void(const QString&)>& closeIfOpen);

 private:
  std::shared_ptr<DispatchQueue> m_sessionQueue;
  std::shared_ptr<DispatchQueue> m_assetWritingQueue;
  std::shared_ptr<ZRNRecorder> m_recorder;
  std::shared_ptr<std::atomic<bool>> m_isClosing = std::make_shared<std::atomic<bool>>(false);
  bool m_stopRequested = false;
  bool m_stopFinished = false;
  bool m_startPending = false;
  int m_deferredStop = -1;
  // 0 waiting for its turn on the session queue, 1 begun, 2 given up.
  std::shared_ptr<std::atomic<int>> m_startTurn = std::make_shared<std::atomic<int>>(0);
  // A recording was started in this window (it stays so: the window records once).
  bool m_hasRecorded = false;
  std::shared_ptr<VLDocument> m_document;
  QUrl m_packageURL;
  QString m_clipsFolderPath;
};
