#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"
#include "common/ZRNLogger.h"

void U_CheckForPreviousCrash(ZRNAppDelegate* delegate) { delegate->finishNormalApplicationStartup(); }
void U_ClearCrashSemaphore(bool, bool) {}
void U_WriteCrashSemaphore() {}
void FirstAid_PruneDebugLogDays() {}

void ZRNPrefsController_ShowOrHideWindow() {}
QString ZRNPrefsController_CurrentModuleIdentifier() { return {}; }
void ZRNPrefsController_SelectModule(const QString&) {}
bool ZRNPrefsController_IsONAndShowingCameraSettings() { return false; }

bool SUUpdater_StartSharedUpdater(ZRNAppDelegate*) { return true; }
void SUUpdater_CheckForUpdates() {}
