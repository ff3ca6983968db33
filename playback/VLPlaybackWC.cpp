#include "playback/VLPlaybackWC.h"

#include "common/ZRNAccessibility.h"
#include "common/ZRNAlerts.h"
#include "common/ZRNAppHost.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNJSONBridge.h"
#include "common/ZRNLogger.h"
#include "common/ZRNRecentDocument.h"
#include "common/ZRNTimeFormatting.h"
#include "composition/VL_ExportJobRecord.h"
#include "composition/ZRNAVCaptureProject.h"
#include "composition/ZRNJobsController.h"
#include "platform/gui/WindowPlacement.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/SysErrno.h"
#include "platform/media/asset/FragmentedAsset.h"
#include "platform/media/player/Player.h"
#include "platform/media/player/PlayerItem.h"
#include "platform/media/io/SampleBuffer.h"
#include "playback/JobsTableView_Controller.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNSynchroMovieControllerView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kRecordingStateChanged = QStringLiteral("ZRNRecordingStateChanged");
const QString kWindowTitle = QStringLiteral("Velmora");
constexpr int kAlertSessionDamaged = 20014;
constexpr int kAlertOneExportPending = 20022;
constexpr int kAlertExportsPending = 20023;
constexpr int kAlertUnsavedMarks = 20033;
constexpr int kAlertUnsavedMarksOnQuit = 20043;
constexpr int kAlertSessionUnreadable = 20034;
constexpr int kAlertNothingRecorded = 20053;

// Why the item cannot be opened for reading, as the system says it (empty when it can). Tried, not
// asked: the answer must be the one the reading itself would get.
QString U_UnreadableReason(const QString& path, bool folder) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
  if (fd >= 0) {
    ::close(fd);
    return QString();
  }
  return errno == EACCES || errno == EPERM ? Sys_ErrnoText(errno) : QString();
}
constexpr int kAlertFirstButton = -1000;

QString U_MenuTitle(const char* text) { return QCoreApplication::translate("MenuItems", text); }

}  // namespace

int64_t VLPlaybackWC::U_Millis(const MediaTime& time) { return ZRNAVCaptureProject::U_MillisForTime(time); }
int64_t VLPlaybackWC::U_MillisOfSeconds(double seconds) { return static_cast<int64_t>(seconds * 1000.0 + 0.5); }
MediaTime VLPlaybackWC::U_MillisTime(int64_t millis) { return MediaTimeMake(millis, 1000); }

VLPlaybackWC::VLPlaybackWC(QWidget* parent) : ZRNSizingWC(parent) {
  setObjectName(QString::fromLatin1(kVLPlaybackWindowLayoutName));
  windowDidLoad();
}

VLPlaybackWC::~VLPlaybackWC() {
  m_recordingStateObservation.reset();
  if (m_jobsTableController) m_jobsTableController->prepareToBeReleased();
  if (m_player) m_player->setRate(0.0f);
  if (m_playerView) m_playerView->setPlayer(nullptr);
  if (m_synchroMovieController && m_player) m_synchroMovieController->removeSynchronizedPlayer(m_player);
}

// Window set-up

void VLPlaybackWC::windowDidLoad() {
  setWindowTitle(kWindowTitle);
  resize(960, 560);
  U_BuildContentView();
  U_SetUpPlayer();
  U_SetUpJobs();
  U_BuildTitleAccessory();
  U_BuildMenus();
  U_SetUpSidePane();
}

