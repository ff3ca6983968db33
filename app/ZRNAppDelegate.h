#pragma once
// The application delegate: one per process. It runs the launch sequence (will-finish, did-finish,
// the normal start and the delayed start-up actions), starts the live session, and runs the termination
// sequence whichever way the application quits (Quit, SIGTERM, SIGINT, SIGHUP).

#include "platform/foundation/NotificationCenter.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <memory>

class ZRNAppPrefs;
class ZRNAppSetup;
class ZRNRecentDocument;
class VLPlaybackWC;

class ZRNAppDelegate : public QObject {
  Q_OBJECT
 public:
  enum class TerminateReply { TerminateNow, TerminateCancel };

  // First use of the class: registers the built-in default preferences (once per process).
  static void initialize();

  ZRNAppDelegate();
  ~ZRNAppDelegate() override;

  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  void showStartupTermsOfServiceDialog();
  void finishNormalApplicationStartup();
  void delayedStartupActions();
  void fileSleepNotifications();
  void receiveSleepNote(const Notification& note);
  void receiveWakeNote(const Notification& note);
  void startNewRecording();
  bool appFoundACamera();
  void newDeviceConnected(const Notification& note);
  void U_StartLiveWindow();

  // Quit from the menu or a termination signal: asks applicationShouldTerminate and, when the answer is
  // to terminate now, leaves the event loop, which runs applicationWillTerminate.
  void terminate();
  TerminateReply applicationShouldTerminate();
  void askUserToVerifyQuit();
  // Runs once, however often it is reached.
  void applicationWillTerminate();

  bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
  bool applicationShouldOpenUntitledFile() const { return false; }
  void newWindowForTab() {}
  void U_FixApplicationMenuTitles() {}
  void U_FinishAppLaunchingEarlyChores() {}

  QStringList& filenamesToOpen() { return m_filenamesToOpen; }
  bool appDidFinishLaunching() const { return m_fAppDidFinishLaunching; }
  QList<QPointer<QWidget>>& playbackWindows() { return m_playbackWindows; }
  bool prefsWindowIsON() const { return m_prefsWindowIsON; }
  void setPrefsWindowIsON(bool on) { m_prefsWindowIsON = on; }
  bool appIsQuitting() const { return m_appIsQuitting; }
  void setAppIsQuitting(bool quitting) { m_appIsQuitting = quitting; }
  bool appInModalMode() const { return m_appInModalMode; }
  void setAppInModalMode(bool on) { m_appInModalMode = on; }
  bool cameraOnline() const { return m_cameraOnline; }
  bool recordingIsON() const;
  bool hasDeviceWaitingTimer() const { return m_deviceWaitingTimer != nullptr; }
  // Length of the last wait for the saved camera, in seconds; -1 before any wait.
  qint64 deviceWaitingSeconds() const { return m_deviceWaitingSeconds; }
  QUrl logsForEmailURL() const { return m_logsForEmailURL; }
  void setLogsForEmailURL(const QUrl& url) { m_logsForEmailURL = url; }

  // Recent sessions (newest first, stored under "ZRNRecentDocuments") and the playback windows.
  QList<std::shared_ptr<ZRNRecentDocument>>& recentDocsArray();
  std::shared_ptr<ZRNRecentDocument> topRecentDoc();
  void addZRNRecentItemForPath(const QString& path);
  void saveRecents();
  // Opens each session package in a playback window of its own; the list is emptied.
  void U_HandleOpenFiles(QStringList& paths);
  void U_OpenWindowForTopDoc();
  // A session that could not be opened: its recents entry and its window controller go.
  void U_CloseAndRemoveWC(VLPlaybackWC* controller);
  void removeWC(VLPlaybackWC* controller);

  // The steps of the launch and termination sequences in the order they ran.
  QStringList launchPhases() const { return m_launchPhases; }

 private:
  void recordPhase(const QString& name) { m_launchPhases << name; }
  void startSparkleUpdaterIfNeeded();
  void invalidateDeviceWaitingTimer();
  void deviceWaitingTimerFired();

  QStringList m_filenamesToOpen;
  bool m_fAppDidFinishLaunching = false;
  QList<QPointer<QWidget>> m_playbackWindows;
  QList<std::shared_ptr<ZRNRecentDocument>> m_recentDocsArray;
  bool m_recentsLoaded = false;
  bool m_prefsWindowIsON = false;
  std::atomic<bool> m_appIsQuitting{false};
  bool m_appInModalMode = false;
  // Set from the thread that announces a device as well as from the main thread.
  std::atomic<bool> m_cameraOnline{false};
  QTimer* m_deviceWaitingTimer = nullptr;
  qint64 m_deviceWaitingSeconds = -1;
  bool m_sparkleUpdater = false;
  QUrl m_logsForEmailURL;
  std::unique_ptr<ZRNAppPrefs> m_prefs;
  NotificationToken m_deviceConnectedObserver = 0;
  NotificationToken m_sleepObserver = 0;
  NotificationToken m_wakeObserver = 0;
  bool m_willTerminateDone = false;
  QStringList m_launchPhases;
};

// The process-wide objects of the run.
extern ZRNAppDelegate* gZRNAppDelegate;
extern ZRNAppSetup* gZRNAppSetup;

// The date the startup note was last shown, and how long it stays quiet after that.
inline constexpr qint64 kStartupNoteQuietSeconds = 432000;

// The application's main function: makes the application object and the delegate, runs the event loop
// and answers the exit code.
int ZRNApplicationMain(int argc, char* argv[]);
