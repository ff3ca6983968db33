// The application delegate's documents, windows and launcher badge: recent sessions, files handed to the
// application, the open panel, the playback windows and the validation of the menu commands.

#include "app/ZRNAppDelegate.h"

#include "common/ZRNAlerts.h"
#include "app/ZRNAppMenus.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNLogger.h"
#include "app/ZRNAppPreferences.h"
#include "app/VLConvertLegacySessionWC.h"
#include "common/ZRNRecentDocument.h"
#include "session/VLDocument.h"
#include "platform/gui/FilePanels.h"
#include "platform/system/Workspace.h"
#include "platform/gui/WindowPlacement.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/gui/DialogRunner.h"
#include "platform/gui/DockBadge.h"

#include "capture/VLLiveWC.h"
#include "composition/ZRNJobsController.h"
#include "playback/VLPlaybackWC.h"
#include "playback/VLProgressivePlayWC.h"
#include "prefs/ZRNPrefsController.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

namespace {
const QString kZRNRecentDocuments = QStringLiteral("ZRNRecentDocuments");
constexpr int kAlertCannotOpenRecent = 20013;
constexpr int kAlertConvertLegacy = 20027;
constexpr int kAlertCannotOpenFile = 20014;
constexpr int kAlertFirstButton = -1000;

bool isReachable(const QString& path) { return !path.isEmpty() && QFileInfo::exists(path); }

QString withExtension(const QString& path, const QString& extension) {
  const QString clean = ZRNRecentDocument::standardizedPath(path);
  const QFileInfo info(clean);
  const QString name = info.fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString base = dot > 0 ? name.left(dot) : name;
  return info.dir().filePath(base + QLatin1Char('.') + extension);
}

bool hasExtension(const QString& path, const QString& extension) {
  return QFileInfo(ZRNRecentDocument::standardizedPath(path)).suffix() == extension;
}

// Converts an old session folder. The new package is listed first among the recent sessions (in place
// of `replaced`) and opened while the conversion's window still shows: something of Velmora stays on
// the screen until the session's window does.
void convertAndOpen(ZRNAppDelegate& delegate, const QString& path, const std::shared_ptr<ZRNRecentDocument>& replaced) {
  QPointer<QWidget> opened;
  Legacy_ConvertSession(QUrl::fromLocalFile(path), [&]() -> QWidget* {
    if (replaced) delegate.recentDocsArray().removeAll(replaced);
    delegate.addZRNRecentItemForPath(withExtension(path, kVLPackageExtension));
    delegate.U_OpenWindowForTopDoc();
    opened = delegate.playbackWindows().isEmpty() ? nullptr : delegate.playbackWindows().last().data();
    return opened;
  });
  if (opened && opened->isVisible()) delegate.bringDocWindowToFront(opened);
}

}  // namespace

// Recent sessions

QList<std::shared_ptr<ZRNRecentDocument>>& ZRNAppDelegate::recentDocsArray() {
  if (!m_recentsLoaded) loadSavedRecents();
  return m_recentDocsArray;
}

void ZRNAppDelegate::loadSavedRecents() {
  m_recentsLoaded = true;
  m_recentDocsArray.clear();
  m_recentDocsArray.reserve(maxZRNRecentDocs());
  // Entries are neither tested nor cut here: the menu drops the unreachable ones.
  for (const QVariant& stored : UserDefaults::standard().arrayForKey(kZRNRecentDocuments))
    m_recentDocsArray.append(std::make_shared<ZRNRecentDocument>(stored.toMap()));
}

void ZRNAppDelegate::saveRecents() {
  UserDefaults& defaults = UserDefaults::standard();
  QVariantList stored;
  for (const auto& entry : recentDocsArray()) stored.append(entry->dictionaryToSave());
  if (stored.isEmpty())
    defaults.removeObject(kZRNRecentDocuments);
  else
    defaults.setObject(kZRNRecentDocuments, stored);
  defaults.synchronize();
}

void ZRNAppDelegate::clearZRNRecentDocuments() {
  recentDocsArray().clear();
  saveRecents();
  loadZRNRecentsMenu();
}

std::shared_ptr<ZRNRecentDocument> ZRNAppDelegate::topRecentDoc() {
  auto& list = recentDocsArray();
  return list.isEmpty() ? nullptr : list.first();
}

