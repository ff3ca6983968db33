#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"
#include "common/ZRNLogger.h"

void ZRNPrefsController_ShowOrHideWindow() {}
QString ZRNPrefsController_CurrentModuleIdentifier() { return {}; }
void ZRNPrefsController_SelectModule(const QString&) {}
bool ZRNPrefsController_IsONAndShowingCameraSettings() { return false; }

bool SUUpdater_StartSharedUpdater(ZRNAppDelegate*) { return true; }
void SUUpdater_CheckForUpdates() {}
