#include "app/ZRNAppDelegate.h"

#include "app/ZRNAppDelegate_FirstAid.h"
#include "app/ZRNAppInstance.h"
#include "app/ZRNAppMenus.h"
#include "app/ZRNNoWindowWC.h"
#include "common/ZRNAlerts.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNLogger.h"
#include "app/ZRNAppPreferences.h"
#include "app/ZRNStartupNoteWC.h"
#include "capture/ZRNCaptureAuth.h"
#include "common/ZRNRecentDocument.h"
#include "capture/LiveCaptureController.h"
#include "capture/VLLiveWC.h"
#include "capture/ZRNCaptureDevices.h"
#include "playback/VLPlaybackWC.h"
#include "session/VLDocument.h"
#include "composition/ZRNJobsController.h"
#include "firstaid/FirstAidLaunch.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/gui/DialogRunner.h"
#include "platform/system/ScreenSaver.h"
#include "platform/system/SleepWake.h"
#include "platform/media/export/ExportSession.h"
#include "platform/media/io/SampleBuffer.h"
#include "platform/system/ProcessSignals.h"

#include <QApplication>
#include <QIcon>
#include <QDateTime>
#include <QDialog>
#include <QFileDialog>
#include <QMainWindow>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

ZRNAppDelegate* gZRNAppDelegate = nullptr;

namespace {
const QString kHVNoteDate = QStringLiteral("HVNoteDate");
const QString kVideo = QString::fromLatin1(kMediaTypeVideo);
const QString kAudio = QString::fromLatin1(kMediaTypeAudio);
constexpr int kAlertCameraAccessDenied = 20015;
constexpr int kAlertConfirmStopRecording = 20007;
constexpr int kAlertNoCrashLock = 20052;
constexpr int kAlertFirstButton = -1000;
constexpr int kAlertCancelButton = -1001;
// How long quitting waits for a recording being stopped to be saved.
constexpr int kQuitSaveWaitMillis = 15000;
// How long quitting waits for the capture session's work to end (a build waits for a slow device).
constexpr int kQuitCaptureWaitMillis = 4000;
}  // namespace

void ZRNAppDelegate::initialize() {
  static std::once_flag once;
  std::call_once(once, Prefs_RegisterDefaultPrefs);
}

ZRNAppDelegate::ZRNAppDelegate() {
  initialize();
  m_filenamesToOpen.reserve(8);
  m_fAppDidFinishLaunching = false;
  gZRNAppDelegate = this;
  ZRNAppHost_SetShared(this);
  recordPhase(QStringLiteral("init"));
}

ZRNAppDelegate::~ZRNAppDelegate() {
  auto& center = NotificationCenter::defaultCenter();
  for (NotificationToken token : {m_deviceConnectedObserver, m_sleepObserver, m_wakeObserver})
    if (token) center.removeObserver(token);
  ZRNJobsController::setDockTileUpdater({});
  delete m_openPanel.data();
  delete m_aboutPanel.data();
  delete m_noWindowWC.data();
  if (gZRNAppPrefs == m_prefs.get()) gZRNAppPrefs = nullptr;
  if (gZRNAppDelegate == this) gZRNAppDelegate = nullptr;
  if (&ZRNAppHost_Shared() == this) ZRNAppHost_SetShared(nullptr);
}

// Launch

