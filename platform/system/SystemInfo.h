#pragma once
// Facts about the machine and the running system, read from the kernel.

#include <QList>
#include <QString>

#include <cstdint>

struct SystemVersion {
  long major = 0;
  long minor = 0;
  long patch = 0;
};

// The leading "major.minor.patch" of a kernel release such as "6.1.0-18-amd64"; missing parts are 0,
// and a text that does not start with a number gives false.
bool SystemInfo_ParseRelease(const QString& release, SystemVersion* version);
// The running kernel's version; false (all 0) when it cannot be read.
bool SystemInfo_KernelVersion(SystemVersion* version);
// Installed memory in bytes, 0 when unknown.
uint64_t SystemInfo_PhysicalMemoryBytes();
QString SystemInfo_HostName();
// Processors the system has online; 0 when unknown.
int SystemInfo_CPUCount();
// The machine's product name from the firmware tables, or the device-tree model, or else the processor's
// model name; empty when none is there.
QString SystemInfo_MachineModel(const QString& sysRoot = QStringLiteral("/sys"), const QString& procRoot = QStringLiteral("/proc"));
// The highest frequency any processor can reach, in hertz (cpufreq), else the highest clock the kernel's
// processor table gives; 0 when neither says.
uint64_t SystemInfo_CPUMaxHertz(const QString& sysRoot = QStringLiteral("/sys"), const QString& procRoot = QStringLiteral("/proc"));

struct MountedVolume {
  QString device;
  QString mountPoint;
  QString fileSystemType;
  bool readOnly = false;
  // Kernel and runtime file systems (proc, sysfs, cgroups, ...) that a user never browses.
  bool hidden = false;
};

// The entries of a mounts table in the format of /proc/self/mounts (octal escapes decoded).
QList<MountedVolume> SystemInfo_MountedVolumes(const QString& mountsFile = QStringLiteral("/proc/self/mounts"));
// Whether the file system holding the path is mounted read-only; false when it cannot be asked.
bool SystemInfo_IsOnReadOnlyFileSystem(const QString& path);
