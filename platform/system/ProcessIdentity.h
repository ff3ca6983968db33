#pragma once
// Who is running: the executable of this process, a persistent reference to it that can be stored in a
// file and checked later, and the other running copies of the program.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

struct ExecutableIdentity {
  QString path;  // canonical, from /proc/<pid>/exe
  quint64 device = 0;
  quint64 inode = 0;
  bool isValid() const { return !path.isEmpty(); }
};

// This process's executable; invalid when /proc cannot tell.
ExecutableIdentity Process_OwnExecutable();
// The identity of the file at the path (made canonical); invalid when there is no such file.
ExecutableIdentity Process_ExecutableIdentityOf(const QString& path);

// The bytes of a reference to the executable: its path with the file's device and inode.
QByteArray Process_ExecutableReference(const ExecutableIdentity& identity);

// The path a reference points to while a file of that identity is still there. Answers false for bytes
// that are no reference and for a stale one (the file was deleted, moved or replaced).
bool Process_ResolveExecutableReference(const QByteArray& reference, QString* path);

// References are tiny; anything bigger is not one and is not read.
inline constexpr qint64 kProcess_MaxReferenceBytes = 8192;

struct RunningCopy {
  qint64 pid = 0;
  QString executablePath;  // as /proc shows it; a deleted file's path ends in " (deleted)"
};

// The running copies of the program: this process, and every other process of the same user whose
// executable is named `executableName` and that keeps its files in the same data folder (XDG_DATA_HOME,
// else ~/.local/share, from the process's environment), since only those share our crash locks.
QList<RunningCopy> Process_RunningCopies(const QString& executableName);

// When the process with that id started, in clock ticks after boot (/proc/<pid>/stat); 0 when no such
// process runs. With the id it names one run: an id that is used again comes with another start time.
quint64 Process_StartTime(qint64 pid);
// This process's id and start time as "<pid>-<start>", for names of files that a later run must be
// able to tell from those of a run still going.
QString Process_RunTag();
// True while the run that a Process_RunTag() string names is going on.
bool Process_RunTagIsAlive(const QString& tag);
// True when the tag is written as Process_RunTag writes one (Process_ParseRunTag) and its run has ended.
bool Process_RunTagHasEnded(const QString& tag);

// A process id written as Velmora writes one: decimal digits without a leading zero, within the range of
// process ids; 0 for any other text (a sign, leading zeros, more digits than an id can have).
qint64 Process_ParsePid(const QString& text);
// A tag written as Process_RunTag writes one, "<pid>-<start>": the id as above and the start time in
// decimal digits without a leading zero, above 0 and within 64 bits. False for any other text; a name
// that only looks like one is no name of ours.
bool Process_ParseRunTag(const QString& tag, qint64* pid, quint64* start);
