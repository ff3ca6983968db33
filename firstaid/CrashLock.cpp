#include "firstaid/CrashLock.h"

#include "common/ZRNLogger.h"
#include "firstaid/FirstAidLaunch.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/SysErrno.h"
#include "platform/system/ProcessIdentity.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMutex>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Seconds between 1970-01-01 and 2001-01-01, both UTC.
constexpr qint64 kReferenceDateUnixSeconds = 978307200;
// Paths longer than this (terminator included) are not used for a lock.
constexpr qsizetype kMaxLockPathBytes = 1026;
// Tries, a millisecond apart, of a new lock to lock itself while a copy looks at it at that moment.
constexpr int kLockTries = 200;

QMutex gLockURLMutex;
QUrl gCrashLockFileURL;
// This run's lock stays open and locked (flock) while the run goes on: the kernel lets it go when the
// process ends, however it ends, so a lock that is still locked belongs to a run still going.
int gCrashLockFd = -1;

void holdLock(int fd) {
  QMutexLocker locker(&gLockURLMutex);
  if (gCrashLockFd >= 0) ::close(gCrashLockFd);
  gCrashLockFd = fd;
}

// Lets this run's lock go once its file is gone (or is about to go with the folder).
void releaseHeldLock() {
  QMutexLocker locker(&gLockURLMutex);
  if (gCrashLockFd >= 0) ::close(gCrashLockFd);
  gCrashLockFd = -1;
}

bool isHeldLock(const struct stat& st) {
  QMutexLocker locker(&gLockURLMutex);
  struct stat held = {};
  return gCrashLockFd >= 0 && ::fstat(gCrashLockFd, &held) == 0 && held.st_dev == st.st_dev && held.st_ino == st.st_ino;
}

