#pragma once
// Replacing a small file (settings, preferences) so that nothing is lost whatever happens meanwhile.
//
// The new contents go to a fresh file beside the old one, which is written, flushed, synced and checked
// (every write, then the size on disk) before it is renamed over the old one; on any failure the old
// file stays whole, the fresh one is removed and the reason comes back. A symbolic link at the path is
// never written through: the file must be the folder's own.

#include <QByteArray>
#include <QString>

// True when path now holds exactly bytes; false with errorText (a sentence naming the file) otherwise.
bool SafeFile_Replace(const QString& path, const QByteArray& bytes, QString* errorText = nullptr);

// Something stands at path, a link to nothing included (anything but "no such entry" counts).
bool SafeFile_NameTaken(const QString& path);

// Renames from (a file or a folder) to to, never replacing what stands at to and never following a link
// there. 0 on success, otherwise the errno of the failure (EEXIST when the name is taken).
int SafeFile_MoveNoReplace(const QString& from, const QString& to);

// Nesting deeper than this is refused as damaged input by the readers of settings and preferences: a
// file of our own never comes near it, and a recursive reader of a deeper one could run out of stack.
inline constexpr int kSafeFile_MaxNesting = 512;