void ZRNAppDelegate::U_AddZRNRecentItem(std::shared_ptr<ZRNRecentDocument> entry) {
  if (!entry) return;
  auto& list = recentDocsArray();
  for (qsizetype i = 0; i < list.size(); ++i) {
    if (!list.at(i)->matches(*entry)) continue;
    // Already listed: the existing entry moves to the top, the new one is dropped.
    auto existing = list.takeAt(i);
    existing->setOpenDate(QDateTime::currentDateTime());
    list.prepend(existing);
    saveRecents();
    loadZRNRecentsMenu();
    return;
  }
  entry->setOpenDate(QDateTime::currentDateTime());
  list.prepend(std::move(entry));
  while (list.size() > maxZRNRecentDocs()) list.removeLast();
  saveRecents();
  loadZRNRecentsMenu();
}

void ZRNAppDelegate::addZRNRecentItemForPath(const QString& path) {
  U_AddZRNRecentItem(std::make_shared<ZRNRecentDocument>(path));
}

void ZRNAppDelegate::loadZRNRecentsMenu() {
  auto& list = recentDocsArray();
  const qsizetype noted = list.size();
  // The entries that went are written once, however many: a stored list of thousands of lost paths
  // would otherwise rewrite the whole preferences file once for each of them.
  const qsizetype removed = list.removeIf([](const auto& entry) { return !isReachable(entry->docPath()); });
  // Beyond the length of the menu nothing is shown or kept (a stored list may be longer than ours).
  const bool cut = list.size() > maxZRNRecentDocs();
  if (cut) list.resize(maxZRNRecentDocs());
  if (removed > 0 || cut) saveRecents();
  auto* menu = new QMenu;
  menu->setObjectName(QStringLiteral("recentsMenu"));
  QList<QAction*> items;
  for (qsizetype i = list.size() - 1; i >= 0; --i) {
    const auto entry = list.at(i);
    auto* item = new QAction(entry->menuImage(), entry->menuTitle(), menu);
    item->setToolTip(entry->windowTitle());
    // The menu is still in its own handlers when an item triggers: what the item leads to (a question,
    // a conversion, a new menu) waits for a turn of its own.
    QObject::connect(item, &QAction::triggered, this, [this, entry] {
      Gui_HandleDialogResult(nullptr, this, [this, entry] { U_OpenRecentEntry(entry); });
    });
    items.prepend(item);
  }
  menu->addActions(items);
  // The separator and the enabling follow the count before the unreachable entries went.
  if (noted > 0) menu->addSeparator();
  QAction* clear = menu->addAction(QCoreApplication::translate("Localizable", "Clear Menu"));
  clear->setObjectName(QStringLiteral("clearZRNRecentDocuments"));
  clear->setEnabled(noted > 0);
  // Queued: the menu that holds the item is replaced (and deleted) by the clearing.
  QObject::connect(clear, &QAction::triggered, this, [this] { clearZRNRecentDocuments(); }, Qt::QueuedConnection);
  mainMenu()->setRecentsMenu(menu);
}

void ZRNAppDelegate::openZRNRecentDoc(QAction* item) {
  QMenu* menu = mainMenu()->recentsMenu();
  if (!item || !menu) return;
  auto& list = recentDocsArray();
  const qsizetype index = menu->actions().indexOf(item);
  if (index < 0 || index >= list.size()) return;
  U_OpenRecentEntry(list.at(index));
}

void ZRNAppDelegate::U_OpenRecentEntry(const std::shared_ptr<ZRNRecentDocument>& entry) {
  auto& list = recentDocsArray();
  // The list may have changed since the item was chosen: an entry no longer listed is not opened.
  if (!entry || !list.contains(entry) || m_appIsQuitting) return;
  const QString path = entry->docPath();
  if (!isReachable(path)) {
    Alert_ShowAlertWithID(kAlertCannotOpenRecent, entry->menuTitle());
    list.removeAll(entry);
    saveRecents();
    loadZRNRecentsMenu();
    return;
  }
  if (hasExtension(path, kVLLegacyExtension)) {
    if (Alert_ShowAlertWithID(kAlertConvertLegacy, entry->menuTitle()) == kAlertFirstButton)
      convertAndOpen(*this, path, entry);
    return;
  }
  if (!shouldOpenTarget(path)) return;
  addZRNRecentItemForPath(path);
  U_OpenWindowForTopDoc();
}

// Files handed to the application

bool ZRNAppDelegate::application_openFiles(const QStringList& paths) {
  if (m_fAppDidFinishLaunching && !m_filenamesToOpen.isEmpty()) m_filenamesToOpen.clear();
  for (const QString& path : paths) m_filenamesToOpen.append(path);
  // Until the delayed start-up actions have run the files only wait.
  if (m_fAppDidFinishLaunching) U_HandleOpenFiles(m_filenamesToOpen);
  return true;
}

