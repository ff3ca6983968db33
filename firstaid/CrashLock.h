#pragma once
// The crash lock. Every normal start leaves a lock file in the shared folder
// <data>/org.velmora.Velmora/CrashLocks and termination removes it again; a lock still there at the next
// launch, written by a copy that no longer runs, shows that the earlier run never terminated (a crash, a
// kill, a power loss). Each running copy keeps its own lock, which refers to the copy's executable
// (path, device and inode), so copies at different paths tell their locks apart; and holds it open and
// locked (flock) until it ends, so that the lock of a copy still running, of the same executable too,
// never counts as a crash nor is cleaned up.

#include <QString>
#include <Qt>
#include <QUrl>

inline const QString kCrashLock_FolderName = QStringLiteral("CrashLocks");
// A single folder of an older scheme beside the lock folder: removed, never written.
inline const QString kCrashLock_OldItemName = QStringLiteral("CrashLock");
inline const QString kCrashLock_BaseName = QStringLiteral("lockfile");
// The program's executable: other processes running it are copies of the program.
inline const QString kFirstAid_ExecutableName = QStringLiteral("velmora");

// Results of readContentsOfFile besides errno values.
inline constexpr int kCrashLock_StatusOK = 0;
inline constexpr int kCrashLock_StatusNoReference = -43;  // no path, or unresolvable or stale reference
inline constexpr int kCrashLock_StatusShortRead = -19;

// A free lock name in the folder: "<base>_<seconds since 2001-01-01 UTC>", or when taken the first free
// "<that>.1", "<that>.2", ... (always formed from the first name).
QUrl U_UniqueLockFileURLInside(const QUrl& folderURL, const QString& baseName);

// Why a run has no lock: the lock folder, and the reason as a sentence.
struct CrashLockProblem {
  QString folder;
  QString reason;
};

// Writes this run's lock, holds it locked and remembers it in crashLockFileURL(). When no lock can be made
// (the lock folder or the application-support folder is a file or a link, or cannot be made, or the lock file
// cannot be created) the start goes on without one: false, logged, and *problem says where and why.
bool U_WriteCrashSemaphore(CrashLockProblem* problem = nullptr);
// This run's lock file; empty until one is written.
QUrl crashLockFileURL();
void setCrashLockFileURL(const QUrl& url);

// Reads a lock file. 0: the lock is readable, and *path holds the executable it refers to, or stays
// empty for an empty file. Otherwise -43, -19 or the errno of the failed open.
int readContentsOfFile(const QString& lockPath, QString* path);

// Removes lock files. clearOwn: the locks of this copy (this run's lock when one was written, else
// every lock referring to our executable). orphaned: the locks of copies that no longer run, and the
// old item. Unreadable locks always go; a folder found empty goes too.
void U_ClearCrashSemaphore(bool clearOwn, bool orphaned);

// Whether the lock folder shows a crash of an earlier run.
bool U_CrashSemaphoreExists();
bool U_SemaphoreExists(const QString& folderName);

// The lock folder, standardized (it may not exist).
QString CrashLock_FolderPath();

// Ctrl and Alt together ask for first aid at launch; either alone does not.
bool FirstAid_ModifiersAskForFirstAid(Qt::KeyboardModifiers held);

enum class FirstAidStartup { Normal, AfterCrash, OnRequest };
// The crash check at launch: a crash found counts one first aid and one crash, then asks for the
// first-aid window; Ctrl and Alt held together at launch ask for it without a crash.
FirstAidStartup FirstAid_CheckForPreviousCrash();
