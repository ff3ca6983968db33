#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"
#include "common/ZRNLogger.h"

bool Legacy_ConvertSession(const QUrl& folderURL) {
  ZRNLogger_Log(QStringLiteral("ATT: legacy session not converted: %@"), folderURL.toLocalFile());
  return false;
}

void ZRNPrefsController_ShowOrHideWindow() {}
QString ZRNPrefsController_CurrentModuleIdentifier() { return {}; }
void ZRNPrefsController_SelectModule(const QString&) {}
bool ZRNPrefsController_IsONAndShowingCameraSettings() { return false; }

bool SUUpdater_StartSharedUpdater(ZRNAppDelegate*) { return true; }
void SUUpdater_CheckForUpdates() {}
