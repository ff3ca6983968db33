#pragma once
// Operations that the launch, the termination and the menus call, whose real work is not written yet.
// Each is a free function of its own, so that each can be replaced on its own: delete its lines here and
// in ZRNPendingOperations.cpp and include the real header.
//
// Still pending: the preferences window and the updater.

#include <QString>
#include <QUrl>

class ZRNAppDelegate;

// The preferences window.
void ZRNPrefsController_ShowOrHideWindow();
QString ZRNPrefsController_CurrentModuleIdentifier();
void ZRNPrefsController_SelectModule(const QString& identifier);
// Shown, and showing the camera settings.
bool ZRNPrefsController_IsONAndShowingCameraSettings();

// The updater: true once the shared updater exists and has the delegate.
bool SUUpdater_StartSharedUpdater(ZRNAppDelegate* delegate);
void SUUpdater_CheckForUpdates();