// The notice line above a split of the movie with its transport bar (left) and the side pane (right).
void VLPlaybackWC::U_BuildContentView() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("contentView"));
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  m_mainSplitV = new ZRN_CommonInitSplitView(Qt::Horizontal, central);
  m_mainSplitV->setObjectName(QStringLiteral("mainSplitV"));
  m_mainSplitV->setChildrenCollapsible(true);
  m_noticeView = new QLabel(central);
  m_noticeView->setObjectName(QStringLiteral("noticeView"));
  m_noticeView->setAccessibleName(QStringLiteral("Session notice"));
  // Its text is what a listener must hear: read as the label's text, and said when it comes on screen.
  ZRNAccessible_ExposeTextAsNotice(m_noticeView);
  m_noticeView->setWordWrap(true);
  m_noticeView->setContentsMargins(8, 4, 8, 4);
  m_noticeView->hide();
  // The notice is as tall as its text; the player takes every other point of the window.
  m_noticeView->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  centralLayout->addWidget(m_noticeView);
  centralLayout->addWidget(m_mainSplitV, 1);

  m_psaxnoMainSubBox = new QWidget(m_mainSplitV);
  m_psaxnoMainSubBox->setObjectName(QStringLiteral("psaxnoMainSubBox"));
  m_psaxnoMainSubBox->setMinimumWidth(400);
  auto* mainLayout = new QVBoxLayout(m_psaxnoMainSubBox);
  mainLayout->setContentsMargins(0, 0, 0, 0);
  mainLayout->setSpacing(0);
  m_viewAspectConstrain = new ZRNAspectRatioBox(m_psaxnoMainSubBox);
  m_viewAspectConstrain->setObjectName(QStringLiteral("viewAspectConstrain"));
  m_playerView = new ZRNAVPlayerView(m_viewAspectConstrain);
  m_playerView->setObjectName(QStringLiteral("playerView"));
  m_viewAspectConstrain->setContentWidget(m_playerView);
  mainLayout->addWidget(m_viewAspectConstrain, 1);
  auto* transportBox = new QFrame(m_psaxnoMainSubBox);
  transportBox->setObjectName(QStringLiteral("transportBox"));
  auto* transportLayout = new QVBoxLayout(transportBox);
  transportLayout->setContentsMargins(8, 4, 8, 4);
  m_synchroMovieController = new ZRNSynchroMovieControllerView(transportBox);
  m_synchroMovieController->setObjectName(QStringLiteral("synchroMovieController"));
  m_synchroMovieController->setMinimumHeight(32);
  transportLayout->addWidget(m_synchroMovieController);
  mainLayout->addWidget(transportBox);

  m_psaxnoRightSubBox = new QWidget(m_mainSplitV);
  m_psaxnoRightSubBox->setObjectName(QStringLiteral("psaxnoRightSubBox"));
  auto* rightLayout = new QVBoxLayout(m_psaxnoRightSubBox);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  U_BuildJobsPane(m_psaxnoRightSubBox);
  setCentralWidget(central);
}

void VLPlaybackWC::U_SetUpPlayer() {
  if (!m_windowAVProject) m_windowAVProject = std::make_shared<ZRNAVCaptureProject>();

  m_player = std::make_shared<Player>();
  // The display stays awake while the session's video plays (not while paused).
  m_player->setPreventsDisplaySleepDuringVideoPlayback(true);

  // Wiring: the transport bar drives the player; the player view shows it and hands keys to the bar.
  m_synchroMovieController->setTheAVProject(m_windowAVProject);
  m_synchroMovieController->addSynchronizedPlayer(m_player);
  m_playerView->setSynchroController(m_synchroMovieController);
  m_synchroMovieController->setTheAVView(m_playerView);
}

void VLPlaybackWC::U_SetUpJobs() {
  NotificationCenter& center = NotificationCenter::defaultCenter();
  m_recordingStateObservation = NotificationObservation(
      center, center.addObserver(kRecordingStateChanged, nullptr, this, [this](const Notification&) { captureStateChanged(); }));
  m_jobsController = std::make_unique<ZRNJobsController>(QStringLiteral("org.velmora.Velmora.exportJobQ"));
  m_jobsTableController->setJobsController(m_jobsController.get());
  U_RefreshJobsPane();
}