void ZRNAppDelegate::openDroppedFiles() {
  if (!m_filenamesToOpen.isEmpty()) U_HandleOpenFiles(m_filenamesToOpen);
}

void ZRNAppDelegate::U_OpenLegacyOrPackage(const QString& path) {
  // A path that names nothing (a mistyped name, a session moved away) is said, not dropped in silence;
  // it leaves the recents as a session that cannot be opened does.
  if (!QFileInfo::exists(path)) {
    ZRNLogger_Log(QStringLiteral("ATT: nothing to open at %@"), path);
    Alert_ShowAlertWithID(kAlertCannotOpenFile, ZRNRecentDocument::displayName(path));
    const ZRNRecentDocument missing(path);
    if (recentDocsArray().removeIf([&](const std::shared_ptr<ZRNRecentDocument>& e) { return e->matches(missing); }) > 0) {
      saveRecents();
      loadZRNRecentsMenu();
    }
    return;
  }
  if (hasExtension(path, kVLLegacyExtension)) {
    if (Alert_ShowAlertWithID(kAlertConvertLegacy, ZRNRecentDocument::displayName(path)) == kAlertFirstButton)
      convertAndOpen(*this, path, nullptr);
    return;
  }
  if (!shouldOpenTarget(path)) return;
  addZRNRecentItemForPath(path);
  U_OpenWindowForTopDoc();
}

void ZRNAppDelegate::U_StartLiveSessionIfLaunchFilesFailed() {
  if (!m_openingLaunchFiles || m_appIsQuitting) return;
  // A window still opening, or one that was shown: something given at launch could be opened.
  for (const QPointer<QWidget>& window : m_playbackWindows)
    if (window) return;
  m_openingLaunchFiles = false;
  ZRNLogger_Log(QStringLiteral("nothing given at launch could be opened: a new live session starts"));
  startNewRecording();
}

void ZRNAppDelegate::U_HandleSecondStart(const QStringList& handed) {
  ZRNLogger_Log(QStringLiteral("paths handed over by another start: %ld"), static_cast<long>(handed.size()));
  if (!handed.isEmpty()) {
    application_openFiles(handed);
    return;
  }
  // Started again without files: the user looks for Velmora.
  if (QWidget* front = U_FrontWindow()) {
    bringDocWindowToFront(front);
    return;
  }
  // No window is left (the last one was closed, the naming panel cancelled) and there is no menu bar to
  // reach: the launcher does what starting Velmora does. A launch or a camera wait still under way opens
  // its window by itself.
  if (!m_fAppDidFinishLaunching || m_deviceWaitingTimer || m_appIsQuitting) return;
  startNewRecording();
}

QWidget* ZRNAppDelegate::U_FrontWindow() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible() || window->windowType() == Qt::Popup || window->windowType() == Qt::ToolTip) continue;
    if (qobject_cast<QMainWindow*>(window) || qobject_cast<QDialog*>(window)) return window;
  }
  return nullptr;
}

void ZRNAppDelegate::U_HandleOpenFiles(QStringList& paths) {
  // A copy: opening a window can hand more files over meanwhile.
  const QStringList toOpen = paths;
  paths.clear();
  for (const QString& path : toOpen) U_OpenLegacyOrPackage(path);
  ZRNLogger_Log(QStringLiteral("<<-- U_HandleOpenFiles"));
}

void ZRNAppDelegate::bringDocWindowToFront(QWidget* window) {
  if (!window) return;
  Gui_ShowWindowInArea(window);
  window->raise();
  window->activateWindow();
}

// The open panel

namespace {
// Session packages are folders: choosing one accepts it, choosing any other folder opens it.
class ZRNOpenPanel : public QFileDialog {
 public:
  explicit ZRNOpenPanel(QWidget* parent) : QFileDialog(parent) {}

  void accept() override {
    const QStringList chosen = selectedFiles();
    const QString path = chosen.value(0);
    const QString suffix = QFileInfo(path).suffix();
    if (!path.isEmpty() && QFileInfo(path).isDir() && suffix != kVLPackageExtension && suffix != kVLLegacyExtension) {
      setDirectory(path);
      return;
    }
    QFileDialog::accept();
  }
};
}  // namespace

