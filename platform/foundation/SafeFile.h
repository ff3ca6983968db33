#pragma once
// Replacing a small file (settings, preferences) so that nothing is lost whatever happens meanwhile.
//
// The new contents go to a fresh file beside the old one, which is written, flushed, synced and checked
// (every write, then the size on disk) before it is renamed over the old one; on any failure the old
// file stays whole, the fresh one is removed and the reason comes back. A symbolic link at the path is
// never written through: the file must be the folder's own.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <sys/types.h>

class QFile;

// True when path now holds exactly bytes; false with errorText (a sentence naming the file) otherwise.
bool SafeFile_Replace(const QString& path, const QByteArray& bytes, QString* errorText = nullptr);

// Opens path for reading only when it is a regular file. A pipe, a device or a socket standing at the name
// is refused at once (opening a pipe for reading would wait for a writer for ever); the check is made on
// the opened file itself, so nothing can be swapped in between. False with errorText (the reason, without
// the path) otherwise; file is then closed. A resource of the program (":/...") is opened as it is.
bool SafeFile_OpenForReading(QFile& file, const QString& path, QString* errorText = nullptr);

// The whole of a regular file of at most maxBytes, read through SafeFile_OpenForReading. False with
// errorText when it cannot be opened, is larger or cannot be read to its end.
bool SafeFile_ReadRegular(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* errorText = nullptr);

// Something stands at path, a link to nothing included (anything but "no such entry" counts).
bool SafeFile_NameTaken(const QString& path);

// Renames from (a file or a folder) to to, never replacing what stands at to and never following a link
// there. 0 on success, otherwise the errno of the failure (EEXIST when the name is taken).
int SafeFile_MoveNoReplace(const QString& from, const QString& to);

// Copies the regular file from into a new file at to (never replacing what stands there, never following a
// link at either end): every write checked, synced, and the size written compared with the source's. 0 on
// success; otherwise the errno of the failure, and nothing is left at to. When `stop` is set (from any
// thread) the copy ends at its next block of bytes with ECANCELED.
int SafeFile_CopyNew(const QString& from, const QString& to, mode_t mode = 0666, const std::atomic<bool>* stop = nullptr);

// Flushes a file or a folder (a folder: the names in it) to the disk, never through a link. 0 or the errno.
int SafeFile_SyncPath(const QString& path);

// Removes the folder at path with everything in it, when it is a real folder (a link to one is not) of the
// effective user and lies on the same mount as the folder that holds it. Nothing is followed: links inside
// go as links; a folder inside that is on another file system or is the root of a mount (a bind mount of
// the same file system too) is neither entered nor removed, and the folders that hold it stay. 0 when the
// folder is gone; otherwise the errno: ENOTDIR for no real folder, EPERM for another user's, EXDEV for one
// on another mount, EBUSY when a mount inside kept part of it, or the failure of a removal.
int SafeFile_RemoveOwnFolder(const QString& path);

// Nesting deeper than this is refused as damaged input by the readers of settings and preferences: a
// file of our own never comes near it, and a recursive reader of a deeper one could run out of stack.
inline constexpr int kSafeFile_MaxNesting = 512;