// The title-bar accessory: the side pane's show/hide button, and the info button, on a tool bar at the
// top right (a menu bar's corner is out of the Tab order and of the screen reader's tree).
void VLPlaybackWC::U_BuildTitleAccessory() {
  auto* toolBar = new QToolBar(tr("Session Tools"), this);
  toolBar->setObjectName(QStringLiteral("sessionToolBar"));
  toolBar->setAccessibleName(toolBar->windowTitle());
  toolBar->setMovable(false);
  toolBar->setFloatable(false);
  toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
  auto* spacer = new QWidget(toolBar);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  toolBar->addWidget(spacer);
  m_titleAccessoryView = new QWidget(toolBar);
  m_titleAccessoryView->setObjectName(QStringLiteral("titleAccessoryView"));
  auto* accessoryLayout = new QHBoxLayout(m_titleAccessoryView);
  accessoryLayout->setContentsMargins(0, 0, 4, 0);
  auto* paneButton = new QToolButton(m_titleAccessoryView);
  paneButton->setObjectName(QStringLiteral("showHideJobsButton"));
  paneButton->setCheckable(true);
  paneButton->setText(QStringLiteral("Exports"));
  paneButton->setAccessibleDescription(QStringLiteral("Show or Hide Export History"));
  paneButton->setToolTip(paneButton->accessibleDescription());
  paneButton->setFocusPolicy(Qt::TabFocus);
  // Its checked state means "hidden": read as a push button, named by its text; what it does is said by
  // its description.
  ZRNAccessible_SetRole(paneButton, QAccessible::Button);
  connect(paneButton, &QToolButton::clicked, this, [this] { showHideJobsPanel(); });
  accessoryLayout->addWidget(paneButton);
  m_infoBtn = new QToolButton(m_titleAccessoryView);
  m_infoBtn->setObjectName(QStringLiteral("infoBtn"));
  m_infoBtn->setText(QStringLiteral("i"));
  m_infoBtn->setAccessibleName(QStringLiteral("Session Info"));
  m_infoBtn->setFocusPolicy(Qt::TabFocus);
  connect(m_infoBtn, &QToolButton::clicked, this, [this] { showInfo(m_infoBtn); });
  accessoryLayout->addWidget(m_infoBtn);
  toolBar->addWidget(m_titleAccessoryView);
  addToolBar(Qt::TopToolBarArea, toolBar);
}

QAction* VLPlaybackWC::U_AddAction(QMenu* menu, const QString& name, const QString& title, const QKeySequence& shortcut,
                                   void (VLPlaybackWC::*operation)()) {
  auto* action = new QAction(title, this);
  action->setObjectName(name);
  action->setShortcut(shortcut);
  action->setShortcutContext(Qt::WindowShortcut);
  // A shortcut acts only when its menu item would be enabled at this moment.
  connect(action, &QAction::triggered, this, [this, action, operation] {
    if (validateMenuItem(action)) (this->*operation)();
  });
  menu->addAction(action);
  addAction(action);
  m_actions.append(action);
  return action;
}

