#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"
#include "common/ZRNLogger.h"

void U_CheckForPreviousCrash(ZRNAppDelegate* delegate) { delegate->finishNormalApplicationStartup(); }
void U_ClearCrashSemaphore(bool, bool) {}
void U_WriteCrashSemaphore() {}
void FirstAid_PruneDebugLogDays() {}

bool Legacy_ConvertSession(const QUrl& folderURL) {
  ZRNLogger_Log(QStringLiteral("ATT: legacy session not converted: %@"), folderURL.toLocalFile());
  return false;
}
