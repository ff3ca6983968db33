#pragma once
// Operations that the launch, the termination and the menus call, whose real work is not written yet.
// Each is a free function of its own, so that each can be replaced on its own: delete its lines here and
// in ZRNPendingOperations.cpp and include the real header.
//
// Still pending: the workspace's sleep and wake notices (observed, but nothing posts them yet).

#include <QString>
#include <QUrl>

class ZRNAppDelegate;

// Workspace sleep and wake.
inline const QString kWorkspace_WillSleepNotification = QStringLiteral("NSWorkspaceWillSleepNotification");
inline const QString kWorkspace_DidWakeNotification = QStringLiteral("NSWorkspaceDidWakeNotification");

// The preferences window and the updater.
#include "app/ZRNAppPreferences.h"
