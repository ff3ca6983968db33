#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"

void U_CheckForPreviousCrash(ZRNAppDelegate* delegate) { delegate->finishNormalApplicationStartup(); }
void U_ClearCrashSemaphore(bool, bool) {}
void U_WriteCrashSemaphore() {}
void FirstAid_PruneDebugLogDays() {}

