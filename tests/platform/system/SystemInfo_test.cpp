#include "platform/system/Power.h"
#include "platform/system/SystemInfo.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {
void writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
  file.write(bytes);
}
}  // namespace

TEST(SystemInfo, KernelReleasesGiveTheirLeadingVersion) {
  struct Case {
    const char* release;
    bool ok;
    long major, minor, patch;
  };
  const Case cases[] = {
      {"6.1.0-18-amd64", true, 6, 1, 0}, {"6.18.44-fc-v1300", true, 6, 18, 44}, {"5.15.146.1-microsoft-standard-WSL2", true, 5, 15, 146},
      {"6.8", true, 6, 8, 0}, {"4", true, 4, 0, 0}, {"6.9-rc3", true, 6, 9, 0}, {"unknown", false, 0, 0, 0}, {"", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release);
    SystemVersion v{9, 9, 9};
    EXPECT_EQ(SystemInfo_ParseRelease(QString::fromLatin1(c.release), &v), c.ok);
    EXPECT_EQ(QList<long>({v.major, v.minor, v.patch}), QList<long>({c.major, c.minor, c.patch}));
  }
}

TEST(SystemInfo, MountsTableIsDecodedAndKernelFileSystemsAreHidden) {
  const QString table = Test_MakeTempDir(QStringLiteral("mounts")) + QStringLiteral("/mounts");
  writeFile(table,
            "/dev/sda2 / ext4 rw,relatime 0 0\nproc /proc proc rw,nosuid 0 0\nsysfs /sys sysfs rw 0 0\n"
            "tmpfs /run tmpfs rw 0 0\ntmpfs /dev/shm tmpfs rw 0 0\ncgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
            "/dev/sdb1 /media/user/My\\040Match\\040Disk vfat ro,nosuid 0 0\ntmpfs /tmp tmpfs rw 0 0\n"
            "server:/export /mnt/back\\134slash nfs4 rw 0 0\n\nshort line\n");
  const QList<MountedVolume> volumes = SystemInfo_MountedVolumes(table);
  ASSERT_EQ(volumes.size(), 9);
  QStringList visible;
  for (const MountedVolume& v : volumes)
    if (!v.hidden) visible << v.mountPoint;
  EXPECT_EQ(visible, (QStringList{QStringLiteral("/"), QStringLiteral("/media/user/My Match Disk"), QStringLiteral("/tmp"),
                                  QStringLiteral("/mnt/back\\slash")}));
  EXPECT_EQ(volumes[6].fileSystemType, QStringLiteral("vfat"));
  EXPECT_TRUE(volumes[6].readOnly);
  EXPECT_FALSE(volumes[0].readOnly);
  EXPECT_TRUE(SystemInfo_MountedVolumes(table + QStringLiteral(".missing")).isEmpty());
}

TEST(SystemInfo, ModelAndFrequencyComeFromFirmwareAndCpufreq) {
  const QString root = Test_MakeTempDir(QStringLiteral("sysroot"));
  const QString sys = root + QStringLiteral("/sys");
  const QString proc = root + QStringLiteral("/proc");
  EXPECT_EQ(SystemInfo_MachineModel(sys, proc), QString());
  EXPECT_EQ(SystemInfo_CPUMaxHertz(sys, proc), 0u);

  // A virtual machine: no firmware tables, no cpufreq; the processor table names and clocks the cores.
  writeFile(proc + QStringLiteral("/cpuinfo"),
            "processor\t: 0\nmodel name\t: Intel(R) Xeon(R)  Processor\ncpu MHz\t\t: 2599.998\n\n"
            "processor\t: 1\nmodel name\t: Intel(R) Xeon(R)  Processor\ncpu MHz\t\t: 2800.000\n");
  EXPECT_EQ(SystemInfo_MachineModel(sys, proc), QStringLiteral("Intel(R) Xeon(R) Processor"));
  EXPECT_EQ(SystemInfo_CPUMaxHertz(sys, proc), 2800000000ull);

  // A board without firmware tables names itself in the device tree, ending with a NUL.
  writeFile(proc + QStringLiteral("/device-tree/model"), QByteArray("Raspberry Pi 4 Model B Rev 1.4\0", 31));
  EXPECT_EQ(SystemInfo_MachineModel(sys, proc), QStringLiteral("Raspberry Pi 4 Model B Rev 1.4"));
  writeFile(sys + QStringLiteral("/class/dmi/id/product_name"), "ThinkPad X1 Carbon Gen 9\n");
  EXPECT_EQ(SystemInfo_MachineModel(sys, proc), QStringLiteral("ThinkPad X1 Carbon Gen 9"));

  // The fastest core counts (kilohertz in the files); folders that are no processors do not.
  writeFile(sys + QStringLiteral("/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"), "3400000\n");
  writeFile(sys + QStringLiteral("/devices/system/cpu/cpu11/cpufreq/cpuinfo_max_freq"), "4800000\n");
  writeFile(sys + QStringLiteral("/devices/system/cpu/cpufreq/cpuinfo_max_freq"), "9900000\n");
  EXPECT_EQ(SystemInfo_CPUMaxHertz(sys, proc), 4800000000ull);
}

TEST(Power, KernelPowerSupplyStateDecidesTheSource) {
  struct Supply {
    const char* name;
    const char* type;
    const char* online;  // nullptr: no such file
    const char* status;
    const char* scope;
  };
  struct Case {
    const char* name;
    QList<Supply> supplies;
    PowerSource expected;
  };
  const Case cases[] = {
      {"nothing", {}, PowerSource::Unknown},
      {"desktop on mains", {{"AC", "Mains", "1", nullptr, nullptr}}, PowerSource::AC},
      {"laptop unplugged", {{"AC", "Mains", "0", nullptr, nullptr}, {"BAT0", "Battery", nullptr, "Discharging", nullptr}}, PowerSource::Battery},
      {"laptop plugged, battery full", {{"ADP1", "Mains", "1", nullptr, nullptr}, {"BAT0", "Battery", nullptr, "Not charging", nullptr}}, PowerSource::AC},
      {"usb-c charger", {{"ucsi-source-psy-USBC000:001", "USB", "1", nullptr, nullptr}, {"BAT1", "Battery", nullptr, "Charging", nullptr}}, PowerSource::AC},
      {"only a mouse battery", {{"hidpp_battery_0", "Battery", nullptr, "Discharging", "Device"}}, PowerSource::Unknown},
      {"offline mains, idle battery", {{"AC", "Mains", "0", nullptr, nullptr}, {"BAT0", "Battery", nullptr, "Unknown", nullptr}}, PowerSource::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString folder = Test_MakeTempDir(QStringLiteral("power_supply"));
    for (const Supply& s : c.supplies) {
      const QString base = folder + QLatin1Char('/') + QString::fromLatin1(s.name) + QLatin1Char('/');
      writeFile(base + QStringLiteral("type"), QByteArray(s.type) + '\n');
      if (s.online) writeFile(base + QStringLiteral("online"), QByteArray(s.online) + '\n');
      if (s.status) writeFile(base + QStringLiteral("status"), QByteArray(s.status) + '\n');
      if (s.scope) writeFile(base + QStringLiteral("scope"), QByteArray(s.scope) + '\n');
    }
    EXPECT_EQ(Power_SysfsSource(folder), c.expected);
  }
}