void ZRNAppDelegate::openSavedRecording() {
  if (m_openPanel) {
    bringDocWindowToFront(m_openPanel);
    return;
  }
  // An old session folder is one document too: a double-click chooses it, never enters it.
  FilePanels_RegisterPackageExtension(kVLLegacyExtension);
  auto* panel = new ZRNOpenPanel(nullptr);
  panel->setObjectName(QStringLiteral("openPanel"));
  panel->setAttribute(Qt::WA_DeleteOnClose);
  panel->setOption(QFileDialog::DontUseNativeDialog, true);
  panel->setOption(QFileDialog::ReadOnly, true);  // no folders created
  panel->setAcceptMode(QFileDialog::AcceptOpen);
  panel->setFileMode(QFileDialog::Directory);  // a session is a folder
  panel->setOption(QFileDialog::ShowDirsOnly, false);
  panel->setLabelText(QFileDialog::Accept, QCoreApplication::translate("Localizable", "Open"));
  panel->setWindowTitle(QCoreApplication::translate("Localizable", "Select a saved recording"));
  panel->setNameFilters({QStringLiteral("Velmora sessions (*.%1 *.%2)").arg(kVLPackageExtension, kVLLegacyExtension)});
  QString start = gZRNAppPrefs ? gZRNAppPrefs->openTargetDirectory().toLocalFile() : QString();
  if (start.isEmpty() || !QFileInfo(start).isDir()) start = StandardLocations::desktopPath();
  panel->setDirectory(start);
  m_openPanel = panel;
  m_appInModalMode = true;
  connect(panel, &QDialog::finished, this, [this](int result) { U_OpenPanelEnded(result); });
  panel->show();
}

void ZRNAppDelegate::U_OpenPanelEnded(int result) {
  QPointer<QFileDialog> panel = m_openPanel;
  QString chosen;
  if (result == QDialog::Accepted && panel) {
    chosen = panel->selectedFiles().value(0);
    if (gZRNAppPrefs) gZRNAppPrefs->setOpenTargetDirectory(QUrl::fromLocalFile(QFileInfo(chosen).absolutePath()));
  }
  m_openPanel = nullptr;
  m_appInModalMode = false;
  // The panel may still be delivering the key that accepted it (its completion list forwards Return to
  // the name field), and it is deleted once it has closed: the question about an old folder and its
  // conversion run nested event loops, so they wait until the panel's handlers have returned.
  Gui_HandleDialogResult(panel, this, [this, chosen] {
    if (!chosen.isEmpty() && !m_appIsQuitting) U_OpenLegacyOrPackage(chosen);
  });
}

// Playback windows, the launcher badge and the commands that depend on windows

namespace {
const char* const kShowRecFootage = "showRecFootage";
const char* const kShowHideJobsPanel = "showHideJobsPanel";

QString menuText(const char* text) { return QCoreApplication::translate("MenuItems", text); }
}  // namespace

bool ZRNAppDelegate::validateMenuItem(QAction* item) {
  if (!item) return false;
  const QString action = item->objectName();
  QWidget* liveWindow = VLLiveWC_Window();
  QWidget* key = keyWindow();
  const bool liveIsKey = liveWindow && key == liveWindow->window();
  if (action == QLatin1String("openSavedRecording") || action == QLatin1String("showHidePreferencesWindow"))
    return !m_appInModalMode;
  if (action == QLatin1String("startNewRecording"))
    return !(liveWindow && Gui_IsWindowShown(liveWindow)) && !m_appInModalMode;
  if (action == QLatin1String("startRecording"))
    return liveIsKey && !ZRNPrefsController_IsONAndShowingCameraSettings() && !recordingIsON() &&
           VLLiveWC_MayStartRecording();
  if (action == QLatin1String("stopRecording")) return liveIsKey && recordingIsON();
  if (action == QLatin1String(kShowRecFootage)) {
    QWidget* progressive = m_capturePlaybackWC;
    const bool shownAndKey = progressive && Gui_IsWindowShown(progressive) && key == progressive;
    item->setText(menuText(shownAndKey ? "Hide Live Recording" : "Show Live Recording"));
    return shownAndKey || (recordingIsON() && progressive);
  }
  if (action == QLatin1String(kShowHideJobsPanel)) {
    auto* playback = qobject_cast<VLPlaybackWC*>(key);
    item->setText(menuText(playback && playback->paneIsVisible() ? "Hide Export History" : "Show Export History"));
    return playback != nullptr;
  }
  return true;
}


bool ZRNAppDelegate::shouldOpenTarget(const QString& path) {
  if (VLPlaybackWC* open = docIsAlreadyOpen(path)) {
    bringDocWindowToFront(open);
    return false;
  }
  return true;
}

VLPlaybackWC* ZRNAppDelegate::docIsAlreadyOpen(const QString& path) const {
  const ZRNRecentDocument wanted(path);
  for (const QPointer<QWidget>& window : m_playbackWindows) {
    auto* controller = qobject_cast<VLPlaybackWC*>(window.data());
    if (!controller) continue;
    const auto entry = controller->windowRecentDoc();
    if (entry && entry->matches(wanted)) return controller;
  }
  return nullptr;
}