void VLPlaybackWC::U_BuildMenus() {
  QMenu* session = menuBar()->addMenu(U_MenuTitle("&Session"));
  QMenu* marks = menuBar()->addMenu(U_MenuTitle("&Marks"));
  QMenu* exports = menuBar()->addMenu(U_MenuTitle("&Export"));
  QMenu* view = menuBar()->addMenu(U_MenuTitle("V&iew"));

  U_AddAction(session, QStringLiteral("performClose"), U_MenuTitle("Close Window"), QKeySequence::Close,
              &VLPlaybackWC::u_DoCloseTheWindow);

  U_AddAction(marks, QStringLiteral("defineInPoint"), U_MenuTitle("Set In Point"), QKeySequence(Qt::Key_I),
              &VLPlaybackWC::defineInPoint);
  U_AddAction(marks, QStringLiteral("defineOutPoint"), U_MenuTitle("Set Out Point"), QKeySequence(Qt::Key_O),
              &VLPlaybackWC::defineOutPoint);
  U_AddAction(marks, QStringLiteral("clearInOutPoints"), U_MenuTitle("Clear In and Out Points"),
              QKeySequence(Qt::ALT | Qt::Key_X), &VLPlaybackWC::clearInOutPoints);
  marks->addSeparator();
  U_AddAction(marks, QStringLiteral("define1stPeriodStartPoint"), U_MenuTitle("Start of 1st Period"),
              QKeySequence(Qt::CTRL | Qt::Key_1), &VLPlaybackWC::define1stPeriodStartPoint);
  U_AddAction(marks, QStringLiteral("define1stPeriodEndPoint"), U_MenuTitle("End of 1st Period"),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_1), &VLPlaybackWC::define1stPeriodEndPoint);
  U_AddAction(marks, QStringLiteral("define2ndPeriodStartPoint"), U_MenuTitle("Start of 2nd Period"),
              QKeySequence(Qt::CTRL | Qt::Key_2), &VLPlaybackWC::define2ndPeriodStartPoint);
  U_AddAction(marks, QStringLiteral("define2ndPeriodEndPoint"), U_MenuTitle("End of 2nd Period"),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_2), &VLPlaybackWC::define2ndPeriodEndPoint);
  marks->addSeparator();
  U_AddAction(marks, QStringLiteral("addHomeTeamGoal"), U_MenuTitle("Goal for Home Team"), QKeySequence(Qt::Key_H),
              &VLPlaybackWC::addHomeTeamGoal);
  U_AddAction(marks, QStringLiteral("addGuestTeamGoal"), U_MenuTitle("Goal for Guest Team"), QKeySequence(Qt::Key_G),
              &VLPlaybackWC::addGuestTeamGoal);
  marks->addSeparator();
  U_AddAction(marks, QStringLiteral("gotoPreviousTime"), U_MenuTitle("Previous Mark"),
              QKeySequence(Qt::ALT | Qt::Key_Left), &VLPlaybackWC::gotoPreviousTime);
  U_AddAction(marks, QStringLiteral("gotoNextTime"), U_MenuTitle("Next Mark"), QKeySequence(Qt::ALT | Qt::Key_Right),
              &VLPlaybackWC::gotoNextTime);

  U_AddAction(exports, QStringLiteral("exportInOutClip"), U_MenuTitle("Export Clip from In to Out"),
              QKeySequence(Qt::CTRL | Qt::Key_E), &VLPlaybackWC::exportInOutClip);
  U_AddAction(exports, QStringLiteral("exportMoment"), U_MenuTitle("Export Moment"), QKeySequence(Qt::Key_M),
              &VLPlaybackWC::exportMoment);
  U_AddAction(exports, QStringLiteral("exportAll"), U_MenuTitle("Export Session Movie…"),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), &VLPlaybackWC::exportAll);

  U_AddAction(view, QStringLiteral("showHideJobsPanel"), U_MenuTitle("Show or Hide Export History"),
              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_E), &VLPlaybackWC::showHideJobsPanel);
  U_AddAction(view, QStringLiteral("resizeToNaturalSize"), U_MenuTitle("Natural Size"),
              QKeySequence(Qt::CTRL | Qt::Key_0), &VLPlaybackWC::resizeToNaturalSize);

  // The menu shows which items apply now; closed, every item stays armed and checks itself when used.
  for (QMenu* menu : {session, marks, exports, view}) {
    connect(menu, &QMenu::aboutToShow, this, [this] { U_ValidateMenuItems(); });
    connect(menu, &QMenu::aboutToHide, this, [this] {
      for (QAction* action : m_actions) action->setEnabled(true);
    });
  }
}

QAction* VLPlaybackWC::actionNamed(const QString& name) const {
  for (QAction* action : m_actions)
    if (action->objectName() == name) return action;
  return nullptr;
}

bool VLPlaybackWC::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) m_isInitialized = true;
  return ZRNSizingWC::event(event);
}

// Opening a session

void VLPlaybackWC::openSavedRecording(std::shared_ptr<ZRNRecentDocument> entry) {
  m_windowRecentDoc = std::move(entry);
  openSavedSession(m_windowRecentDoc ? QUrl::fromLocalFile(m_windowRecentDoc->pathToOpen()) : QUrl());
}

void VLPlaybackWC::openSavedSession(const QUrl& packageURL) {
  QPointer<VLPlaybackWC> guard(this);
  Dispatch_MainAsync([guard, packageURL] {
    if (guard) guard->U_OpenPackage(packageURL);
  });
}

void VLPlaybackWC::prepareForNewRecording() {
  if (m_player) m_player->setRate(0.0f);
  setWindowTitle(kWindowTitle);
  setWindowFilePath(QString());
  m_windowAVProject->prepareFoNewRecording();
  m_player->replaceCurrentItemWithPlayerItem(nullptr);
  m_marks.forgetInOutPoints();
  m_synchroMovieController->defineInTime(MediaTime_ClearedMark());
  m_synchroMovieController->defineOutTime(MediaTime_ClearedMark());
}

QString VLPlaybackWC::U_PackagePath() const {
  if (auto doc = vlDocument()) return doc->docURL().toLocalFile();
  return QString();
}

QString VLPlaybackWC::U_MovieExtension() const {
  return Prefs_Shared().movieFileExtension();
}

