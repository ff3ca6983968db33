#include "platform/system/CrashReport.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Everything the handler needs is prepared beforehand: it may not allocate, lock or call stdio.
constexpr size_t kPathCapacity = 4096;
char gFolder[kPathCapacity] = {};
char gName[128] = {};
char gPrefix[256] = {};
char gVersion[128] = {};
constexpr size_t kAltStackSize = 64 * 1024;
alignas(16) char gAltStack[kAltStackSize];

struct Buffer {
  char data[1024];
  size_t length = 0;
  void add(const char* text) {
    while (*text && length + 1 < sizeof data) data[length++] = *text++;
  }
  void addChar(char c) {
    if (length + 1 < sizeof data) data[length++] = c;
  }
  void addUnsigned(unsigned long long value, int minDigits = 1) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value && n < 24);
    while (n < minDigits && n < 24) digits[n++] = '0';
    while (n) addChar(digits[--n]);
  }
  void addHex(uintptr_t value) {
    add("0x");
    char digits[2 * sizeof value];
    int n = 0;
    do {
      digits[n++] = "0123456789abcdef"[value & 0xf];
      value >>= 4;
    } while (value && n < static_cast<int>(sizeof digits));
    while (n) addChar(digits[--n]);
  }
  const char* c_str() {
    data[length] = '\0';
    return data;
  }
};

void writeAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

// The civil date of a day count since 1970-01-01 (Howard Hinnant's algorithm): plain arithmetic, which a
// signal handler may do where gmtime_r may not be called.
void civilFromDays(long long z, long long* year, unsigned* month, unsigned* day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<long long>(yoe) + era * 400 + (*month <= 2);
}

void addStamp(Buffer& b, time_t now, bool forFileName) {
  const long long seconds = static_cast<long long>(now);
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  long long year = 0;
  unsigned month = 0, day = 0;
  civilFromDays(days, &year, &month, &day);
  b.addUnsigned(static_cast<unsigned long long>(year), 4);
  b.addChar('-');
  b.addUnsigned(month, 2);
  b.addChar('-');
  b.addUnsigned(day, 2);
  b.addChar(forFileName ? '-' : ' ');
  b.addUnsigned(static_cast<unsigned long long>(rest / 3600), 2);
  if (!forFileName) b.addChar(':');
  b.addUnsigned(static_cast<unsigned long long>(rest % 3600 / 60), 2);
  if (!forFileName) b.addChar(':');
  b.addUnsigned(static_cast<unsigned long long>(rest % 60), 2);
}

const char* signalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

int openReport(time_t now) {
  // A second report within the same second gets "_1", "_2", ...; never an existing file or a link.
  for (unsigned attempt = 0; attempt < 10; ++attempt) {
    Buffer path;
    path.add(gFolder);
    path.addChar('/');
    path.add(gPrefix);
    addStamp(path, now, true);
    if (attempt) {
      path.addChar('_');
      path.addUnsigned(attempt);
    }
    path.add(".crash");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void onFatalSignal(int sig, siginfo_t* info, void*) {
  const int savedErrno = errno;
  const time_t now = ::time(nullptr);
  const int fd = openReport(now);
  if (fd >= 0) {
    Buffer head;
    head.add("Process:         ");
    head.add(gName);
    head.add(" [");
    head.addUnsigned(static_cast<unsigned long long>(::getpid()));
    head.add("]\nVersion:         ");
    head.add(gVersion);
    head.add("\nDate/Time (UTC): ");
    addStamp(head, now, false);
    head.add("\nSignal:          ");
    head.addUnsigned(static_cast<unsigned long long>(sig));
    head.add(" (");
    head.add(signalName(sig));
    head.add(")\n");
    // A signal sent by a process has no faulting address: the sender is what there is to tell.
    if (info && info->si_code <= 0) {
      head.add("Sent by process: ");
      head.addUnsigned(static_cast<unsigned long long>(info->si_pid));
    } else {
      head.add("Signal code:     ");
      head.addUnsigned(static_cast<unsigned long long>(info ? info->si_code : 0));
      head.add("\nFault address:   ");
      head.addHex(info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0);
    }
    head.add("\n\nBacktrace:\n");
    writeAll(fd, head.data, head.length);
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::fsync(fd);
    ::close(fd);
  }
  // The system's own handling comes next: the signal is blocked while we run, so it is delivered with
  // the default action as soon as the handler returns (a fault raises it again in any case).
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  errno = savedErrno;
}

bool copyInto(char* target, size_t capacity, const QByteArray& value) {
  if (static_cast<size_t>(value.size()) + 1 > capacity) return false;
  std::memcpy(target, value.constData(), static_cast<size_t>(value.size()));
  target[value.size()] = '\0';
  return true;
}
}  // namespace

bool CrashReport_Install(const QString& reportsFolder, const QString& executableName, const QString& version) {
  if (reportsFolder.isEmpty() || !QDir().mkpath(reportsFolder)) return false;
  // Room for the name, the stamp and a suffix beside the folder in the handler's buffer.
  const QByteArray folder = QFile::encodeName(QDir::cleanPath(reportsFolder));
  if (folder.size() > 800) return false;
  if (!copyInto(gFolder, sizeof gFolder, folder)) return false;
  copyInto(gName, sizeof gName, QFile::encodeName(executableName).left(100));
  copyInto(gPrefix, sizeof gPrefix, QFile::encodeName(executableName).left(100) + '_');
  copyInto(gVersion, sizeof gVersion, version.toUtf8().left(100));

  // The first backtrace() loads the unwinder, which allocates: do it now, not in the handler.
  void* warmUp[2];
  ::backtrace(warmUp, 2);

  // An overflowing stack leaves no room for the handler on it.
  stack_t stack = {};
  stack.ss_sp = gAltStack;
  stack.ss_size = sizeof gAltStack;
  ::sigaltstack(&stack, nullptr);

  struct sigaction action = {};
  action.sa_sigaction = onFatalSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  for (int sig : kCrashReport_Signals) ::sigaction(sig, &action, nullptr);
  return true;
}
