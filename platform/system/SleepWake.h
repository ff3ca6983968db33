#pragma once
// The machine going to sleep and waking up: logind's PrepareForSleep signal on the system bus (true
// before sleeping, false after waking), posted as the workspace's notifications on the main queue.

#include <QString>

inline const QString kWorkspace_WillSleepNotification = QStringLiteral("NSWorkspaceWillSleepNotification");
inline const QString kWorkspace_DidWakeNotification = QStringLiteral("NSWorkspaceDidWakeNotification");

// Starts listening (once; later calls do nothing) and answers whether the system bus could be
// reached. The subscription is in place when this returns. Call on the main thread.
bool SleepWake_StartNotices();
// Stops listening; no notification is posted after this returns.
void SleepWake_StopNotices();
