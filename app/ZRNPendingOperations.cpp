#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"
#include "app/ZRNLogger.h"
#include "platform/foundation/NotificationCenter.h"

void U_CheckForPreviousCrash(ZRNAppDelegate* delegate) { delegate->finishNormalApplicationStartup(); }
void U_ClearCrashSemaphore(bool, bool) {}
void U_WriteCrashSemaphore() {}
void FirstAid_PruneDebugLogDays() {}

bool Legacy_ConvertSession(const QUrl& folderURL) {
  ZRNLogger_Log(QStringLiteral("ATT: legacy session not converted: %@"), folderURL.toLocalFile());
  return false;
}

void VLLiveWC_MakeAndShow() {}
bool VLLiveWC_RecordingIsON() { return false; }
int VLLiveWC_GetUserVerifiedCloseWithError(int) { return -1000; }
void VLLiveWC_PrepareToQuit(bool) {}
QWidget* VLLiveWC_Window() { return nullptr; }
void VLLiveWC_ToggleCapture() {}
bool VLLiveWC_IsClosing() { return false; }
void VLLiveWC_Clear() {}
QUrl VLLiveWC_CapturedMovieURL() { return {}; }
std::shared_ptr<VLDocument> VLLiveWC_Document() { return nullptr; }
void VLLiveWC_SetProgressiveWindowWasOpen(bool) {}

void ZRNPrefsController_ShowOrHideWindow() {}
QString ZRNPrefsController_CurrentModuleIdentifier() { return {}; }
void ZRNPrefsController_SelectModule(const QString&) {}
bool ZRNPrefsController_IsONAndShowingCameraSettings() { return false; }

bool SUUpdater_StartSharedUpdater(ZRNAppDelegate*) { return true; }
void SUUpdater_CheckForUpdates() {}