void VLPlaybackWC::U_OpenPackage(const QUrl& packageURL) {
  prepareForNewRecording();
  const QString packagePath = packageURL.toLocalFile();
  const QString sessionName = QFileInfo(packagePath).completeBaseName();
  // A session the user may not read is not damaged: say what it is.
  QString unreadable = packagePath.isEmpty() ? QString() : U_UnreadableReason(packagePath, true);
  // Top-level items only; hidden items are left out, sub-folders are not entered.
  const QFileInfoList items = packagePath.isEmpty()
                                  ? QFileInfoList()
                                  : QDir(packagePath).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System,
                                                                    QDir::Name);
  AssetRef movie;
  m_settingsFileBlocked = false;
  m_marksUnsaved = false;
  m_toldMarksUnsaved = false;
  m_packageWasLocked = false;
  if (!items.isEmpty()) {
    auto doc = std::make_shared<VLDocument>();
    setVlDocument(doc);
    doc->setWindowController(this);
    doc->setDocURL(packageURL);
    bool interrupted = false;
    for (const QFileInfo& item : items) {
      if (item.fileName() == kVLLockFileName && item.isFile()) {
        m_packageWasLocked = true;
        interrupted = !VLDocument_IsRecordingPackage(packagePath);
      }
      if (!item.isFile()) continue;
      // Exact names: "vlsettings.json" is not the settings file.
      if (item.suffix() == kVLSettingsExtension && item.completeBaseName() == kVLSettingsBaseName) {
        U_ReadSettingsFile(item.absoluteFilePath());
        m_clipsURL = QUrl();
      } else if (item.completeBaseName() == kVLMovieBaseName) {
        if (unreadable.isEmpty()) unreadable = U_UnreadableReason(item.absoluteFilePath(), false);
        m_capturedMovieURL = QUrl::fromLocalFile(item.absoluteFilePath());
        movie = FragmentedAsset::fragmentedAssetWithURL(m_capturedMovieURL);
        m_capturedMovieAsset = movie;
      }
    }
    if (interrupted) U_ClearInterruptedRecording(packagePath);
    m_windowAVProject->setVideoSize(doc->frameSize());
    m_windowAVProject->setUseAudio(doc->captureAudio());
    m_windowAVProject->setStartMillisToClip(doc->initialMillisToClip());
    if (movie && unreadable.isEmpty()) loadSavedAsset(movie);
    // Opening writes nothing: the settings file is written when a mark or a job changes.
  }
  m_jobsController->setJobsDoc(vlDocument());
  U_InitSoundControls();
  U_RefreshJobsPane();
  if (!unreadable.isEmpty()) {
    ZRNLogger_Log(QStringLiteral("ATT: %@ cannot be read: %@"), packagePath, unreadable);
    Alert_ShowAlertWithID(kAlertSessionUnreadable, sessionName, unreadable);
    ZRNAppHost_Shared().U_CloseAndRemoveWC(this);
    return;
  }
  // A package that lists nothing or holds no movie cannot be played: say so and let it go.
  if (!movie) {
    ZRNLogger_Log(QStringLiteral("ATT: no movie found in %@"), packagePath);
    U_SessionCannotBeOpened(sessionName);
  }
}

void VLPlaybackWC::U_ClearInterruptedRecording(const QString& packagePath) {
  ZRNLogger_Log(QStringLiteral("ATT: the recording of %@ was interrupted"), packagePath);
  U_ShowNotice(QStringLiteral("The recording of this session was interrupted. What was recorded up to the interruption "
                              "is shown."));
  if (!QFile::remove(QDir(packagePath).filePath(kVLLockFileName)))
    ZRNLogger_Log(QStringLiteral("ATT: cannot remove the lock file of %@"), packagePath);
  File_ClearCustomIcon(QUrl::fromLocalFile(packagePath));
}

void VLPlaybackWC::U_TellMovieReadInPart(const Asset& movie) {
  const AssetReadablePart part = movie.readablePart();
  if (part.whole || m_packageWasLocked) return;
  const QString shown = compactStringWithCMTime(movie.duration());
  ZRNLogger_Log(QStringLiteral("ATT: %@ could be read only in part: %lld of %lld bytes"),
                m_capturedMovieURL.toLocalFile(), static_cast<long long>(part.readableBytes),
                static_cast<long long>(part.fileBytes));
  if (part.declaredDuration.isNumeric()) {
    U_ShowNotice(Fmt("The movie of this session is damaged and could be read only in part: the first %@ of its %@ are "
                     "shown.",
                     shown, compactStringWithCMTime(part.declaredDuration)));
  } else {
    const auto [readable, size] = File_SizeTextsApart(part.readableBytes, part.fileBytes);
    U_ShowNotice(Fmt("The movie of this session is damaged and could be read only in part: the first %@ are shown, "
                     "from %@ of its %@.",
                     shown, readable, size));
  }
}

