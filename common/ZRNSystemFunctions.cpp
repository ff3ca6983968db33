#include "common/ZRNSystemFunctions.h"

#include "common/ZRNAppSetup.h"
#include "common/ZRNLogger.h"
#include "platform/foundation/Fmt.h"
#include "platform/system/Power.h"
#include "platform/system/ScreenSaver.h"
#include "platform/system/SystemInfo.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

#include <atomic>
#include <memory>
#include <mutex>

namespace {
// Minor release the feature checks see: 16 is how the newest releases present themselves to 10.x checks.
constexpr int kNewestMinorVersion = 16;
std::atomic<int> gMinorVersion{-1};

// Lock descriptors by slot: display idle, system sleep, disk idle. 0 when none is held.
std::atomic<int32_t> gAssertionIDs[3] = {0, 0, 0};

const char* const kSleepWhy = "VL Recording prevented sleep";
std::mutex gScreenSaverMutex;
std::unique_ptr<ScreenSaverInhibition> gScreenSaverHold;

void takeLock(int slot, const QString& what, const char* logFormat) {
  QString error;
  const int fd = Power_TakeInhibitLock(what, QStringLiteral("Velmora"), QString::fromLatin1(kSleepWhy), &error);
  if (fd < 0) {
    ZRNLogger_Log(QStringLiteral("ATT: no %@ inhibitor lock: %@"), what, error);
    return;
  }
  // A lock still held from an earlier call would otherwise never be released.
  Power_ReleaseInhibitLock(gAssertionIDs[slot].exchange(fd));
  ZRNLogger_Log(QString::fromLatin1(logFormat), static_cast<unsigned>(fd));
}
}  // namespace

QString Sys_OSVersionString() {
  SystemVersion version;
  SystemInfo_KernelVersion(&version);
  return Fmt(QStringLiteral("%ld.%ld.%ld"), version.major, version.minor, version.patch);
}

long Sys_OSVersionNumber() {
  SystemVersion version;
  if (!SystemInfo_KernelVersion(&version)) return 0;
  return version.major * 10000 + version.minor * 100 + version.patch;
}

int32_t Sys_PhysicalMemoryMB() { return static_cast<int32_t>(SystemInfo_PhysicalMemoryBytes() >> 20); }

QString Sys_HostName() { return SystemInfo_HostName(); }

bool Sys_OSMinorAtLeast(int minor) {
  if (gMinorVersion < 0) gMinorVersion = kNewestMinorVersion;
  return gMinorVersion >= minor;
}

bool Sys_OSAtLeast10_12() { return Sys_OSMinorAtLeast(12); }
bool Sys_OSAtLeast10_13() { return Sys_OSMinorAtLeast(13); }
bool Sys_OSAtLeast10_14() { return Sys_OSMinorAtLeast(14); }

int32_t Sys_CPUCount() {
  const int count = SystemInfo_CPUCount();
  return count > 0 ? count : 1;
}

QString Sys_MachineModel() { return SystemInfo_MachineModel(); }

float Sys_CPUMaxGHz() { return static_cast<float>(static_cast<double>(SystemInfo_CPUMaxHertz()) / 1e6 / 1000.0); }

bool Sys_VerboseTrace() { return false; }

QString Sys_SystemReport() {
  QString report = Fmt(QStringLiteral("System version: %@\n\n"), Sys_OSVersionString());
  const int cpus = SystemInfo_CPUCount();
  const QString cpuCount = cpus > 0 && cpus != 1 ? Fmt(QStringLiteral("%d x "), cpus) : QString();
  report += Fmt(QStringLiteral("Model: %@\nCPU Speed: %@%.2f GHz\n\n"), Sys_MachineModel(), cpuCount, Sys_CPUMaxGHz());
  report += Fmt(QStringLiteral("RAM: %dMB\n"), Sys_PhysicalMemoryMB());
  ZRNAppSetup* setup = ZRNAppSetup::sharedAppSetup();
  report += Fmt(QStringLiteral("User: %@  SessionID: %d\n\n"), setup->getSessionShortUserName(), setup->getSessionUserID());
  const QFileInfo application(QCoreApplication::applicationFilePath());
  const QString applicationPath = application.suffix().isEmpty()
                                      ? application.filePath()
                                      : application.path() + QLatin1Char('/') + application.completeBaseName();
  report += Fmt(QStringLiteral("Application : %@\n\n"), applicationPath);
  report += QString(50, QLatin1Char('-')) + QStringLiteral("\n\n");
  report += QStringLiteral("Mounted volumes:\n\n");
  int counter = 1;
  for (const MountedVolume& volume : SystemInfo_MountedVolumes()) {
    if (volume.hidden || !volume.mountPoint.startsWith(QLatin1Char('/'))) continue;
    report += Fmt(QStringLiteral("%d: %@\n"), counter++, QUrl::fromLocalFile(volume.mountPoint.endsWith(QLatin1Char('/')) ? volume.mountPoint : volume.mountPoint + QLatin1Char('/')));
  }
  report += QStringLiteral("\n");
  return report;
}

bool Sys_IsOnBattery() { return Power_CurrentSource() == PowerSource::Battery; }

void Sys_PreventSystemSleep() {
  takeLock(0, QStringLiteral("idle"), "gAssertionID_IdleDisplay: %u");
  // Not every desktop's screen blanking honours logind's idle lock; its screen saver is asked too.
  {
    std::lock_guard lock(gScreenSaverMutex);
    if (!gScreenSaverHold)
      gScreenSaverHold = std::make_unique<ScreenSaverInhibition>(QStringLiteral("Velmora"), QString::fromLatin1(kSleepWhy));
  }
  takeLock(1, QStringLiteral("sleep"), "gAssertionID_IdleSystem: %u");
  // Disks spin down on their own timers, which no session service lets an application hold off: the
  // disk slot stays empty.
}

void Sys_ResetSystemSleep() {
  ZRNLogger_Log(QStringLiteral("Sys_ResetSystemSleep"));
  for (auto& id : gAssertionIDs) Power_ReleaseInhibitLock(id.exchange(0));
  std::lock_guard lock(gScreenSaverMutex);
  gScreenSaverHold.reset();
}

int32_t Sys_SleepAssertionID(int slot) { return slot >= 0 && slot < 3 ? gAssertionIDs[slot].load() : 0; }