void ZRNAppDelegate::applicationWillFinishLaunching() {
  recordPhase(QStringLiteral("applicationWillFinishLaunching"));
  // Window tabbing is the window manager's business on Linux: nothing to switch on.
  m_playbackWindows.clear();
  gZRNAppSetup = ZRNAppSetup::sharedAppSetup();
  m_prefs = std::make_unique<ZRNAppPrefs>();
  gZRNAppPrefs = m_prefs.get();
  m_prefsWindowIsON = false;
  m_appIsQuitting = false;
  m_appInModalMode = false;
  // The migration comes before anything reads the extra-log level, and before the logger.
  Prefs_MigratePreferences();
  recordPhase(QStringLiteral("Prefs_MigratePreferences"));
  ZRNLogger_Start(1);
  recordPhase(QStringLiteral("ZRNLogger_Start"));
  // What the defaults could not say before the log existed (a damaged file moved aside).
  for (const QString& message : UserDefaults::standard().takePendingMessages()) ZRNLogger_Log(QStringLiteral("%@"), message);
  U_FixApplicationMenuTitles();
  mainMenu();
  if (!m_noWindowWC) m_noWindowWC = new ZRNNoWindowWC(this);
  // Every change of an export queue refreshes the launcher badge.
  QPointer<ZRNAppDelegate> guard(this);
  ZRNJobsController::setDockTileUpdater([guard] {
    if (guard) guard->U_UpdateApplicationDockTile();
  });
}

ZRNNoWindowWC* ZRNAppDelegate::noWindowWC() const { return m_noWindowWC; }

void ZRNAppDelegate::startSparkleUpdaterIfNeeded() {
  if (m_sparkleUpdater) return;
  m_sparkleUpdater = SUUpdater_StartSharedUpdater(this);
  recordPhase(QStringLiteral("SUUpdater"));
}

void ZRNAppDelegate::applicationDidFinishLaunching() {
  recordPhase(QStringLiteral("applicationDidFinishLaunching"));
  startSparkleUpdaterIfNeeded();
  loadZRNRecentsMenu();
  recordPhase(QStringLiteral("loadZRNRecentsMenu"));
  U_TellPreferencesFileProblem();
  showStartupTermsOfServiceDialog();
  // Termination may have ended the note: the launch goes no further.
  if (m_appIsQuitting) return;
  recordPhase(QStringLiteral("U_CheckForPreviousCrash"));
  U_CheckForPreviousCrash(this);
}

void ZRNAppDelegate::showStartupTermsOfServiceDialog() {
  recordPhase(QStringLiteral("showStartupTermsOfServiceDialog"));
  UserDefaults& defaults = UserDefaults::standard();
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const QVariant last = defaults.objectForKey(kHVNoteDate);
  if (last.typeId() == QMetaType::QDateTime && now < last.toDateTime().addSecs(kStartupNoteQuietSeconds)) return;
  ZRNLogger_Log(QStringLiteral("showStartupTermsOfServiceDialog"));
  const int result = ZRNStartupNoteWC_RunModal();
  // A note that termination ended was not read: nothing opens and it stays due for the next launch.
  if (Gui_TerminationRequested()) return;
  if (result == kAlertCancelButton) showHVAppStorePage();
  defaults.setObject(kHVNoteDate, now);
}

void ZRNAppDelegate::finishNormalApplicationStartup() {
  // Reached late (after first aid's log work) while quitting: no crash lock, nothing more starts.
  if (m_appIsQuitting) return;
  recordPhase(QStringLiteral("finishNormalApplicationStartup"));
  U_ClearCrashSemaphore(true, false);
  CrashLockProblem noLock;
  const bool locked = U_WriteCrashSemaphore(&noLock);
  recordPhase(QStringLiteral("U_WriteCrashSemaphore"));
  if (!locked) {
    // Without a lock a crash of this run goes unnoticed at the next start: the user hears it before the
    // session opens, so that the folder can be mended.
    if (!Gui_TerminationRequested())
      Alert_ShowAlertWithID(kAlertNoCrashLock, QVariant(), QVariantList{noLock.folder, noLock.reason});
    if (m_appIsQuitting) return;
  }
  FirstAid_CountNormalLaunch();
  recordPhase(QStringLiteral("FirstAid_CountNormalLaunch"));
  FirstAid_PruneDebugLogDays();
  recordPhase(QStringLiteral("FirstAid_PruneDebugLogDays"));
  fileSleepNotifications();
  startSparkleUpdaterIfNeeded();
  Dispatch_MainAsync([guard = QPointer<ZRNAppDelegate>(this)] {
    if (guard) guard->delayedStartupActions();
  });
}