// True for the lock of another run that is still going: it holds the file locked, and another copy of
// the program of this user runs (`copies`, this process included). Our own lock, and a lock nobody holds
// (its run ended), answer false.
bool isHeldByAnotherRun(const QString& lockPath, const QList<RunningCopy>& copies) {
  if (copies.size() <= 1) return false;
  const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st = {};
  bool held = false;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !isHeldLock(st)) {
    int result = 0;
    while ((result = ::flock(fd, LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {}
    held = result != 0 && errno == EWOULDBLOCK;
  }
  ::close(fd);  // lets our shared lock go too
  return held;
}

QString standardized(const QString& path) { return QDir::cleanPath(QDir(path).absolutePath()); }

bool isRealFolder(const QString& path) {
  const QFileInfo info(path);
  return info.isDir() && !info.isSymLink();
}

QStringList allEntries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool isLockName(const QString& name) { return name.startsWith(kCrashLock_BaseName, Qt::CaseSensitive); }

// The application-support folder; empty when there is none and it cannot be made.
QString applicationSupport(bool create) {
  const QString path = StandardLocations::applicationSupportPath();
  if (isRealFolder(path)) return path;
  if (create && QDir().mkpath(path)) return path;
  return {};
}

QString ownPath() { return Process_OwnExecutable().path; }

// Why no folder of our own can stand at `path`, as the rest of a sentence about it; mkdirErrno is the
// failure of making it.
QString whyNoFolder(const QString& path, int mkdirErrno) {
  struct stat st = {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
    return Fmt(QStringLiteral("cannot be made: %@."), Sys_ErrnoText(mkdirErrno));
  if (S_ISLNK(st.st_mode)) {
    const QString target = QFile::symLinkTarget(path);
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
      return Fmt(QStringLiteral("is a link to \"%@\", which does not exist."), target);
    return Fmt(QStringLiteral("is a link to \"%@\", not a folder of its own."), target);
  }
  if (!S_ISDIR(st.st_mode)) return QStringLiteral("is a file, not a folder.");
  return Fmt(QStringLiteral("cannot be used: %@."), Sys_ErrnoText(mkdirErrno));
}

void removeFolderIfEmpty(const QString& folder) {
  if (allEntries(folder).isEmpty()) QDir().rmdir(folder);
}
}  // namespace

QString CrashLock_FolderPath() {
  return standardized(StandardLocations::applicationSupportPath() + QLatin1Char('/') + kCrashLock_FolderName);
}

QUrl crashLockFileURL() {
  QMutexLocker locker(&gLockURLMutex);
  return gCrashLockFileURL;
}

void setCrashLockFileURL(const QUrl& url) {
  QMutexLocker locker(&gLockURLMutex);
  gCrashLockFileURL = url;
}

QUrl U_UniqueLockFileURLInside(const QUrl& folderURL, const QString& baseName) {
  const QString folder = folderURL.toLocalFile();
  const double seconds = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - kReferenceDateUnixSeconds;
  const QString first = baseName + QLatin1Char('_') + QString::number(seconds, 'f', 0);
  QString name = first;
  for (int n = 1; QFileInfo::exists(folder + QLatin1Char('/') + name) || QFileInfo(folder + QLatin1Char('/') + name).isSymLink(); ++n)
    name = first + QLatin1Char('.') + QString::number(n);
  return QUrl::fromLocalFile(folder + QLatin1Char('/') + name);
}

bool U_WriteCrashSemaphore(CrashLockProblem* problem) {
  const QString folder = CrashLock_FolderPath();
  auto fail = [&](const QString& reason) {
    ZRNLogger_Log(QStringLiteral("ERR: no crash lock in %@: %@"), folder, reason);
    if (problem) *problem = {folder, reason};
    return false;
  };
  const QString support = StandardLocations::applicationSupportPath();
  if (applicationSupport(true).isEmpty()) {
    const int mkdirErrno = errno;
    return fail(Fmt(QStringLiteral("\"%@\" %@"), support, whyNoFolder(support, mkdirErrno)));
  }
  if (!QDir().mkpath(folder) || !isRealFolder(folder)) {
    const int mkdirErrno = errno;
    return fail(QStringLiteral("it ") + whyNoFolder(folder, mkdirErrno));
  }
  const QByteArray reference = Process_ExecutableReference(Process_OwnExecutable());
  // Exclusive creation: a name taken between the choice and the open (another copy starting in the same
  // second) moves on to the next one, and nothing is ever written through a link.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QUrl url = U_UniqueLockFileURLInside(QUrl::fromLocalFile(folder), kCrashLock_BaseName);
    setCrashLockFileURL(url);
    const QByteArray path = QFile::encodeName(standardized(url.toLocalFile()));
    if (path.size() + 1 > kMaxLockPathBytes) return fail(QStringLiteral("the path of a lock file in it is too long."));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return fail(Fmt(QStringLiteral("a lock file cannot be made in it: %@."), Sys_ErrnoText(errno)));
    // Locked before anything is written, so that another copy starting now never takes it for a crash.
    // A copy that looks holds it only for a moment; the lock is not waited for without end.
    for (int tries = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0 && tries < kLockTries; ++tries) QThread::msleep(1);
    bool written = true;
    qsizetype offset = 0;
    while (offset < reference.size()) {
      const ssize_t n = ::write(fd, reference.constData() + offset, static_cast<size_t>(reference.size() - offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        written = false;
        break;
      }
      offset += n;
    }
    if (written && ::fsync(fd) != 0) written = false;
    const int writeErrno = errno;
    holdLock(fd);
    // A lock that is there, even incomplete or empty, still shows a crash at the next start.
    if (!written)
      ZRNLogger_Log(QStringLiteral("ERR: crash lock %@ not fully written: %@"), url.toLocalFile(),
                    Sys_ErrnoText(writeErrno));
    if (reference.isEmpty()) ZRNLogger_Log(QStringLiteral("ATT: crash lock %@ left empty: the executable cannot be told"), url.toLocalFile());
    return true;
  }
  return fail(QStringLiteral("no free name for a lock file is left in it."));
}

int readContentsOfFile(const QString& lockPath, QString* path) {
  if (lockPath.isEmpty()) return kCrashLock_StatusNoReference;
  // Never through a link, and never waiting on a pipe someone put there.
  const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kProcess_MaxReferenceBytes) {
    ::close(fd);
    return kCrashLock_StatusNoReference;
  }
  if (st.st_size == 0) {
    ::close(fd);
    return kCrashLock_StatusOK;
  }
  QByteArray bytes(static_cast<qsizetype>(st.st_size), '\0');
  qsizetype total = 0;
  while (total < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + total, static_cast<size_t>(bytes.size() - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  ::close(fd);
  if (total < bytes.size()) return kCrashLock_StatusShortRead;
  QString resolved;
  if (!Process_ResolveExecutableReference(bytes, &resolved)) return kCrashLock_StatusNoReference;
  if (path) *path = resolved;
  return kCrashLock_StatusOK;
}

bool U_CrashSemaphoreExists() { return U_SemaphoreExists(kCrashLock_FolderName); }

bool U_SemaphoreExists(const QString& folderName) {
  const QString support = applicationSupport(false);
  if (support.isEmpty()) return false;
  const QString folder = standardized(support + QLatin1Char('/') + folderName);
  if (!isRealFolder(folder)) return false;
  const QStringList entries = allEntries(folder);
  if (entries.isEmpty()) return false;
  const QList<RunningCopy> copies = Process_RunningCopies(kFirstAid_ExecutableName);
  // Alone: whatever is in the folder was left by a run that did not end.
  if (copies.size() <= 1) return true;
  const QString own = ownPath();
  for (const QString& name : entries) {
    if (!isLockName(name)) continue;
    // A copy running now, of our own executable too (it runs in another session of this user).
    if (isHeldByAnotherRun(folder + QLatin1Char('/') + name, copies)) continue;
    QString path;
    if (readContentsOfFile(folder + QLatin1Char('/') + name, &path) != kCrashLock_StatusOK) continue;
    if (path.isEmpty() || path == own) return true;
    bool otherCopyRuns = false;
    for (const RunningCopy& copy : copies)
      if (copy.executablePath != own && copy.executablePath == path) otherCopyRuns = true;
    if (!otherCopyRuns) return true;
  }
  return false;
}

void U_ClearCrashSemaphore(bool clearOwn, bool orphaned) {
  const QString support = applicationSupport(false);
  if (support.isEmpty()) return;
  QList<RunningCopy> copies;
  bool copiesKnown = false;
  auto runningCopies = [&]() -> const QList<RunningCopy>& {
    if (!copiesKnown) copies = Process_RunningCopies(kFirstAid_ExecutableName);
    copiesKnown = true;
    return copies;
  };

  if (orphaned) {
    const QString oldItem = support + QLatin1Char('/') + kCrashLock_OldItemName;
    if (isRealFolder(oldItem) && runningCopies().size() == 1) QDir(oldItem).removeRecursively();
  }
  const QString folder = CrashLock_FolderPath();
  if (!isRealFolder(folder)) return;
  if (allEntries(folder).isEmpty()) {
    QDir().rmdir(folder);
    return;
  }
  const QUrl ownLock = crashLockFileURL();
  if (clearOwn && !orphaned && !ownLock.isEmpty()) {
    QFile::remove(ownLock.toLocalFile());
    releaseHeldLock();
  } else if (clearOwn && orphaned && runningCopies().size() == 1) {
    QDir(folder).removeRecursively();
    return;
  } else {
    const QString own = ownPath();
    for (const QString& name : allEntries(folder)) {
      if (!isLockName(name)) continue;
      const QString lock = folder + QLatin1Char('/') + name;
      // Never the lock of a run still going.
      if (isHeldByAnotherRun(lock, runningCopies())) continue;
      QString path;
      const int status = readContentsOfFile(lock, &path);
      if (status != kCrashLock_StatusOK || path.isEmpty()) {
        QFile::remove(lock);
        continue;
      }
      if (path == own && clearOwn) {
        QFile::remove(lock);
        continue;
      }
      if (!orphaned) continue;
      const RunningCopy* runner = nullptr;
      for (const RunningCopy& copy : runningCopies())
        if (copy.executablePath == path) runner = &copy;
      if (runner) {
        if (runner->executablePath == own && clearOwn) QFile::remove(lock);
      } else if (!clearOwn) {
        // Nobody runs that executable any more: the lock is an orphan.
        QFile::remove(lock);
      }
    }
  }
  removeFolderIfEmpty(folder);
}

FirstAidStartup FirstAid_CheckForPreviousCrash() {
  if (U_CrashSemaphoreExists()) {
    ZRNLogger_Log(QStringLiteral("ATT: the previous run did not end normally: first aid"));
    FirstAid_CountFirstAid();
    return FirstAidStartup::AfterCrash;
  }
  if (FirstAid_ModifiersAskForFirstAid(QGuiApplication::queryKeyboardModifiers())) return FirstAidStartup::OnRequest;
  return FirstAidStartup::Normal;
}

bool FirstAid_ModifiersAskForFirstAid(Qt::KeyboardModifiers held) {
  return held.testFlag(Qt::ControlModifier) && held.testFlag(Qt::AltModifier);
}
