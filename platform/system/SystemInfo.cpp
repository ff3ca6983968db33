#include "platform/system/SystemInfo.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <climits>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {
QByteArray readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

// Every value of a field in the kernel's processor table ("model name"), one per processor, in order.
QList<QByteArray> cpuInfoValues(const QString& procRoot, const char* field) {
  QList<QByteArray> values;
  for (const QByteArray& line : readFile(procRoot + QStringLiteral("/cpuinfo")).split('\n')) {
    const qsizetype colon = line.indexOf(':');
    if (colon >= 0 && line.left(colon).trimmed() == field) values << line.mid(colon + 1).trimmed();
  }
  return values;
}

// The first value of a field in the kernel's processor table; empty when absent.
QString cpuInfoValue(const QString& procRoot, const char* field) {
  const QList<QByteArray> values = cpuInfoValues(procRoot, field);
  return values.isEmpty() ? QString() : QString::fromUtf8(values.first()).simplified();
}

// Fields of the mounts table escape blanks, tabs, newlines and backslashes as \ooo.
QString decodeMountField(const QByteArray& field) {
  QByteArray out;
  out.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const QByteArray digits = field.mid(i + 1, 3);
      bool ok = false;
      const int value = digits.toInt(&ok, 8);
      if (ok && digits.size() == 3 && value < 256) {
        out.append(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    out.append(field[i]);
  }
  return QString::fromUtf8(out);
}

bool isHiddenVolume(const QString& type, const QString& mountPoint) {
  static const QSet<QString> pseudo = {
      QStringLiteral("proc"),      QStringLiteral("sysfs"),       QStringLiteral("devtmpfs"),
      QStringLiteral("devpts"),    QStringLiteral("cgroup"),      QStringLiteral("cgroup2"),
      QStringLiteral("securityfs"), QStringLiteral("debugfs"),    QStringLiteral("tracefs"),
      QStringLiteral("pstore"),    QStringLiteral("bpf"),         QStringLiteral("mqueue"),
      QStringLiteral("hugetlbfs"), QStringLiteral("configfs"),    QStringLiteral("fusectl"),
      QStringLiteral("autofs"),    QStringLiteral("binfmt_misc"), QStringLiteral("efivarfs"),
      QStringLiteral("rpc_pipefs"), QStringLiteral("nsfs"),       QStringLiteral("selinuxfs"),
      QStringLiteral("ramfs"),     QStringLiteral("rootfs"),      QStringLiteral("nfsd"),
      QStringLiteral("fuse.gvfsd-fuse"), QStringLiteral("fuse.portal"),
  };
  if (pseudo.contains(type)) return true;
  // Runtime folders of the system (tmpfs on /run, /dev/shm, ...) are not volumes a user keeps files on.
  for (const char* root : {"/proc", "/sys", "/dev", "/run"}) {
    const QString r = QString::fromLatin1(root);
    if (mountPoint == r || mountPoint.startsWith(r + QLatin1Char('/'))) return true;
  }
  return false;
}
}  // namespace

bool SystemInfo_ParseRelease(const QString& release, SystemVersion* version) {
  *version = SystemVersion();
  static const QRegularExpression leading(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
  const QRegularExpressionMatch match = leading.match(release.trimmed());
  if (!match.hasMatch()) return false;
  version->major = match.captured(1).toLong();
  version->minor = match.captured(2).toLong();
  version->patch = match.captured(3).toLong();
  return true;
}

bool SystemInfo_KernelVersion(SystemVersion* version) {
  struct utsname names;
  if (uname(&names) != 0) {
    *version = SystemVersion();
    return false;
  }
  return SystemInfo_ParseRelease(QString::fromUtf8(names.release), version);
}

uint64_t SystemInfo_PhysicalMemoryBytes() {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return 0;
  return static_cast<uint64_t>(info.totalram) * info.mem_unit;
}

QString SystemInfo_HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return QString();
  return QString::fromUtf8(name);
}

int SystemInfo_CPUCount() {
  const long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(count) : 0;
}

QString SystemInfo_MachineModel(const QString& sysRoot, const QString& procRoot) {
  QString model = QString::fromUtf8(readFile(sysRoot + QStringLiteral("/class/dmi/id/product_name"))).trimmed();
  if (model.isEmpty()) {
    // The device tree's model ends with a NUL.
    QByteArray bytes = readFile(procRoot + QStringLiteral("/device-tree/model"));
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0) bytes.truncate(nul);
    model = QString::fromUtf8(bytes).trimmed();
  }
  // Virtual machines and containers often show neither: the processor's name still says what ran.
  if (model.isEmpty()) model = cpuInfoValue(procRoot, "model name");
  return model;
}

uint64_t SystemInfo_CPUMaxHertz(const QString& sysRoot, const QString& procRoot) {
  const QDir cpus(sysRoot + QStringLiteral("/devices/system/cpu"));
  uint64_t best = 0;
  static const QRegularExpression cpuName(QStringLiteral("^cpu\\d+$"));
  for (const QString& name : cpus.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (!cpuName.match(name).hasMatch()) continue;
    bool ok = false;
    // cpufreq states kilohertz.
    const uint64_t kHz = readFile(cpus.filePath(name) + QStringLiteral("/cpufreq/cpuinfo_max_freq")).trimmed().toULongLong(&ok);
    if (ok && kHz * 1000 > best) best = kHz * 1000;
  }
  if (best > 0) return best;
  // Without cpufreq (virtual machines) the kernel's processor table still gives each core's clock in
  // megahertz; the fastest counts.
  for (const QByteArray& value : cpuInfoValues(procRoot, "cpu MHz")) {
    bool ok = false;
    const double mHz = value.toDouble(&ok);
    if (ok && mHz > 0 && mHz < 1e6) best = std::max<uint64_t>(best, static_cast<uint64_t>(mHz * 1e6 + 0.5));
  }
  return best;
}

QList<MountedVolume> SystemInfo_MountedVolumes(const QString& mountsFile) {
  QList<MountedVolume> volumes;
  const QByteArray table = readFile(mountsFile);
  for (const QByteArray& line : table.split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 4) continue;
    MountedVolume volume;
    volume.device = decodeMountField(fields[0]);
    volume.mountPoint = decodeMountField(fields[1]);
    volume.fileSystemType = decodeMountField(fields[2]);
    volume.readOnly = fields[3].split(',').contains("ro");
    volume.hidden = isHiddenVolume(volume.fileSystemType, volume.mountPoint);
    volumes.append(volume);
  }
  return volumes;
}

bool SystemInfo_IsOnReadOnlyFileSystem(const QString& path) {
  struct statvfs info;
  if (statvfs(QFile::encodeName(path).constData(), &info) != 0) return false;
  return (info.f_flag & ST_RDONLY) != 0;
}
