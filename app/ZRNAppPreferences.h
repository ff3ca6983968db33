#pragma once
// What the launch and the menus ask of the preferences window and the updater.

#include <QString>

class ZRNAppDelegate;

// The preferences window (made on first use).
void ZRNPrefsController_ShowOrHideWindow();
QString ZRNPrefsController_CurrentModuleIdentifier();
void ZRNPrefsController_SelectModule(const QString& identifier);
// Shown, and showing the camera settings.
bool ZRNPrefsController_IsONAndShowingCameraSettings();

// The updater: true once the shared updater runs (its checks scheduled).
bool SUUpdater_StartSharedUpdater(ZRNAppDelegate* delegate);
void SUUpdater_CheckForUpdates();
