#pragma once
// The application's badge in the dock or task bar: the com.canonical.Unity.LauncherEntry signal on the
// session bus, which the docks of KDE, Plank, Dash-to-Dock and others show as a count on the launcher.

#include <QDBusMessage>
#include <QString>

// The desktop entry the badge belongs to.
inline constexpr const char* kDockBadgeAppURI = "application://org.velmora.Velmora.desktop";

// The signal for a badge label: a number shows as a count; an empty label hides the badge.
QDBusMessage DockBadge_UpdateMessage(const QString& label);
// Sends it on the session bus; false when there is no session bus. The bus address is read at each
// call (a connection is kept per address), so a bus that appears or changes later is used.
bool DockBadge_SetLabel(const QString& label);
