#pragma once
// The application delegate: one per process. It runs the launch sequence (will-finish, did-finish,
// the normal start and the delayed start-up actions), starts the live session, and runs the termination
// sequence whichever way the application quits (Quit, SIGTERM, SIGINT, SIGHUP).
//
// It also routes files to windows (command line, a second start handing its paths over, the open
// panel, the Recents menu), keeps the recent-sessions list, owns the live window's playback window and
// the playback windows of saved sessions, answers the main menu's commands and their validation, keeps
// the launcher badge with the number of pending exports, and shows the about box.

#include "common/ZRNAppHost.h"
#include "platform/foundation/NotificationCenter.h"

#include <QDialog>
#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <memory>

class QAction;
class QMainWindow;
class ZRNAppMenus;
class ZRNNoWindowWC;
class ZRNAppPrefs;
class ZRNAppSetup;
class ZRNRecentDocument;
class VLDocument;
class VLPlaybackWC;
class VLProgressivePlayWC;

// Extension of legacy session folders (session packages: kVLPackageExtension).
inline const QString kVLLegacyExtension = QStringLiteral("vlvidcap");

class ZRNAppDelegate : public QObject, public ZRNAppHost {
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

  // Quit from the menu: asks applicationShouldTerminate and, when the answer is to terminate now, ends
  // every dialog and event loop; applicationWillTerminate runs once the main loop has returned.
  void terminate() override;
  // A termination signal (SIGTERM, SIGINT, SIGHUP): the same without asking; a recording is saved by
  // applicationWillTerminate.
  void terminateWithoutAsking();
  TerminateReply applicationShouldTerminate();
  void askUserToVerifyQuit();
  // Every window holding marks that could not be saved asks, as closing it would (alert 20043, 20033 in
  // the words of quitting), whether they may be lost; false as soon as one answer keeps them. The windows
  // whose marks the user let go are added to agreed.
  bool U_AskAboutUnsavedMarks(QList<QPointer<QWidget>>& agreed);
  // A damaged or unreadable preferences file found at this start is told to the user, once; so is, from
  // here on, the first write of the preferences that fails in this run.
  void U_TellPreferencesFileProblem();
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
  bool appIsQuitting() const override { return m_appIsQuitting; }
  void setAppIsQuitting(bool quitting) override { m_appIsQuitting = quitting; }
  bool appInModalMode() const { return m_appInModalMode; }
  void setAppInModalMode(bool on) override { m_appInModalMode = on; }
  bool cameraOnline() const { return m_cameraOnline; }
  bool recordingIsON() const override;
  bool recordingCapturesAudio() const override;
  bool recordingMicrophoneIsBuiltIn() const override;
  bool hasDeviceWaitingTimer() const { return m_deviceWaitingTimer != nullptr; }
  // Length of the last wait for the saved camera, in seconds; -1 before any wait.
  qint64 deviceWaitingSeconds() const { return m_deviceWaitingSeconds; }
  QUrl logsForEmailURL() const { return m_logsForEmailURL; }
  void setLogsForEmailURL(const QUrl& url) { m_logsForEmailURL = url; }

  // ---- Recent sessions (newest first, at most maxZRNRecentDocs, stored under "ZRNRecentDocuments") ----
  static constexpr int maxZRNRecentDocs() { return 12; }
  // Read from the user defaults on first use.
  QList<std::shared_ptr<ZRNRecentDocument>>& recentDocsArray();
  void loadSavedRecents();
  void saveRecents();
  void clearZRNRecentDocuments();
  std::shared_ptr<ZRNRecentDocument> topRecentDoc();
  void U_AddZRNRecentItem(std::shared_ptr<ZRNRecentDocument> entry);
  void addZRNRecentItemForPath(const QString& path) override;
  // The item of the Recents submenu that was chosen.
  void openZRNRecentDoc(QAction* item);
  // Opens (or converts, after asking) the session of a recent entry that is still listed.
  void U_OpenRecentEntry(const std::shared_ptr<ZRNRecentDocument>& entry);
  void loadZRNRecentsMenu();

