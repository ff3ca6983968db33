#pragma once
// Short-lived connections to the system and session buses.
//
// The address is read from DBUS_SYSTEM_BUS_ADDRESS / DBUS_SESSION_BUS_ADDRESS at each connection (the
// shared QDBusConnection objects read it once per process), so a test can point us at a private bus and
// a bus that went away is noticed at the next call instead of being cached.

#include <QDBusConnection>
#include <QString>

class SystemBusConnection {
 public:
  enum class Bus { System, Session };

  explicit SystemBusConnection(Bus bus);
  ~SystemBusConnection();
  SystemBusConnection(const SystemBusConnection&) = delete;
  SystemBusConnection& operator=(const SystemBusConnection&) = delete;

  bool isConnected() const { return m_connection.isConnected(); }
  QDBusConnection& connection() { return m_connection; }
  // Why the connection failed, for the log.
  QString errorText() const;

  // The address the next connection to the bus uses; empty when there is no bus to try.
  static QString busAddress(Bus bus);

 private:
  QString m_name;
  QDBusConnection m_connection;
};