void ZRNAppDelegate::delayedStartupActions() {
  if (m_appIsQuitting) return;
  recordPhase(QStringLiteral("delayedStartupActions"));
  m_fAppDidFinishLaunching = true;
  if (!m_filenamesToOpen.isEmpty()) {
    m_openingLaunchFiles = true;
    openDroppedFiles();
    recordPhase(QStringLiteral("openDroppedFiles"));
    // When nothing given could be opened, the launch goes on as it does without files.
    U_StartLiveSessionIfLaunchFilesFailed();
    return;
  }
  // A new live session always starts when nothing was opened; the open panel is never offered at launch.
  if (m_prefs && m_prefs->newSessionOnOpen()) startNewRecording();
}

void ZRNAppDelegate::fileSleepNotifications() {
  recordPhase(QStringLiteral("fileSleepNotifications"));
  auto& center = NotificationCenter::defaultCenter();
  if (!m_sleepObserver)
    m_sleepObserver = center.addObserver(kWorkspace_WillSleepNotification, nullptr, [this](const Notification& note) { receiveSleepNote(note); });
  if (!m_wakeObserver)
    m_wakeObserver = center.addObserver(kWorkspace_DidWakeNotification, nullptr, [this](const Notification& note) { receiveWakeNote(note); });
  // logind says when the machine sleeps and wakes.
  SleepWake_StartNotices();
}

void ZRNAppDelegate::receiveSleepNote(const Notification& note) { ZRNLogger_Log(QStringLiteral("receiveSleepNote: %@"), note.name); }
void ZRNAppDelegate::receiveWakeNote(const Notification& note) { ZRNLogger_Log(QStringLiteral("receiveWakeNote: %@"), note.name); }

// The live session

void ZRNAppDelegate::startNewRecording() {
  if (m_appIsQuitting) return;
  recordPhase(QStringLiteral("startNewRecording"));
  QPointer<ZRNAppDelegate> guard(this);
  Auth_RequestCaptureAccess(kVideo, kAlertCameraAccessDenied, [guard] {
    Dispatch_MainAsync([guard] {
      if (!guard || guard->m_appIsQuitting) return;
      ZRNAppDelegate* self = guard.data();
      if (self->appFoundACamera()) {
        self->U_StartLiveWindow();
        return;
      }
      self->m_cameraOnline = false;
      if (!self->m_deviceConnectedObserver)
        self->m_deviceConnectedObserver = NotificationCenter::defaultCenter().addObserver(
            kCapDev_DeviceWasConnectedNotification, nullptr, [self](const Notification& note) { self->newDeviceConnected(note); });
      // Whole seconds: 2500 ms waits 2 s.
      const qint64 seconds = std::max<qint64>(0, gZRNAppPrefs->deviceDiscoveryDelayMillis() / 1000);
      self->invalidateDeviceWaitingTimer();
      self->m_deviceWaitingSeconds = seconds;
      self->m_deviceWaitingTimer = new QTimer(self);
      self->m_deviceWaitingTimer->setSingleShot(true);
      QObject::connect(self->m_deviceWaitingTimer, &QTimer::timeout, self, [guard] {
        Dispatch_MainAsync([guard] {
          if (guard) guard->deviceWaitingTimerFired();
        });
      });
      self->m_deviceWaitingTimer->start(static_cast<int>(std::min<qint64>(seconds * 1000, INT_MAX)));
      self->recordPhase(QStringLiteral("waitForCamera"));
    });
  });
}

void ZRNAppDelegate::deviceWaitingTimerFired() {
  // The live window opens after the wait whether or not the camera came.
  bool expected = false;
  if (m_cameraOnline.compare_exchange_strong(expected, true)) U_StartLiveWindow();
  invalidateDeviceWaitingTimer();
}

void ZRNAppDelegate::invalidateDeviceWaitingTimer() {
  if (!m_deviceWaitingTimer) return;
  m_deviceWaitingTimer->stop();
  m_deviceWaitingTimer->deleteLater();
  m_deviceWaitingTimer = nullptr;
}

