#include "prefs/ZRNPrefsController.h"

#include "common/ZRNDarkLook.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppHost.h"
#include "common/ZRNAppPrefs.h"
#include "capture/VLLiveWC.h"
#include "capture/ZRNCaptureAuth.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/system/SUUpdater.h"
#include "prefs/UpdatesPrefsTabController.h"
#include "prefs/VLCameraPrefsTabVC.h"
#include "prefs/VLExportPrefsTabVC.h"

#include <QAction>
#include <QApplication>

ZRNPrefsController* gZRNPrefsController = nullptr;

namespace {
std::function<void(bool)>& WindowShownHandler() {
  static std::function<void(bool)> handler;
  return handler;
}
}  // namespace

// ---- ZRNBasePrefsTabVC ----

ZRNBasePrefsTabVC::ZRNBasePrefsTabVC(QWidget* parent) : ZRN_CommonInitViewC(parent) { m_isEnabled = true; }

void ZRNBasePrefsTabVC::awakeFromNib() {
  ZRN_ApplyDarkLook(this);
  setAutoFillBackground(true);
}

// ---- ZRNPrefsController ----

ZRNPrefsController* ZRNPrefsController::sharedPreferencesController() {
  if (!gZRNPrefsController) gZRNPrefsController = new ZRNPrefsController;
  return gZRNPrefsController;
}

ZRNPrefsController* ZRNPrefsController::existingController() { return gZRNPrefsController; }

void ZRNPrefsController::releaseSharedController() {
  delete gZRNPrefsController;
  gZRNPrefsController = nullptr;
}

void ZRNPrefsController::setWindowShownHandler(std::function<void(bool)> handler) { WindowShownHandler() = std::move(handler); }

ZRNPrefsController::ZRNPrefsController(QWidget* parent) : MBPreferencesController(parent) {
  ZRN_ApplyDarkLook(this);
  m_cameraTab = new VLCameraPrefsTabVC;
  m_exportTab = new VLExportPrefsTabVC;
  m_updatesTab = new UpdatesPrefsTabController;
  setModules({m_cameraTab, m_exportTab, m_updatesTab});
  // The camera module comes and goes with the recording.
  auto& center = NotificationCenter::defaultCenter();
  // A recording that starts (or waits to) while the camera module is shown takes it out of reach; it
  // comes back once a stop has saved or removed the recording, or a waiting start was given up.
  auto follow = [this](const Notification&) {
    if (VLLiveWC_RecordingUnderWay() && currentModule() && currentModule()->identifier() == QLatin1String(kCameraPrefsPaneID))
      selectModuleWithIdentifier(QString::fromLatin1(kExportPrefsPaneID));
    refreshToolbarItems();
  };
  m_recordingObservation =
      NotificationObservation(center, center.addObserver(kZRNRecordingStateChangedNotification, nullptr, this, follow));
  m_underWayObservation =
      NotificationObservation(center, center.addObserver(kZRNRecordingUnderWayChangedNotification, nullptr, this, follow));
}

ZRNPrefsController::~ZRNPrefsController() {
  m_recordingObservation.reset();
  m_underWayObservation.reset();
  if (gZRNPrefsController == this) gZRNPrefsController = nullptr;
}

QStringList ZRNPrefsController::toolbarAllowedItemIdentifiers() const {
  const bool recording = VLLiveWC_RecordingUnderWay();
  if (m_cameraTab) m_cameraTab->setIsEnabled(!recording);
  QStringList identifiers = MBPreferencesController::toolbarAllowedItemIdentifiers();
  if (recording) identifiers.removeAll(QString::fromLatin1(kCameraPrefsPaneID));
  return identifiers;
}

void ZRNPrefsController::showWindow() {
  MBPreferencesController::showWindow();
  if (WindowShownHandler()) WindowShownHandler()(true);
}

void ZRNPrefsController::_selectModule(QAction* sender) {
  if (sender && sender->objectName() == QLatin1String(kCameraPrefsPaneID) && VLLiveWC_RecordingUnderWay()) {
    // The click changed nothing: the module shown stays selected.
    refreshToolbarItems();
    return;
  }
  MBPreferencesController::_selectModule(sender);
}

void ZRNPrefsController::_changeToModule(MBPreferencesModule* module) {
  if (module && module->identifier() == QLatin1String(kCameraPrefsPaneID) &&
      Auth_CaptureAccessState(MediaType::Video) != kCaptureAccessGranted) {
    if (Alert_ShowAlertWithID(20017) == kDialogResultFirst) {
      Auth_OpenPrivacySettings(MediaType::Video);
      ZRNAppHost_Shared().terminate();
      return;
    }
  }
  UU_ChangeToModuleFininsh(module);
}

void ZRNPrefsController::windowDidBecomeMain() {
  VLLiveWC* live = VLLiveWC_Current();
  if (!live || VLLiveWC_RecordingUnderWay()) return;
  // No recording may start from a camera setup that is being changed.
  if (isONAndShowingCameraSettings()) {
    if (live->recordButton()) live->recordButton()->setEnabled(false);
  } else {
    live->enableSettingsInterfaceElements(true);
  }
}

void ZRNPrefsController::windowWillClose() {
  VLLiveWC* live = VLLiveWC_Current();
  // Through the live window, which keeps the button off for a camera with nothing recordable.
  if (live) live->enableSettingsInterfaceElements(true);
  // A field still being edited ends its editing and stores its value.
  if (QWidget* focus = QApplication::focusWidget(); focus && isAncestorOf(focus)) focus->clearFocus();
  Prefs_Shared().synchronize();
  if (live && !ZRNAppHost_Shared().appIsQuitting() && !VLLiveWC_RecordingUnderWay()) live->updateForCameraSetup();
  SUUpdater::sharedUpdater()->setDelegate(nullptr);
  if (WindowShownHandler()) WindowShownHandler()(false);
}

bool ZRNPrefsController::isONAndShowingCameraSettings() {
  ZRNPrefsController* shared = gZRNPrefsController;
  return shared && shared->isWindowShown() && shared->currentModule() &&
         shared->currentModule()->identifier() == QLatin1String(kCameraPrefsPaneID);
}
