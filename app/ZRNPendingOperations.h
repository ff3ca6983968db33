#pragma once
// Operations that the launch, the termination and the menus call, whose real work is not written yet.
// Each is a free function of its own, so that each can be replaced on its own: delete its lines here and
// in ZRNPendingOperations.cpp and include the real header.
//
// Still pending: the crash lock and first aid, and the workspace's sleep and wake notices (observed, but
// nothing posts them yet).

#include <QString>
#include <QUrl>

class ZRNAppDelegate;

// Crash lock and first aid. Until the crash check exists, every start is a normal one.
void U_CheckForPreviousCrash(ZRNAppDelegate* delegate);
void U_ClearCrashSemaphore(bool clearOwn, bool orphaned);
void U_WriteCrashSemaphore();
void FirstAid_PruneDebugLogDays();

// Workspace sleep and wake.
inline const QString kWorkspace_WillSleepNotification = QStringLiteral("NSWorkspaceWillSleepNotification");
inline const QString kWorkspace_DidWakeNotification = QStringLiteral("NSWorkspaceDidWakeNotification");

// The preferences window and the updater.
#include "app/ZRNAppPreferences.h"
