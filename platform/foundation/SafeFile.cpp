#include "platform/foundation/SafeFile.h"

#include "platform/foundation/SysErrno.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
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
