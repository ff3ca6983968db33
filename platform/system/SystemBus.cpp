#include "platform/system/SystemBus.h"

#include <QDBusError>
#include <QFileInfo>

#include <atomic>

namespace {
QDBusConnection connect(SystemBusConnection::Bus bus, const QString& name) {
  const QString address = SystemBusConnection::busAddress(bus);
  if (address.isEmpty()) return QDBusConnection(name);  // not connected
  return QDBusConnection::connectToBus(address, name);
}

QString uniqueConnectionName() {
  static std::atomic<int> counter{0};
  return QStringLiteral("org.velmora.bus.%1").arg(counter.fetch_add(1));
}
}  // namespace

SystemBusConnection::SystemBusConnection(Bus bus) : m_name(uniqueConnectionName()), m_connection(connect(bus, m_name)) {}

SystemBusConnection::~SystemBusConnection() { QDBusConnection::disconnectFromBus(m_name); }

QString SystemBusConnection::errorText() const {
  const QDBusError error = m_connection.lastError();
  return error.isValid() ? error.message() : QStringLiteral("no bus");
}

QString SystemBusConnection::busAddress(Bus bus) {
  if (bus == Bus::System) {
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    return address.isEmpty() ? QStringLiteral("unix:path=/run/dbus/system_bus_socket") : address;
  }
  const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (!address.isEmpty()) return address;
  // The usual per-user bus of systemd sessions, when no address is exported.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
    return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
  return QString();
}
