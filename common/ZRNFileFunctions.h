#pragma once
// File functions: unique names, folders, the session package, the settings writer, flags and sizes.
//
// Unique names: a taken name "base.ext" gives way to the first free "base_1.ext", "base_2.ext", ...
// (a name without extension to "name_1", ...).

#include <QImage>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <cstdint>
#include <utility>

// folder/name; when it exists, reuse answers it unchanged and no reuse answers its first free variant.
// The chosen folder is created with its parents when missing; an empty QString when that fails.
QString File_MakeSessionFolder(const QString& folderPath, const QString& name, bool reuse);
// folder/name or its first free variant; with create the path is made as a folder (parents must exist),
// an empty QString when that fails.
QString File_UniquePath(const QString& folderPath, const QString& name, bool create);
// The name itself when free in the folder, else the name of its first free variant.
QString File_UniqueFileName(const QString& folderPath, const QString& name);

// Writes a settings dictionary as folder/baseName.extension: "plist" as a property list, "json" through
// the JSON bridge, any other extension not at all. The new file is complete on disk before it replaces
// the old one (SafeFile_Replace), and a symbolic link is never written through. False, with the reason
// logged and in errorText, when nothing was replaced.
bool File_WriteSettings(const QUrl& folder, const QString& baseName, const QString& extension,
                        const QVariantMap& dictionary, QString* errorText = nullptr);
// The stored preferences without the window and panel state that says nothing about a problem.
QVariantMap File_InterfaceDefaultsKeys();

// The package and hidden-extension flags are extended attributes of the item.
void File_SetIsPackage(const QString& path);
void File_SetHiddenExtension(const QString& path);
// Linux hides exactly the items whose names start with a dot, and renaming is not ours to do: YES only
// for an existing item that is hidden already.
bool File_SetHidden(const QUrl& url);
// Shows the item in the desktop's file manager; NO when nothing exists at the path. `shown` receives
// whether the desktop took the request (a file manager or the folder's handler).
bool File_RevealInFinder(const QString& path, bool isFolder, bool* shown = nullptr);
// Gives the item the custom icon made from the application's image of that name (":/images/<name>.png").
void File_SetCustomIcon(const QUrl& url, const QString& imageName);
void File_ClearCustomIcon(const QUrl& url);
// Without create: YES without looking. With create: YES for an existing folder, else creates it with
// its parents; a failure is logged and answered NO.
bool File_EnsureDirectory(const QUrl& url, bool create);
// Bytes allocated on disk for every non-folder item below the folder (hidden items and their contents skipped).
int64_t File_FolderSizeBytes(const QUrl& folder);
// Decimal megabytes of File_FolderSizeBytes.
double File_FolderSizeMB(const QUrl& folder);
// Two sizes as decimal figures ("3.1 MB", as the locale writes them), one decimal or as many more as it
// takes for two different sizes to read as different: a part a few bytes short of the whole is not
// shown as the whole.
std::pair<QString, QString> File_SizeTextsApart(qint64 part, qint64 whole);
// A free name "<base><_n>.<extension>" in the temporary folder; a name held by the other kind of item
// (a folder when a file is asked for, and the other way round) counts as free. Nothing is created.
QUrl File_TempFileURL(const QString& baseName, const QString& extension, bool isFolder);
// Makes the session package beside the chosen file: its name with the extension replaced, under a free
// name, flagged as a package with a hidden extension. An empty QUrl when it cannot be made.
QUrl File_MakeSessionPackage(const QUrl& fileURL, const QString& extension);

// This run's own folder in the temporary folder, "velmora-<pid>" (made on first use, readable by this user
// only), for files handed to other programs. A note in it names the run (Process_RunTag), so that a later
// start can tell it from the folder of a run that still goes on. Empty when it cannot be made, or when
// what stands at that name is not a folder of this user's own (a link is never used).
QString File_RunTemporaryFolder();
// Removes the "velmora-<pid>" folders in the temporary folder that runs which have ended left (a killed
// run never removes its own). Only real folders of this user whose run is known to have ended go: the run
// its note names has ended, or, without a note, no process has that id. Links are never followed.
void File_RemoveTemporaryFoldersOfEndedRuns();

// A picture file of at most maxBytes (a regular file only, read through the opened file itself, turned
// as its orientation says), in premultiplied ARGB; a null image when it is none of that.
QImage File_ReadPicture(const QString& path, qint64 maxBytes);

// The extended attributes that carry the flags above.
inline constexpr const char* kFile_PackageXattr = "user.org.velmora.package";
inline constexpr const char* kFile_HiddenExtensionXattr = "user.org.velmora.hidden-extension";
