#include "platform/system/SleepWake.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/system/SystemBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <memory>

namespace {
const QString kConnectionName = QStringLiteral("org.velmora.sleepwake");

// Lives on the main thread, so that the bus delivers the signal there: the notifications are posted on
// the main queue.
class SleepWakeReceiver : public QObject {
  Q_OBJECT
 public slots:
  void prepareForSleep(bool sleeping) {
    NotificationCenter::defaultCenter().post(sleeping ? kWorkspace_WillSleepNotification : kWorkspace_DidWakeNotification);
  }
};

std::unique_ptr<SleepWakeReceiver> gReceiver;
}  // namespace

bool SleepWake_StartNotices() {
  if (gReceiver) return true;
  const QString address = SystemBusConnection::busAddress(SystemBusConnection::Bus::System);
  if (address.isEmpty()) {
    Platform_Log(QStringLiteral("ATT: sleep and wake are not noticed: no system bus"));
    return false;
  }
  // A connection of our own for the whole run: the shared system-bus object reads its address once.
  QDBusConnection connection = QDBusConnection::connectToBus(address, kConnectionName);
  if (!connection.isConnected()) {
    Platform_Log(QStringLiteral("ATT: sleep and wake are not noticed: %@"), connection.lastError().message());
    QDBusConnection::disconnectFromBus(kConnectionName);
    return false;
  }
  auto receiver = std::make_unique<SleepWakeReceiver>();
  if (QCoreApplication* app = QCoreApplication::instance()) receiver->moveToThread(app->thread());
  // Any sender: logind's name may not be owned yet (or again, after a restart of logind).
  const bool subscribed = connection.connect(QString(), QStringLiteral("/org/freedesktop/login1"),
                                             QStringLiteral("org.freedesktop.login1.Manager"),
                                             QStringLiteral("PrepareForSleep"), receiver.get(), SLOT(prepareForSleep(bool)));
  if (!subscribed) {
    QDBusConnection::disconnectFromBus(kConnectionName);
    return false;
  }
  // The bus handles a connection's messages in order: once it answers this, the match is in place.
  connection.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                 QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
                  QDBus::Block, 3000);
  gReceiver = std::move(receiver);
  return true;
}

void SleepWake_StopNotices() {
  if (!gReceiver) return;
  QDBusConnection::disconnectFromBus(kConnectionName);
  gReceiver.reset();
}

#include "SleepWake.moc"
