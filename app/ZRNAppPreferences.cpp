#include "app/ZRNAppPreferences.h"

#include "app/ZRNAppDelegate.h"
#include "platform/system/SUUpdater.h"
#include "prefs/ZRNPrefsController.h"

#include <QPointer>

namespace {
ZRNPrefsController* SharedController() {
  static bool handlerSet = false;
  if (!handlerSet) {
    handlerSet = true;
    // The delegate learns when the window opens and closes.
    ZRNPrefsController::setWindowShownHandler([](bool shown) {
      if (gZRNAppDelegate) gZRNAppDelegate->setPrefsWindowIsON(shown);
    });
  }
  return ZRNPrefsController::sharedPreferencesController();
}
}  // namespace

void ZRNPrefsController_ShowOrHideWindow() { SharedController()->showOrHideWindow(); }

QString ZRNPrefsController_CurrentModuleIdentifier() {
  ZRNPrefsController* controller = SharedController();
  return controller->currentModule() ? controller->currentModule()->identifier() : QString();
}

void ZRNPrefsController_SelectModule(const QString& identifier) { SharedController()->selectModuleWithIdentifier(identifier); }

bool ZRNPrefsController_IsONAndShowingCameraSettings() { return ZRNPrefsController::isONAndShowingCameraSettings(); }

bool SUUpdater_StartSharedUpdater(ZRNAppDelegate*) {
  SUUpdater::sharedUpdater()->startUpdater();
  return true;
}

void SUUpdater_CheckForUpdates() { SUUpdater::sharedUpdater()->checkForUpdates(); }