  // ---- Documents and windows ----
  // Files handed to the application (command line at launch, a second start); answers success.
  bool application_openFiles(const QStringList& paths);
  void openDroppedFiles();
  // Opens each path in order; the list is emptied.
  void U_HandleOpenFiles(QStringList& paths);
  bool shouldOpenTarget(const QString& path);
  // Another start of Velmora handed its paths over: they open as files do; without paths the front
  // window comes forward, or, when Velmora shows no window, a new live session starts.
  void U_HandleSecondStart(const QStringList& paths);
  VLPlaybackWC* docIsAlreadyOpen(const QString& path) const;
  void bringDocWindowToFront(QWidget* window);
  void U_OpenWindowForTopDoc() override;
  // A playback window whose session could not be opened: its recents entry and the window go.
  void U_CloseAndRemoveWC(QWidget* controller) override;
  bool U_CloseFileIfOpen(const QString& path) override;
  void removeWC(QWidget* controller) override;
  // The progressive playback window of the recording in progress.
  void U_OpenLiveRecordingAndShow(bool show) override;
  VLProgressivePlayWC* capturePlaybackWC() const;
  void setCapturePlaybackWC(VLProgressivePlayWC* controller);
  QWidget* capturePlaybackWindow() const override;
  void setCapturePlaybackWindow(QWidget* window) override;
  int capturePlaybackWaitingJobs() const override;
  int capturePlaybackPendingJobs() const override;
  void clearCapturePlaybackPendingJobs() override;
  void setProgressiveWindowWasOpen(bool open) override;
  // The launcher badge: the pending exports of every playback window of a saved session.
  void U_UpdateApplicationDockTile();
  // The badge label last set ("" when none).
  QString dockTileBadgeLabel() const { return m_dockBadgeLabel; }

  // ---- Menu commands ----
  ZRNAppMenus* mainMenu();
  // The window shown when Velmora shows no other (made with the menus, before the launch).
  ZRNNoWindowWC* noWindowWC() const;
  void openSavedRecording();
  void startRecording();
  void stopRecording();
  void showRecFootage();
  void showHideJobsPanel();
  void showHidePreferencesWindow();
  void orderOutPreferencesWindow() override;
  void showHideCameraPreferences();
  void showLogFile();
  void showAboutBox();
  void launchVendorWebsite();
  void showHVAppStorePage();
  void showAcknowledgments();
  void sparkleUpdateCheck();
  // Enables the command (answer) and sets the titles that follow the state.
  bool validateMenuItem(QAction* item);
  // The open panel while it is shown; the about box once made.
  QFileDialog* openPanel() const { return m_openPanel; }
  QDialog* aboutPanel() const { return m_aboutPanel; }
  // The window that has the keyboard focus (QApplication::activeWindow unless a test sets one).
  QWidget* keyWindow() const;
  void setKeyWindowForTesting(QWidget* window) { m_keyWindowForTesting = window; }
  // The URLs the last commands opened (for the log and the tests).
  QUrl lastOpenedURL() const { return m_lastOpenedURL; }

  // The steps of the launch and termination sequences in the order they ran.
  QStringList launchPhases() const { return m_launchPhases; }

 private:
  void recordPhase(const QString& name) { m_launchPhases << name; }
  void startSparkleUpdaterIfNeeded();
  void invalidateDeviceWaitingTimer();
  void U_EndEventLoops();
  void U_CloseWindowsForTermination();
  void deviceWaitingTimerFired();
  void U_OpenLegacyOrPackage(const QString& path);
  bool U_OpenURL(const QUrl& url);
  void U_OpenPanelEnded(int result);
  void U_StartLiveSessionIfLaunchFilesFailed();
  QWidget* U_FrontWindow() const;

  QStringList m_filenamesToOpen;
  bool m_fAppDidFinishLaunching = false;
  // The files given at launch are being opened; cleared once one of them shows or a live session starts.
  bool m_openingLaunchFiles = false;
  QList<QPointer<QWidget>> m_playbackWindows;
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
  QList<std::shared_ptr<ZRNRecentDocument>> m_recentDocsArray;
  bool m_recentsLoaded = false;
  ZRNAppMenus* m_mainMenu = nullptr;
  QPointer<ZRNNoWindowWC> m_noWindowWC;
  QPointer<VLProgressivePlayWC> m_capturePlaybackWC;
  QPointer<QFileDialog> m_openPanel;
  QPointer<QDialog> m_aboutPanel;
  QPointer<QWidget> m_keyWindowForTesting;
  QString m_dockBadgeLabel;
  QUrl m_lastOpenedURL;
};

// What the menus and the live recording's playback window ask of the live window (nothing without one).
QWidget* VLLiveWC_Window();
void VLLiveWC_ToggleCapture();
bool VLLiveWC_IsClosing();
// The live window may still start its recording (it records once).
bool VLLiveWC_MayStartRecording();
QUrl VLLiveWC_CapturedMovieURL();
std::shared_ptr<VLDocument> VLLiveWC_Document();
void VLLiveWC_SetProgressiveWindowWasOpen(bool open);

// The delegate of the run.
extern ZRNAppDelegate* gZRNAppDelegate;

// The date the startup note was last shown, and how long it stays quiet after that.
inline constexpr qint64 kStartupNoteQuietSeconds = 432000;

// The application's main function: makes the application object and the delegate, runs the event loop
// and answers the exit code.
int ZRNApplicationMain(int argc, char* argv[]);