bool ZRNAppDelegate::appFoundACamera() {
  return CapDev_IndexOfDeviceWithUID(kVideo, gZRNAppPrefs ? gZRNAppPrefs->cameraUID() : QString()) >= 0;
}

void ZRNAppDelegate::newDeviceConnected(const Notification& note) {
  // Runs on the announcing thread: only the test-and-set happens here, the window opens on the main queue.
  if (!CapDev_ConnectedDeviceHasVideo(note)) return;
  if (!gZRNAppPrefs || CapDev_ConnectedDeviceUniqueID(note) != gZRNAppPrefs->cameraUID()) return;
  bool expected = false;
  if (!m_cameraOnline.compare_exchange_strong(expected, true)) return;
  QPointer<ZRNAppDelegate> guard(this);
  Dispatch_MainAsync([guard] {
    if (!guard) return;
    guard->invalidateDeviceWaitingTimer();
    guard->U_StartLiveWindow();
  });
}

void ZRNAppDelegate::U_StartLiveWindow() {
  if (m_appIsQuitting) return;
  recordPhase(QStringLiteral("U_StartLiveWindow"));
  if (m_deviceConnectedObserver) {
    NotificationCenter::defaultCenter().removeObserver(m_deviceConnectedObserver);
    m_deviceConnectedObserver = 0;
  }
  ZRNAppSetup::sharedAppSetup()->setHasMicrophoneAccess(Auth_CaptureAccessState(kAudio) == 0);
  VLLiveWC_MakeAndShow();
  // The live window's "Show Recording" button is the menu's "Show Live Recording".
  if (VLLiveWC* live = VLLiveWC_Current(); live && live->showFootageBtn())
    connect(live->showFootageBtn(), &QPushButton::clicked, this, &ZRNAppDelegate::showRecFootage, Qt::UniqueConnection);
}

// Termination

bool ZRNAppDelegate::recordingIsON() const { return VLLiveWC_RecordingIsON(); }

// The recording's document is its recording half's: the live window's own document stays unset.
bool ZRNAppDelegate::recordingCapturesAudio() const {
  const std::shared_ptr<VLDocument> document = VLLiveWC_Document();
  return recordingIsON() && document && document->captureAudio();
}

bool ZRNAppDelegate::recordingMicrophoneIsBuiltIn() const {
  const std::shared_ptr<VLDocument> document = VLLiveWC_Document();
  return recordingIsON() && document && document->microphoneIsBuiltIn();
}

void ZRNAppDelegate::terminate() {
  // Once the termination sequence runs, a further Quit or signal has nothing left to ask.
  if (m_willTerminateDone || Gui_TerminationRequested()) return;
  if (applicationShouldTerminate() == TerminateReply::TerminateNow) U_EndEventLoops();
}

void ZRNAppDelegate::terminateWithoutAsking() {
  if (m_willTerminateDone || Gui_TerminationRequested()) return;
  // Log-out and shutdown wait for nobody: a recording is saved by the termination sequence itself.
  m_appIsQuitting = true;
  invalidateDeviceWaitingTimer();
  U_EndEventLoops();
}

void ZRNAppDelegate::U_EndEventLoops() {
  // Whatever is on screen ends without its answer counting, and every event loop, nested ones of modal
  // dialogs included, returns; applicationWillTerminate follows the main loop's end. (Asking Qt to quit
  // instead would be refused while a window or dialog does not close.)
  Gui_EndDialogsForTermination();
  QCoreApplication::exit(0);
}

