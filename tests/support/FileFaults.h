#pragma once
// Faults of the file system for the tests of what must survive them: a file-size limit (what a full
// disk does to a write), and files this process may not read or write. The suite runs as root in some
// places, which may read and write anything; dropping the file-system user ID of the calling thread
// takes that away for the files it touches.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <memory>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <unistd.h>

// Writes beyond maxBytes fail with EFBIG (SIGXFSZ is ignored meanwhile, as Velmora does) until the
// object goes.
class Test_FileSizeLimit {
 public:
  explicit Test_FileSizeLimit(rlim_t maxBytes) {
    ::getrlimit(RLIMIT_FSIZE, &m_saved);
    m_savedAction = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit{maxBytes, m_saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~Test_FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    ::signal(SIGXFSZ, m_savedAction);
  }
  Test_FileSizeLimit(const Test_FileSizeLimit&) = delete;
  Test_FileSizeLimit& operator=(const Test_FileSizeLimit&) = delete;

 private:
  struct rlimit m_saved{};
  sighandler_t m_savedAction = SIG_DFL;
};

// While it lives, the calling thread meets file permissions as an ordinary user ("nobody" when the
// suite runs as root). Work on other threads keeps its rights.
class Test_OrdinaryUserFiles {
 public:
  Test_OrdinaryUserFiles() {
    if (::geteuid() == 0) m_previous = ::setfsuid(65534);
  }
  ~Test_OrdinaryUserFiles() {
    if (m_previous >= 0) ::setfsuid(static_cast<uid_t>(m_previous));
  }
  Test_OrdinaryUserFiles(const Test_OrdinaryUserFiles&) = delete;
  Test_OrdinaryUserFiles& operator=(const Test_OrdinaryUserFiles&) = delete;

 private:
  int m_previous = -1;
};

// A folder that an ordinary user may enter and read but not write, removed with everything in it when
// the object goes. It lies in the system's temporary folder: the suite's own temporary home (and the
// TMPDIR inside it) is closed to others.
inline std::unique_ptr<QTemporaryDir> Test_MakeSharedDir() {
  auto dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/velmora-shared-XXXXXX"));
  QFile::setPermissions(dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                         QFileDevice::ExeOther);
  return dir;
}