void ZRNAppDelegate::U_OpenWindowForTopDoc() {
  const auto top = topRecentDoc();
  if (!top) return;
  top->setOpenDate(QDateTime::currentDateTime());
  auto* controller = new VLPlaybackWC();
  m_playbackWindows.append(controller);
  controller->openSavedRecording(top);
}

void ZRNAppDelegate::U_CloseAndRemoveWC(QWidget* window) {
  auto* controller = qobject_cast<VLPlaybackWC*>(window);
  if (!controller) return;
  if (const auto entry = controller->windowRecentDoc()) {
    auto& list = recentDocsArray();
    list.removeIf([&](const std::shared_ptr<ZRNRecentDocument>& e) { return e == entry || e->matches(*entry); });
  }
  removeWC(controller);
  saveRecents();
  loadZRNRecentsMenu();
  U_StartLiveSessionIfLaunchFilesFailed();
}

bool ZRNAppDelegate::U_CloseFileIfOpen(const QString& path) {
  VLPlaybackWC* controller = docIsAlreadyOpen(path);
  if (!controller) return false;
  controller->close();
  return true;
}

void ZRNAppDelegate::removeWC(QWidget* controller) {
  // A window the user has seen closes: the launch opened something.
  if (controller && controller->testAttribute(Qt::WA_WState_ExplicitShowHide)) m_openingLaunchFiles = false;
  m_playbackWindows.removeIf([&](const QPointer<QWidget>& w) { return !w || w.data() == controller; });
  if (controller) controller->deleteLater();
}

void ZRNAppDelegate::U_CloseWindowsForTermination() {
  // Nothing is asked any more: the windows go without their close requests (which would ask about
  // exports), the live window's capture stops with it, the players with theirs.
  QList<QPointer<QWidget>> windows = m_playbackWindows;
  windows.append(QPointer<QWidget>(m_capturePlaybackWC.data()));
  m_playbackWindows.clear();
  m_capturePlaybackWC = nullptr;
  for (const QPointer<QWidget>& window : windows) delete window.data();
  delete VLLiveWC_Current();
  delete m_openPanel.data();
}

VLProgressivePlayWC* ZRNAppDelegate::capturePlaybackWC() const { return m_capturePlaybackWC; }
void ZRNAppDelegate::setCapturePlaybackWC(VLProgressivePlayWC* controller) { m_capturePlaybackWC = controller; }
QWidget* ZRNAppDelegate::capturePlaybackWindow() const { return m_capturePlaybackWC; }
void ZRNAppDelegate::setCapturePlaybackWindow(QWidget* window) {
  setCapturePlaybackWC(qobject_cast<VLProgressivePlayWC*>(window));
}

void ZRNAppDelegate::U_OpenLiveRecordingAndShow(bool show) {
  auto* controller = new VLProgressivePlayWC();
  m_capturePlaybackWC = controller;
  controller->setLiveDocument(VLLiveWC_Document());
  controller->setOpenWindowOnLoad(show);
  controller->openLiveFootage(VLLiveWC_CapturedMovieURL());
  controller->setWindowRecentDoc(nullptr);
  if (show) {
    Gui_ShowWindowInArea(controller);
    VLLiveWC_SetProgressiveWindowWasOpen(true);
  }
}

void ZRNAppDelegate::showRecFootage() {
  VLProgressivePlayWC* controller = m_capturePlaybackWC;
  if (!controller) {
    U_OpenLiveRecordingAndShow(true);
    return;
  }
  const bool shownAndKey = Gui_IsWindowShown(controller) && keyWindow() == controller;
  VLLiveWC_SetProgressiveWindowWasOpen(!shownAndKey);
  controller->showOrHideWindow();
}

void ZRNAppDelegate::showHideJobsPanel() {
  if (auto* playback = qobject_cast<VLPlaybackWC*>(keyWindow())) playback->showHideJobsPanel();
}

void ZRNAppDelegate::U_UpdateApplicationDockTile() {
  qint64 pending = 0;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    // Exactly the playback window of a saved session: the live recording's window does not count.
    auto* playback = qobject_cast<VLPlaybackWC*>(window);
    if (!playback || playback->metaObject() != &VLPlaybackWC::staticMetaObject) continue;
    if (ZRNJobsController* jobs = playback->jobsController()) pending += jobs->numberOfPendingJobs();
  }
  m_dockBadgeLabel = pending > 0 ? Fmt(QStringLiteral("%ld"), static_cast<long>(pending)) : QString();
  DockBadge_SetLabel(m_dockBadgeLabel);
}