ZRNAppDelegate::TerminateReply ZRNAppDelegate::applicationShouldTerminate() {
  // Marks that could not be saved are asked about first, as closing their windows would; the answers
  // count only once the quit goes ahead, so a recording question answered Cancel leaves them asked for.
  QList<QPointer<QWidget>> agreed;
  if (!U_AskAboutUnsavedMarks(agreed)) return TerminateReply::TerminateCancel;
  auto forgetAgreed = [&agreed] {
    for (const QPointer<QWidget>& window : agreed)
      if (auto* playback = qobject_cast<VLPlaybackWC*>(window.data())) playback->U_ForgetUnsavedMarks();
  };
  if (!recordingIsON()) {
    forgetAgreed();
    m_appIsQuitting = true;
    invalidateDeviceWaitingTimer();
    return TerminateReply::TerminateNow;
  }
  askUserToVerifyQuit();
  // Confirmed: the saved recording asks to terminate again, and must not ask about these marks twice.
  if (m_appIsQuitting) forgetAgreed();
  return TerminateReply::TerminateCancel;
}

void ZRNAppDelegate::askUserToVerifyQuit() {
  // On confirmation the live window saves the recording and asks to terminate again.
  if (VLLiveWC_GetUserVerifiedCloseWithError(kAlertConfirmStopRecording) != kAlertFirstButton) return;
  m_appIsQuitting = true;
  VLLiveWC_PrepareToQuit(true);
}

void ZRNAppDelegate::applicationWillTerminate() {
  if (m_willTerminateDone) return;
  m_willTerminateDone = true;
  recordPhase(QStringLiteral("applicationWillTerminate"));
  m_appIsQuitting = true;
  if (recordingIsON()) {
    ZRNLogger_Log(QStringLiteral("WILL Terminate with self.recordingIsON"));
    VLLiveWC_PrepareToQuit(true);
  } else if (VLLiveWC_RecordingUnderWay()) {
    // A start still waiting for the camera is given up, or, once begun, stopped and saved like any.
    VLLiveWC_PrepareToQuit(true);
  }
  // The process must not end before the writer has finished and the footage is saved: otherwise the
  // last fragment is lost and the package stays marked as unfinished. This also covers a stop that was
  // already under way (a confirmed Quit followed by a signal).
  if (!VLLiveWC_WaitUntilRecordingSaved(kQuitSaveWaitMillis))
    ZRNLogger_Log(QStringLiteral("ERR: the recording was not saved within %d s of quitting"), kQuitSaveWaitMillis / 1000);
  SleepWake_StopNotices();
  auto& center = NotificationCenter::defaultCenter();
  for (NotificationToken* token : {&m_sleepObserver, &m_wakeObserver}) {
    if (*token) center.removeObserver(*token);
    *token = 0;
  }
  if (!m_logsForEmailURL.isEmpty()) {
    const QString path = m_logsForEmailURL.toLocalFile();
    if (QFileInfo(path).isDir()) QDir(path).removeRecursively();
    else QFile::remove(path);
    m_logsForEmailURL.clear();
  }
  // Exports still running stop now: the process would otherwise wait for them at its very end.
  AssetExportSession::cancelAllExports();
  // The capture session's builds and readers and the preview thread end here: run on past main, they
  // would use the preferences, the notification centre and the devices the exit handlers free.
  const bool captureEnded = LiveCapture_StopForTermination(std::chrono::milliseconds(kQuitCaptureWaitMillis));
  if (captureEnded) {
    U_CloseWindowsForTermination();
  } else {
    // A device that does not open holds its build: quitting does not wait for it without end, and no
    // exit handler may run under it (the process ends below, once the log is closed).
    ZRNLogger_Log(QStringLiteral("ERR: the capture session did not end within %d s of quitting: ending without it"),
                  kQuitCaptureWaitMillis / 1000);
  }
  // The screen saver's holds of the recording and the players are given back before the process goes.
  ScreenSaver_WaitForPendingCalls();
  // A clean exit leaves no crash lock behind.
  U_ClearCrashSemaphore(true, false);
  recordPhase(QStringLiteral("ZRNLogger_Stop"));
  ZRNLogger_Stop();
  if (!captureEnded) ::_exit(0);
}

// The application's main function