void VLPlaybackWC::U_ShowNotice(const QString& text) {
  const QString shown = m_noticeView->text();
  if (shown.split(QLatin1Char('\n')).contains(text)) return;
  m_noticeView->setText(shown.isEmpty() ? text : shown + QLatin1Char('\n') + text);
  m_noticeView->show();
  ZRNAccessible_ValueTextChanged(m_noticeView);
}

bool VLPlaybackWC::U_ReadSettingsFile(const QString& path) {
  const VLSettingsFileRead read = VLDocument_ReadSettings(path);
  switch (read.outcome) {
    case VLSettingsFileRead::Outcome::Loaded:
      vlDocument()->loadFromDictionary(read.dictionary);
      U_LoadTagsFrom(read.dictionary.value(QStringLiteral("tags")).toList());
      return true;
    case VLSettingsFileRead::Outcome::Damaged:
      if (read.asidePath.isEmpty()) {
        m_settingsFileBlocked = true;
        U_ShowNotice(QStringLiteral("The settings file of this session is damaged and could not be kept aside. It is left "
                                    "as it is; marks made now are not saved."));
      } else {
        U_ShowNotice(Fmt("The settings file of this session was damaged. It has been kept as \"%@\" in the session "
                         "package; the session opens without its marks.",
                         QFileInfo(read.asidePath).fileName()));
      }
      return false;
    case VLSettingsFileRead::Outcome::Unreadable:
      m_settingsFileBlocked = true;
      U_ShowNotice(Fmt("The settings file of this session cannot be read (%@). It is left as it is; marks made now are "
                       "not saved.",
                       read.reason));
      return false;
  }
  return false;
}

void VLPlaybackWC::U_SessionCannotBeOpened(const QString& sessionName) {
  Alert_ShowAlertWithID(kAlertSessionDamaged, sessionName);
  ZRNAppHost_Shared().U_CloseAndRemoveWC(this);
}

void VLPlaybackWC::U_SessionHoldsNothing(const QString& sessionName) {
  Alert_ShowAlertWithID(kAlertNothingRecorded, sessionName);
  ZRNAppHost_Shared().U_CloseAndRemoveWC(this);
}

void VLPlaybackWC::loadSavedAsset(const AssetRef& asset) {
  const QStringList keys{QString::fromLatin1(kAssetKeyPlayable),
                         QString::fromLatin1(kAssetKeyHasProtectedContent),
                         QString::fromLatin1(kAssetKeyTracks),
                         QString::fromLatin1(kAssetKeyDuration),
                         QString::fromLatin1(kAssetKeyCanContainFragments),
                         QString::fromLatin1(kAssetKeyContainsFragments)};
  QPointer<VLPlaybackWC> guard(this);
  asset->loadValuesAsynchronouslyForKeys(keys, [guard, asset, keys] {
    Dispatch_MainAsync([guard, asset, keys] {
      if (!guard) return;
      VLPlaybackWC* self = guard.data();
      self->setUpPlaybackOfSavedAsset(asset, keys);
      QList<AssetTrackRef> videoTracks;
      if (asset->statusOfValueForKey(QString::fromLatin1(kAssetKeyTracks)) == KeyValueStatus::Loaded)
        videoTracks = asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
      // A recording stopped before its first fragment has tracks but not one frame to show.
      const MediaTime duration = asset->duration();
      if (videoTracks.isEmpty() || !duration.isNumeric() || duration <= kMediaTimeZero) {
        // Its movie is empty, not damaged: the user learns that nothing was recorded, and the package,
        // with its marks, stays as it is.
        if (asset->holdsNoFrame()) {
          ZRNLogger_Log(QStringLiteral("ATT: nothing was recorded in %@"), self->m_capturedMovieURL.toLocalFile());
          self->U_SessionHoldsNothing(QFileInfo(self->U_PackagePath()).completeBaseName());
          return;
        }
        ZRNLogger_Log(QStringLiteral("ATT: NO video track found in %@"), self->m_capturedMovieURL.toLocalFile());
        self->U_SessionCannotBeOpened(QFileInfo(self->U_PackagePath()).completeBaseName());
        return;
      }
      const QSizeF size = videoTracks.first()->naturalSize();
      self->m_windowAVProject->setVideoSize(size);
      const double ratio = size.width() / size.height();
      if (!(ratio == self->m_viewAspectConstrain->multiplier())) self->m_viewAspectConstrain->updateMultiplier(ratio);
      self->U_UpdateSoundControls();
      self->U_TellMovieReadInPart(*asset);
      if (self->m_openWindowOnLoad) Gui_ShowWindowInArea(self);
    });
  });
}

