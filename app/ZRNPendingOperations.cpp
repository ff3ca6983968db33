#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"
#include "platform/foundation/NotificationCenter.h"

void loadZRNRecentsMenu() {}

void U_CheckForPreviousCrash(ZRNAppDelegate* delegate) { delegate->finishNormalApplicationStartup(); }
void U_ClearCrashSemaphore(bool, bool) {}
void U_WriteCrashSemaphore() {}
void FirstAid_PruneDebugLogDays() {}

void openDroppedFiles(const QStringList&) {}
void showHVAppStorePage() {}
int ZRNStartupNoteWC_RunModal() { return -1000; }

void Auth_RequestCaptureAccess(const QString&, int, std::function<void()> granted) { granted(); }
int Auth_CaptureAccessState(const QString&) { return 0; }
qint64 CapDev_IndexOfDeviceWithUID(const QString&, const QString& uniqueID) { return uniqueID.isEmpty() ? 0 : -1; }
// Connected devices announce themselves with userInfo "uniqueID" and "mediaType" ("vide" or "soun").
bool CapDev_ConnectedDeviceHasVideo(const Notification& note) {
  return note.userInfo.value(QStringLiteral("mediaType")).toString() == QLatin1String("vide");
}
QString CapDev_ConnectedDeviceUniqueID(const Notification& note) { return note.userInfo.value(QStringLiteral("uniqueID")).toString(); }

void VLLiveWC_MakeAndShow() {}
bool VLLiveWC_RecordingIsON() { return false; }
int VLLiveWC_GetUserVerifiedCloseWithError(int) { return -1000; }
void VLLiveWC_PrepareToQuit(bool) {}

bool SUUpdater_StartSharedUpdater(ZRNAppDelegate*) { return true; }
