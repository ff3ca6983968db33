#include "platform/foundation/SafeFile.h"

#include "platform/foundation/SysErrno.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QString U_Reason(const QString& path, const char* what, int error) {
  return QStringLiteral("%1 could not be written (%2): %3").arg(path, QString::fromLatin1(what), Sys_ErrnoText(error));
}

// Closes the descriptor and removes the fresh file unless it was handed over.
struct FreshFile {
  int fd = -1;
  QByteArray path;
  bool keep = false;
  ~FreshFile() {
    if (fd >= 0) ::close(fd);
    if (!keep && !path.isEmpty()) ::unlink(path.constData());
  }
};

}  // namespace

namespace {
// Writes all of the bytes; 0 or the errno of the failure (a write that takes nothing: no room).
int U_WriteAll(int fd, const char* bytes, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t put = ::write(fd, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return ENOSPC;
    done += size_t(put);
  }
  return 0;
}
}  // namespace

int SafeFile_SyncPath(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno;
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

bool SafeFile_Replace(const QString& path, const QByteArray& bytes, QString* errorText) {
  auto fail = [&](const char* what, int error) {
    if (errorText) *errorText = U_Reason(path, what, error);
    return false;
  };
  const QByteArray target = QFile::encodeName(path);
  struct stat old = {};
  if (::lstat(target.constData(), &old) == 0) {
    if (S_ISLNK(old.st_mode)) {
      if (errorText) *errorText = QStringLiteral("%1 is a symbolic link; it is not written through").arg(path);
      return false;
    }
    if (!S_ISREG(old.st_mode)) {
      if (errorText) *errorText = QStringLiteral("%1 is not a plain file").arg(path);
      return false;
    }
  } else if (errno != ENOENT) {
    return fail("looking at it", errno);
  }

  const QFileInfo info(path);
  FreshFile fresh;
  fresh.path = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
  fresh.fd = ::mkostemp(fresh.path.data(), O_CLOEXEC);
  if (fresh.fd < 0) {
    const int error = errno;
    fresh.path.clear();
    return fail("creating a new copy", error);
  }
  // The new copy gets the old file's permissions, or those a new file would get.
  if (S_ISREG(old.st_mode)) {
    ::fchmod(fresh.fd, old.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fresh.fd, 0666 & ~mask);
  }
  if (const int error = U_WriteAll(fresh.fd, bytes.constData(), size_t(bytes.size())); error != 0) return fail("writing", error);
  // A file system may accept the writes and only find out at the sync that it has no room for them.
  if (::fsync(fresh.fd) != 0) return fail("syncing", errno);
  struct stat written = {};
  if (::fstat(fresh.fd, &written) != 0) return fail("checking", errno);
  if (written.st_size != static_cast<off_t>(bytes.size())) return fail("checking its size", EIO);
  const int fd = fresh.fd;
  fresh.fd = -1;
  if (::close(fd) != 0) return fail("closing", errno);
  if (::rename(fresh.path.constData(), target.constData()) != 0) return fail("replacing the old file", errno);
  fresh.keep = true;
  // The rename itself reaches the disk with the folder.
  SafeFile_SyncPath(info.absolutePath());
  return true;
}

bool SafeFile_NameTaken(const QString& path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 || errno != ENOENT;
}

int SafeFile_MoveNoReplace(const QString& from, const QString& to) {
  const QByteArray source = QFile::encodeName(from), target = QFile::encodeName(to);
  if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without the no-replace rename: a file goes by a hard link, which fails too when the name
  // is taken; a folder cannot, so the check just before its rename is as close as they allow.
  struct stat st {};
  if (::lstat(source.constData(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) {
    if (::link(source.constData(), target.constData()) != 0) return errno;
    ::unlink(source.constData());
    return 0;
  }
  if (SafeFile_NameTaken(to)) return EEXIST;
  return ::rename(source.constData(), target.constData()) == 0 ? 0 : errno;
}

namespace {
// Copies what in holds to out and syncs it; 0 or the errno of the failure.
int U_CopyContents(int in, int out, const std::atomic<bool>* stop) {
  struct stat source {};
  if (::fstat(in, &source) != 0) return errno;
  if (!S_ISREG(source.st_mode)) return EINVAL;
  QByteArray buffer(1 << 20, Qt::Uninitialized);
  off_t copied = 0;
  for (;;) {
    if (stop && stop->load()) return ECANCELED;
    const ssize_t got = ::read(in, buffer.data(), size_t(buffer.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    if (const int error = U_WriteAll(out, buffer.constData(), size_t(got)); error != 0) return error;
    copied += got;
  }
  struct stat written {};
  if (::fsync(out) != 0 || ::fstat(out, &written) != 0) return errno;
  return written.st_size == source.st_size && copied == source.st_size ? 0 : EIO;
}
}  // namespace

int SafeFile_CopyNew(const QString& from, const QString& to, mode_t mode, const std::atomic<bool>* stop) {
  const QByteArray target = QFile::encodeName(to);
  const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (in < 0) return errno;
  const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return error;
  }
  int error = U_CopyContents(in, out, stop);
  if (::close(out) != 0 && error == 0) error = errno;
  ::close(in);
  if (error != 0) ::unlink(target.constData());
  return error;
}

bool SafeFile_OpenForReading(QFile& file, const QString& path, QString* errorText) {
  file.close();
  file.setFileName(path);
  // The program's own resources are no file of the file system: Qt reads them from memory.
  if (path.startsWith(QLatin1Char(':'))) {
    if (file.open(QIODevice::ReadOnly)) return true;
    if (errorText) *errorText = file.errorString();
    return false;
  }
  // Without O_NONBLOCK the open of a pipe itself would block until something writes into it.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errorText) *errorText = Sys_ErrnoText(errno);
    return false;
  }
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    ::close(fd);
    if (errorText) *errorText = S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder")
                                : st.st_mode != 0   ? QStringLiteral("it is not a regular file")
                                                    : Sys_ErrnoText(error);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    if (errorText) *errorText = file.errorString();
    return false;
  }
  return true;
}

bool SafeFile_ReadRegular(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* errorText) {
  QFile file;
  if (!SafeFile_OpenForReading(file, path, errorText)) return false;
  if (file.size() > maxBytes) {
    if (errorText) *errorText = QStringLiteral("it is larger than %1 bytes").arg(maxBytes);
    return false;
  }
  // Read to the end in pieces, whatever the size said: a file that grew meanwhile is still refused.
  QByteArray read;
  for (;;) {
    const QByteArray chunk = file.read(64 * 1024);
    if (file.error() != QFileDevice::NoError) {
      if (errorText) *errorText = file.errorString();
      return false;
    }
    if (chunk.isEmpty()) break;
    if (read.size() + chunk.size() > maxBytes) {
      if (errorText) *errorText = QStringLiteral("it is larger than %1 bytes").arg(maxBytes);
      return false;
    }
    read += chunk;
  }
  if (bytes) *bytes = std::move(read);
  return true;
}

namespace {
// What the removal needs to know of an item, from statx without following a link.
struct U_Item {
  mode_t mode = 0;
  uid_t uid = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  bool hasMountId = false;
  quint64 mountId = 0;
};

// The item `name` in the folder `dirFd`; with an empty name the open item `dirFd` itself. 0 or the errno.
int U_StatAt(int dirFd, const char* name, U_Item* item) {
  struct statx stx {};
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
  if (::statx(dirFd, name, flags, STATX_TYPE | STATX_MODE | STATX_UID | STATX_INO | STATX_MNT_ID, &stx) != 0)
    return errno;
  item->mode = stx.stx_mode;
  item->uid = stx.stx_uid;
  item->dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
  item->ino = stx.stx_ino;
  item->hasMountId = (stx.stx_mask & STATX_MNT_ID) != 0;
  item->mountId = stx.stx_mnt_id;
  return 0;
}

// The same file system and, where the kernel tells mounts apart, the same mount: a bind mount of a
// folder of the same file system has the same device.
bool U_SameMount(const U_Item& a, const U_Item& b) {
  return a.dev == b.dev && (!a.hasMountId || !b.hasMountId || a.mountId == b.mountId);
}

// Opens the folder `name` of `dirFd` that `expected` describes; -1 with *error when it is another item now.
int U_OpenFolderAt(int dirFd, const char* name, const U_Item& expected, U_Item* opened, int* error) {
  const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  if (const int failure = U_StatAt(fd, "", opened); failure != 0 || opened->ino != expected.ino ||
                                                     !U_SameMount(*opened, expected)) {
    *error = failure != 0 ? failure : EBUSY;
    ::close(fd);
    return -1;
  }
  return fd;
}

// Removes everything in the open folder `fd` that lies on its mount. 0, or the first failure (EBUSY for
// an item on another mount, which stays).
int U_EmptyFolder(int fd, const U_Item& folder, int depth) {
  if (depth > kSafeFile_MaxNesting) return ELOOP;
  const int listFd = ::dup(fd);
  DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
  if (!dir) {
    const int error = errno;
    if (listFd >= 0) ::close(listFd);
    return error;
  }
  QList<QByteArray> names;
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    if (name != "." && name != "..") names.append(name);
  }
  ::closedir(dir);
  int result = 0;
  auto note = [&result](int error) {
    if (result == 0) result = error;
  };
  for (const QByteArray& name : names) {
    U_Item item;
    if (const int error = U_StatAt(fd, name.constData(), &item); error != 0) {
      if (error != ENOENT) note(error);
      continue;
    }
    if (!U_SameMount(item, folder)) {
      note(EBUSY);
      continue;
    }
    if (S_ISDIR(item.mode)) {
      U_Item opened;
      int error = 0;
      const int child = U_OpenFolderAt(fd, name.constData(), item, &opened, &error);
      if (child >= 0) {
        error = U_EmptyFolder(child, opened, depth + 1);
        ::close(child);
      }
      if (error == 0 && ::unlinkat(fd, name.constData(), AT_REMOVEDIR) != 0) error = errno;
      if (error != 0 && error != ENOENT) note(error);
    } else if (::unlinkat(fd, name.constData(), 0) != 0 && errno != ENOENT) {
      note(errno);
    }
  }
  return result;
}
}  // namespace

int SafeFile_RemoveOwnFolder(const QString& path) {
  const QFileInfo info(path);
  const QByteArray parentPath = QFile::encodeName(info.absolutePath());
  const QByteArray name = QFile::encodeName(info.fileName());
  if (name.isEmpty() || name == "." || name == "..") return EINVAL;
  const int parent = ::open(parentPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return errno;
  U_Item parentItem, item;
  int error = U_StatAt(parent, "", &parentItem);
  if (error == 0) error = U_StatAt(parent, name.constData(), &item);
  if (error == 0 && !S_ISDIR(item.mode)) error = ENOTDIR;
  if (error == 0 && item.uid != ::geteuid()) error = EPERM;
  if (error == 0 && !U_SameMount(item, parentItem)) error = EXDEV;
  if (error == 0) {
    U_Item opened;
    const int fd = U_OpenFolderAt(parent, name.constData(), item, &opened, &error);
    if (fd >= 0) {
      error = U_EmptyFolder(fd, opened, 0);
      ::close(fd);
    }
    if (error == 0 && ::unlinkat(parent, name.constData(), AT_REMOVEDIR) != 0) error = errno;
  }
  ::close(parent);
  return error;
}