namespace {
int gSignalPipe[2] = {-1, -1};

void onTerminationSignal(int signalNumber) {
  const int saved = errno;
  const char byte = static_cast<char>(signalNumber);
  [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

// SIGTERM (log-out, kill), SIGINT (Ctrl+C) and SIGHUP (terminal closed) take the path of Quit, so the
// termination sequence always runs. The handler only writes to a non-blocking pipe (a burst of signals
// can never block it); the event loop does the rest.
void installTerminationSignals(ZRNAppDelegate* delegate) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, delegate, [delegate] {
    char byte = 0;
    if (::read(gSignalPipe[0], &byte, 1) != 1) return;
    ZRNLogger_Log(QStringLiteral("signal %d: quitting"), static_cast<int>(byte));
    delegate->terminateWithoutAsking();
  });
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}
}  // namespace

int ZRNApplicationMain(int argc, char* argv[]) {
  Process_IgnoreFileSizeSignal();
  QApplication app(argc, argv);
  // Before anything can crash: a fatal signal leaves a report for first aid.
  FirstAid_InstallCrashReporter();
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  QApplication::setOrganizationDomain(QStringLiteral("velmora.org"));
  QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION_STRING));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));
  // The icon the desktop entry names, from the icon theme; our own record symbol where the theme has none.
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("camera-video"), QIcon(QStringLiteral(":/images/LiveSessionIcon.png"))));
  app.setQuitOnLastWindowClosed(false);

  // One Velmora owns the sessions: of starts however close together, the one that takes the lock runs;
  // any other hands its files to it and ends.
  const QStringList paths = AppInstance_AbsolutePaths(QCoreApplication::arguments().mid(1));
  QString lockProblem;
  switch (AppInstance_ClaimOrHandOver(paths, &lockProblem)) {
    case AppInstanceStart::HandedOver: return 0;
    case AppInstanceStart::NotHandedOver:
      // The running one may be stuck: this start neither waits for it without end nor runs beside it.
      if (paths.isEmpty())
        std::fprintf(stderr, "velmora: Velmora is already running but did not answer within %d s.\n",
                     kAppInstance_HandOverWaitMillis / 1000);
      else
        std::fprintf(stderr, "velmora: Velmora is already running but did not confirm within %d s that it took %s.\n",
                     kAppInstance_HandOverWaitMillis / 1000,
                     qPrintable(QLatin1Char('"') + paths.join(QStringLiteral("\", \"")) + QLatin1Char('"')));
      return 1;
    case AppInstanceStart::NoLock:
      std::fprintf(stderr, "velmora: cannot tell whether Velmora is already running (no lock: %s); starting anyway.\n",
                   qPrintable(lockProblem));
      break;
    case AppInstanceStart::OneCopy: break;
  }

  ZRNAppDelegate::initialize();
  ZRNAppDelegate delegate;
  installTerminationSignals(&delegate);
  ZRNAppInstanceServer instanceServer([&delegate](const QStringList& handed) { delegate.U_HandleSecondStart(handed); });
  const bool listening = instanceServer.listen();
  if (!listening) std::fprintf(stderr, "velmora: later starts cannot hand their files to this one.\n");
  // Once quitting, later starts wait for this process to end instead of handing it files.
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &instanceServer, &ZRNAppInstanceServer::close);
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &ZRNAppDelegate::applicationWillTerminate);
  // Files named on the command line wait for the delayed start-up actions, in their order.
  if (!paths.isEmpty()) delegate.application_openFiles(paths);

  delegate.applicationWillFinishLaunching();
  if (!lockProblem.isEmpty()) ZRNLogger_Log(QStringLiteral("ATT: no lock of the one running Velmora: %@"), lockProblem);
  if (!listening) ZRNLogger_Log(QStringLiteral("ATT: later starts cannot hand their files to this one"));
  QMetaObject::invokeMethod(&delegate, &ZRNAppDelegate::applicationDidFinishLaunching, Qt::QueuedConnection);
  const int result = app.exec();
  delegate.applicationWillTerminate();
  return result;
}
