#pragma once
// Operations that the launch and termination sequences call, whose real work belongs to parts of the
// program still to be written (recent sessions, crash lock, first aid, capture devices and access, the
// live window, the startup note window, the updater). Each is a free function of its own, so that each
// can be replaced by the real one on its own: delete its lines here and include the real header.

#include "app/ZRNStartupNoteWC.h"
#include "capture/ZRNCaptureAuth.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

#include <functional>

class ZRNAppDelegate;
struct Notification;
class QWidget;
class VLDocument;

// Crash lock and first aid. Until the crash check exists, every start is a normal one.
void U_CheckForPreviousCrash(ZRNAppDelegate* delegate);
void U_ClearCrashSemaphore(bool clearOwn, bool orphaned);
void U_WriteCrashSemaphore();
void FirstAid_PruneDebugLogDays();

// Legacy session folders: converted into a session package in place; true when it worked.
bool Legacy_ConvertSession(const QUrl& folderURL);

// Capture devices.
inline const QString kCapDev_DeviceWasConnectedNotification = QStringLiteral("AVCaptureDeviceWasConnectedNotification");

// Workspace sleep and wake
inline const QString kWorkspace_WillSleepNotification = QStringLiteral("NSWorkspaceWillSleepNotification");
inline const QString kWorkspace_DidWakeNotification = QStringLiteral("NSWorkspaceDidWakeNotification");

// The live window
// Asks the user to confirm stopping the recording (alert given); -1000 when confirmed.
int VLLiveWC_GetUserVerifiedCloseWithError(int alertID);
void VLLiveWC_PrepareToQuit(bool quit);
// The preferences window.
void ZRNPrefsController_ShowOrHideWindow();
QString ZRNPrefsController_CurrentModuleIdentifier();
void ZRNPrefsController_SelectModule(const QString& identifier);
// Shown, and showing the camera settings.
bool ZRNPrefsController_IsONAndShowingCameraSettings();

// The updater: true once the shared updater exists and has the delegate.
bool SUUpdater_StartSharedUpdater(ZRNAppDelegate* delegate);
void SUUpdater_CheckForUpdates();
