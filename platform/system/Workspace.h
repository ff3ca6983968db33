#pragma once
// The desktop around the application: its file manager and its mail application.

#include <QString>
#include <QStringList>

#include <functional>

class QObject;
class QUrl;

// Asks the desktop's file manager (org.freedesktop.FileManager1 on the session bus) to show the item: a
// folder is opened itself (ShowFolders), a file is selected in its folder (ShowItems). Falls back to opening
// the folder (the item's own for a folder, the parent for a file) with the default handler. False only
// when neither could be asked.
bool Workspace_RevealItem(const QString& path, bool isFolder);

// Hands the URL to the desktop's default handler (main thread). False when no handler took it: no
// xdg-open, no desktop session, or a platform without one (offscreen).
bool Workspace_OpenURL(const QUrl& url);

// Starts `xdg-email` with the arguments and answers through `done` on the context's thread, once
// xdg-email has ended: true for exit status 0; false with a reason for a missing xdg-email, one that
// could not start, or any other status. A mail program that xdg-email keeps waiting for does not hold
// the answer up for long: still running after `patienceMs`, the hand-off counts as taken.
void Workspace_ComposeMail(const QStringList& arguments, QObject* context, std::function<void(bool, const QString&)> done,
                           int patienceMs = 15000);

// The desktop-entry ID of the default handler of mailto: URLs ("thunderbird.desktop"), asked of
// `xdg-mime query default x-scheme-handler/mailto`; empty when there is none or xdg-mime is missing.
QString Workspace_MailtoHandlerDesktopID();
// The path of a desktop entry by ID, searched in the XDG data folders' "applications" folders
// (subfolders map to '-' in the ID); empty when not found.
QString Workspace_DesktopEntryPath(const QString& desktopID);
// The executable name (the file name of Exec's first word) of a desktop entry file; empty when it has none.
QString Workspace_DesktopEntryExecutableName(const QString& desktopEntryPath);
