#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"
#include "platform/foundation/NotificationCenter.h"

void loadZRNRecentsMenu() {}

void U_CheckForPreviousCrash(ZRNAppDelegate* delegate) { delegate->finishNormalApplicationStartup(); }
void U_ClearCrashSemaphore(bool, bool) {}
void U_WriteCrashSemaphore() {}
void FirstAid_PruneDebugLogDays() {}

void openDroppedFiles(const QStringList& paths) {
  QStringList pending = paths;
  if (gZRNAppDelegate) gZRNAppDelegate->U_HandleOpenFiles(pending);
  if (gZRNAppDelegate) gZRNAppDelegate->filenamesToOpen().clear();
}
void showHVAppStorePage() {}


bool SUUpdater_StartSharedUpdater(ZRNAppDelegate*) { return true; }
