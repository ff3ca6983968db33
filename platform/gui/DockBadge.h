#pragma once
// The badge of the application's launcher icon, told to the desktop with the Unity launcher-entry signal
// (com.canonical.Unity.LauncherEntry.Update on the session bus), which the docks of KDE, Ubuntu and
// the GNOME dock extensions show. Without a session bus the label is only remembered.

#include <QString>

// The launcher entry the signal names: "application://<desktop file name>.desktop".
QString Gui_DockBadgeApplicationURI();

// Sets the badge: a label that is a positive number shows as that count, an empty label removes it.
// Answers false when no signal could be sent.
bool Gui_SetDockBadgeLabel(const QString& label);
// The label last set.
QString Gui_DockBadgeLabel();
