#pragma once
// A private D-Bus daemon for one test, and a small stand-in for the desktop services we talk to on it:
// logind's Inhibit (answering a real pipe whose far end shows when the caller lets go) and its
// PrepareForSleep signal, UPower's OnBattery, the file manager's ShowItems/ShowFolders and the screen
// saver's Inhibit/UnInhibit.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

// Sets an environment variable for the life of the object and restores the old value after.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const QByteArray& value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
    qputenv(name, value);
  }
  ~ScopedEnvironment() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

 private:
  const char* m_name;
  bool m_had;
  QByteArray m_old;
};

class PrivateBusDaemon {
 public:
  PrivateBusDaemon() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) return;
    m_process.start(daemon, {"--session", "--nofork", "--print-address=1", "--nopidfile"});
    QByteArray output;
    while (!output.contains('\n') && m_process.waitForReadyRead(10000)) output += m_process.readAllStandardOutput();
    m_address = QString::fromUtf8(output).section(QLatin1Char('\n'), 0, 0).trimmed();
  }
  ~PrivateBusDaemon() {
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) m_process.kill();
    m_process.waitForFinished();
  }
  bool isRunning() const { return !m_address.isEmpty(); }
  QString address() const { return m_address; }

 private:
  QProcess m_process;
  QString m_address;
};

class FakeDesktopServices : public QDBusVirtualObject {
 public:
  struct Lock {
    QString what;
    int farEnd;  // the reading end we keep; it hangs up when the caller closes its end
  };
  struct Reveal {
    QString method;
    QStringList uris;
  };
  // A call to org.freedesktop.ScreenSaver: "Inhibit" with the cookie it was answered, or "UnInhibit"
  // with the cookie it gave back.
  struct ScreenSaverCall {
    QString method;
    uint cookie;
    QString sender;
  };

  ~FakeDesktopServices() override {
    for (const Lock& lock : m_locks) ::close(lock.farEnd);
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    std::lock_guard guard(m_mutex);
    const QString member = message.member();
    if (message.interface() == QLatin1String("org.freedesktop.login1.Manager") && member == QLatin1String("Inhibit")) {
      const QString what = message.arguments().value(0).toString();
      if (m_refused.contains(what)) {
        connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"), QStringLiteral("refused")));
        return true;
      }
      int ends[2];
      if (pipe2(ends, O_CLOEXEC) != 0) return false;
      m_locks.append({what, ends[0]});
      const QDBusUnixFileDescriptor handed(ends[1]);  // the message carries its own copy
      ::close(ends[1]);
      connection.send(message.createReply(QVariant::fromValue(handed)));
      return true;
    }
    if (member == QLatin1String("Get") && message.arguments().value(1).toString() == QLatin1String("OnBattery")) {
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(m_onBattery))));
      return true;
    }
    if (message.interface() == QLatin1String("org.freedesktop.ScreenSaver")) {
      if (member == QLatin1String("Inhibit")) {
        const uint cookie = ++m_lastCookie;
        m_screenSaverCalls.append({member, cookie, message.service()});
        if (m_inhibitDelayMs > 0) QThread::msleep(m_inhibitDelayMs);
        connection.send(message.createReply(QVariant::fromValue(cookie)));
        return true;
      }
      if (member == QLatin1String("UnInhibit")) {
        m_screenSaverCalls.append({member, message.arguments().value(0).toUInt(), message.service()});
        connection.send(message.createReply());
        return true;
      }
    }
    if (member == QLatin1String("ShowItems") || member == QLatin1String("ShowFolders")) {
      m_reveals.append({member, message.arguments().value(0).toStringList()});
      connection.send(message.createReply());
      return true;
    }
    return false;
  }
  QString introspect(const QString&) const override { return QString(); }

  void setOnBattery(bool onBattery) { std::lock_guard guard(m_mutex); m_onBattery = onBattery; }
  void refuse(const QString& what) { std::lock_guard guard(m_mutex); m_refused << what; }
  // The screen saver answers a hold this much later, as a busy desktop may.
  void setScreenSaverInhibitDelay(int ms) { std::lock_guard guard(m_mutex); m_inhibitDelayMs = ms; }
  QList<Lock> locks() { std::lock_guard guard(m_mutex); return m_locks; }
  QList<Reveal> reveals() { std::lock_guard guard(m_mutex); return m_reveals; }
  QList<ScreenSaverCall> screenSaverCalls() { std::lock_guard guard(m_mutex); return m_screenSaverCalls; }
  // The screen saver's holds not given back yet.
  int screenSaverHolds() {
    std::lock_guard guard(m_mutex);
    int held = 0;
    for (const ScreenSaverCall& call : m_screenSaverCalls) held += call.method == QLatin1String("Inhibit") ? 1 : -1;
    return held;
  }
  // Whether the caller still holds the other end of a lock.
  static bool isHeld(const Lock& lock) {
    pollfd entry{lock.farEnd, POLLIN, 0};
    return poll(&entry, 1, 0) == 0;
  }

 private:
  std::mutex m_mutex;
  bool m_onBattery = false;
  QStringList m_refused;
  QList<Lock> m_locks;
  QList<Reveal> m_reveals;
  QList<ScreenSaverCall> m_screenSaverCalls;
  uint m_lastCookie = 40;
  int m_inhibitDelayMs = 0;
};

// The services on a bus, answering on their own thread so that a caller may block the main thread.
class FakeDesktopOnBus {
 public:
  explicit FakeDesktopOnBus(const QString& address, const QStringList& serviceNames)
      : m_connection(QDBusConnection::connectToBus(address, QStringLiteral("fake-desktop"))) {
    m_thread.start();
    m_services->moveToThread(&m_thread);
    m_registered = m_connection.isConnected();
    for (const QString& name : serviceNames) m_registered = m_connection.registerService(name) && m_registered;
    for (const char* path : kPaths) m_connection.registerVirtualObject(QString::fromLatin1(path), m_services);
  }
  ~FakeDesktopOnBus() {
    for (const char* path : kPaths) m_connection.unregisterObject(QString::fromLatin1(path));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-desktop"));
    m_services->deleteLater();  // runs on its own thread as that thread finishes
    m_thread.quit();
    m_thread.wait();
  }
  bool isReady() const { return m_registered; }
  FakeDesktopServices& services() { return *m_services; }
  // logind's announcement before sleeping (true) and after waking (false).
  bool emitPrepareForSleep(bool sleeping) {
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << sleeping;
    return m_connection.send(signal);
  }

 private:
  static constexpr const char* kPaths[] = {"/org/freedesktop/login1", "/org/freedesktop/UPower",
                                           "/org/freedesktop/FileManager1", "/org/freedesktop/ScreenSaver"};
  QDBusConnection m_connection;
  QThread m_thread;
  FakeDesktopServices* m_services = new FakeDesktopServices;
  bool m_registered = false;
};