void VLPlaybackWC::setUpPlaybackOfSavedAsset(const AssetRef& asset, const QStringList& keys) {
  for (const QString& key : keys) {
    QString error;
    if (asset->statusOfValueForKey(key, &error) == KeyValueStatus::Failed) {
      ZRNLogger_Log(QStringLiteral("asset key failed to load: %@ error: %@"), key, error);
      return;
    }
  }
  if (!asset->isPlayable() || asset->hasProtectedContent()) return;
  if (!asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo)).isEmpty() && !m_playerView->player())
    m_playerView->setPlayer(m_player.get());
  m_capturedMovieAsset = asset;
  U_UpdateForSavedAsset();
}

void VLPlaybackWC::U_UpdateForSavedAsset() {
  m_windowAVProject->setSegmentAssetsArray({m_capturedMovieAsset});
  m_windowAVProject->U_ClearEdits();
  MutableCompositionRef composition = m_windowAVProject->editedComposition();
  m_player->replaceCurrentItemWithPlayerItem(PlayerItem::itemWithAsset(composition));
  const QString packagePath = QFileInfo(m_capturedMovieURL.toLocalFile()).absolutePath();
  setWindowTitle(QFileInfo(packagePath).completeBaseName());
  setWindowFilePath(packagePath);
  const MediaTime duration = composition ? composition->duration() : kMediaTimeInvalid;
  if (!duration.isNumeric()) ZRNLogger_Log(QStringLiteral("ATT: newDuration: %.2f"), MediaTimeGetSeconds(duration));
  m_synchroMovieController->UU_SetupForPaused();
  m_synchroMovieController->updateControllerForMovieDuration(duration);
}

double VLPlaybackWC::totalDuration() const {
  return m_capturedMovieAsset ? MediaTimeGetSeconds(m_capturedMovieAsset->duration()) : 0.0;
}

// Closing

void VLPlaybackWC::u_DoCloseTheWindow() { close(); }

bool VLPlaybackWC::U_AskToLoseUnsavedMarks(bool quitting) {
  // Marks that could not be saved are tried once more, then only go when the user says so.
  if (m_marksUnsaved) updateVLDoc();
  if (!m_marksUnsaved) return true;
  return Alert_ShowAlertWithID(quitting ? kAlertUnsavedMarksOnQuit : kAlertUnsavedMarks,
                               QFileInfo(U_PackagePath()).completeBaseName()) == kAlertFirstButton;
}

bool VLPlaybackWC::windowShouldClose() {
  if (!U_AskToLoseUnsavedMarks()) return false;
  U_ForgetUnsavedMarks();
  const int64_t pending = m_jobsController->numberOfPendingJobs();
  if (pending < 1) return true;
  const int answer = Alert_ShowAlertWithID(pending == 1 ? kAlertOneExportPending : kAlertExportsPending, QString());
  if (answer != kAlertFirstButton) return false;
  m_jobsController->clearAllPendingJobs();
  U_RefreshJobsPane();
  QPointer<VLPlaybackWC> guard(this);
  Dispatch_MainAsync([guard] {
    if (guard) Dispatch_MainAfter(std::chrono::milliseconds(0), [guard] {
        if (guard) guard->u_DoCloseTheWindow();
      });
  });
  return false;
}

void VLPlaybackWC::windowWillClose() {
  if (m_player) m_player->setRate(0.0f);
  ZRNAppHost_Shared().removeWC(this);
}

void VLPlaybackWC::closeEvent(QCloseEvent* event) {
  if (!windowShouldClose()) {
    event->ignore();
    return;
  }
  event->accept();
  windowWillClose();
}
