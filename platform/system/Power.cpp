#include "platform/system/Power.h"

#include "platform/system/SystemBus.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kBusTimeoutMs = 5000;

QString readTrimmed(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll()).trimmed();
}
}  // namespace

int Power_TakeInhibitLock(const QString& what, const QString& who, const QString& why, QString* errorText) {
  SystemBusConnection bus(SystemBusConnection::Bus::System);
  if (!bus.isConnected()) {
    if (errorText) *errorText = bus.errorText();
    return -1;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                     QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("Inhibit"));
  call << what << who << why << QStringLiteral("block");
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus.connection().call(call, QDBus::Block, kBusTimeoutMs);
  if (!reply.isValid() || !reply.value().isValid()) {
    if (errorText) *errorText = reply.isValid() ? QStringLiteral("no file descriptor in the reply") : reply.error().message();
    return -1;
  }
  // The reply object closes its own copy; ours lives until the lock is released. Descriptor 0 is avoided
  // because callers keep 0 as "no lock".
  const int fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
  if (fd < 0 && errorText) *errorText = QStringLiteral("cannot keep the lock's file descriptor");
  return fd < 0 ? -1 : fd;
}

void Power_ReleaseInhibitLock(int fd) {
  if (fd > 0) ::close(fd);
}

PowerSource Power_UPowerSource() {
  SystemBusConnection bus(SystemBusConnection::Bus::System);
  if (!bus.isConnected()) return PowerSource::Unknown;
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.UPower"),
                                                     QStringLiteral("/org/freedesktop/UPower"),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("Get"));
  call << QStringLiteral("org.freedesktop.UPower") << QStringLiteral("OnBattery");
  const QDBusReply<QDBusVariant> reply = bus.connection().call(call, QDBus::Block, kBusTimeoutMs);
  if (!reply.isValid()) return PowerSource::Unknown;
  const QVariant value = reply.value().variant();
  if (value.typeId() != QMetaType::Bool) return PowerSource::Unknown;
  return value.toBool() ? PowerSource::Battery : PowerSource::AC;
}

PowerSource Power_SysfsSource(const QString& powerSupplyFolder) {
  const QDir folder(powerSupplyFolder);
  bool discharging = false;
  for (const QString& name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
    const QString base = folder.filePath(name) + QLatin1Char('/');
    const QString type = readTrimmed(base + QStringLiteral("type"));
    if (type == QLatin1String("Battery")) {
      // A peripheral's battery (mouse, headset) says nothing about the machine's supply.
      if (readTrimmed(base + QStringLiteral("scope")) == QLatin1String("Device")) continue;
      if (readTrimmed(base + QStringLiteral("status")) == QLatin1String("Discharging")) discharging = true;
    } else if (!type.isEmpty()) {
      if (readTrimmed(base + QStringLiteral("online")) == QLatin1String("1")) return PowerSource::AC;
    }
  }
  if (discharging) return PowerSource::Battery;
  return PowerSource::Unknown;
}

PowerSource Power_CurrentSource() {
  const PowerSource fromUPower = Power_UPowerSource();
  return fromUPower != PowerSource::Unknown ? fromUPower : Power_SysfsSource();
}
