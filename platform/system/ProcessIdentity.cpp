#include "platform/system/ProcessIdentity.h"

#include "platform/foundation/StandardLocations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray kReferenceMagic = QByteArrayLiteral("VLEXEREF1");
const QString kDeletedSuffix = QStringLiteral(" (deleted)");

QString readLink(const QString& path) {
  // QFileInfo::symLinkTarget would resolve relative parts; /proc's links are absolute already.
  QByteArray buffer(4096, '\0');
  const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer.data(), static_cast<size_t>(buffer.size()));
  if (n <= 0 || n >= buffer.size()) return {};
  return QFile::decodeName(buffer.left(static_cast<qsizetype>(n)));
}

// A process's data folder as it would compute it from its own environment.
QString dataHomeOf(qint64 pid) {
  QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return {};
  // Environments are small; a limit keeps a strange process from costing much.
  const QByteArray all = file.read(1 << 20);
  QString home, xdgDataHome;
  for (const QByteArray& entry : all.split('\0')) {
    if (entry.startsWith("HOME=")) home = QFile::decodeName(entry.mid(5));
    else if (entry.startsWith("XDG_DATA_HOME=")) xdgDataHome = QFile::decodeName(entry.mid(14));
  }
  if (!xdgDataHome.isEmpty() && QDir::isAbsolutePath(xdgDataHome)) return QDir::cleanPath(xdgDataHome);
  if (home.isEmpty()) return {};
  return QDir::cleanPath(home + QStringLiteral("/.local/share"));
}
}  // namespace

ExecutableIdentity Process_OwnExecutable() {
  const QString path = readLink(QStringLiteral("/proc/self/exe"));
  if (path.isEmpty() || path.endsWith(kDeletedSuffix)) return {};
  return Process_ExecutableIdentityOf(path);
}

ExecutableIdentity Process_ExecutableIdentityOf(const QString& path) {
  ExecutableIdentity identity;
  const QString canonical = QFileInfo(path).canonicalFilePath();
  struct stat st = {};
  if (canonical.isEmpty() || ::stat(QFile::encodeName(canonical).constData(), &st) != 0) return identity;
  identity.path = QDir::cleanPath(canonical);
  identity.device = static_cast<quint64>(st.st_dev);
  identity.inode = static_cast<quint64>(st.st_ino);
  return identity;
}

QByteArray Process_ExecutableReference(const ExecutableIdentity& identity) {
  if (!identity.isValid()) return {};
  return kReferenceMagic + '\n' + QByteArray::number(identity.device) + '\n' + QByteArray::number(identity.inode) +
         '\n' + QFile::encodeName(identity.path);
}

bool Process_ResolveExecutableReference(const QByteArray& reference, QString* path) {
  if (reference.size() > kProcess_MaxReferenceBytes) return false;
  const QList<QByteArray> parts = reference.split('\n');
  // The path comes last and may itself hold line feeds.
  if (parts.size() < 4 || parts[0] != kReferenceMagic) return false;
  bool deviceOK = false, inodeOK = false;
  const quint64 device = parts[1].toULongLong(&deviceOK);
  const quint64 inode = parts[2].toULongLong(&inodeOK);
  if (!deviceOK || !inodeOK) return false;
  const QByteArray rawPath = reference.mid(parts[0].size() + parts[1].size() + parts[2].size() + 3);
  if (rawPath.isEmpty() || !rawPath.startsWith('/') || rawPath.contains('\0')) return false;
  struct stat st = {};
  if (::stat(rawPath.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (static_cast<quint64>(st.st_dev) != device || static_cast<quint64>(st.st_ino) != inode) return false;
  if (path) *path = QDir::cleanPath(QFile::decodeName(rawPath));
  return true;
}

QList<RunningCopy> Process_RunningCopies(const QString& executableName) {
  QList<RunningCopy> copies;
  const qint64 ownPid = ::getpid();
  const ExecutableIdentity own = Process_OwnExecutable();
  copies << RunningCopy{ownPid, own.isValid() ? own.path : readLink(QStringLiteral("/proc/self/exe"))};
  const QString ownDataHome = StandardLocations::dataHome();
  const uid_t uid = ::getuid();
  const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& entry : entries) {
    bool numeric = false;
    const qint64 pid = entry.toLongLong(&numeric);
    if (!numeric || pid == ownPid) continue;
    const QString procDir = QStringLiteral("/proc/") + entry;
    struct stat st = {};
    if (::stat(QFile::encodeName(procDir).constData(), &st) != 0 || st.st_uid != uid) continue;
    // Zombies and processes of others have no readable link.
    const QString exe = readLink(procDir + QStringLiteral("/exe"));
    if (exe.isEmpty()) continue;
    QString name = QFileInfo(exe).fileName();
    if (name.endsWith(kDeletedSuffix)) name.chop(kDeletedSuffix.size());
    if (name != executableName) continue;
    if (dataHomeOf(pid) != ownDataHome) continue;
    copies << RunningCopy{pid, exe};
  }
  return copies;
}

quint64 Process_StartTime(qint64 pid) {
  if (pid <= 0) return 0;
  QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  const QByteArray stat = file.read(4096);
  // The command name in parentheses may hold spaces and parentheses: the fields start after the last ')'.
  const qsizetype close = stat.lastIndexOf(')');
  if (close < 0) return 0;
  const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
  // The start time is the 22nd field of the line; the 3rd (the state) is the first after the name.
  constexpr qsizetype kStartTimeField = 22 - 3;
  if (fields.size() <= kStartTimeField) return 0;
  bool ok = false;
  const quint64 start = fields.at(kStartTimeField).toULongLong(&ok);
  return ok ? start : 0;
}

QString Process_RunTag() {
  // A process's identity does not change while it runs.
  static const QString tag = [] {
    const qint64 pid = ::getpid();
    return QStringLiteral("%1-%2").arg(pid).arg(Process_StartTime(pid));
  }();
  return tag;
}

bool Process_RunTagIsAlive(const QString& tag) {
  qint64 pid = 0;
  quint64 start = 0;
  return Process_ParseRunTag(tag, &pid, &start) && Process_StartTime(pid) == start;
}

bool Process_RunTagHasEnded(const QString& tag) {
  qint64 pid = 0;
  quint64 start = 0;
  return Process_ParseRunTag(tag, &pid, &start) && Process_StartTime(pid) != start;
}

namespace {
// Digits as a number is printed: no sign, no leading zero, nothing but ASCII digits, and the value reads
// back as the same text (no overflow). 0 for anything else.
quint64 canonicalNumber(const QString& text) {
  if (text.isEmpty() || text.front() == QLatin1Char('0')) return 0;
  for (const QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return 0;
  bool ok = false;
  const quint64 value = text.toULongLong(&ok);
  return ok && QString::number(value) == text ? value : 0;
}
}  // namespace

qint64 Process_ParsePid(const QString& text) {
  const quint64 value = canonicalNumber(text);
  return value <= static_cast<quint64>(std::numeric_limits<pid_t>::max()) ? static_cast<qint64>(value) : 0;
}

bool Process_ParseRunTag(const QString& tag, qint64* pid, quint64* start) {
  const qsizetype dash = tag.indexOf(QLatin1Char('-'));
  if (dash < 0) return false;
  *pid = Process_ParsePid(tag.left(dash));
  *start = canonicalNumber(tag.mid(dash + 1));
  return *pid > 0 && *start > 0;
}
