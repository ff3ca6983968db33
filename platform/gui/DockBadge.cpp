#include "platform/gui/DockBadge.h"

#include "platform/foundation/PlatformLog.h"
#include "platform/system/SystemBus.h"

#include <QDBusConnection>
#include <QMutex>
#include <QVariantMap>

namespace {
QMutex gBadgeMutex;
QString gBadgeBusAddress;
const QString kBadgeConnectionName = QStringLiteral("org.velmora.dock-badge");
}  // namespace

QDBusMessage DockBadge_UpdateMessage(const QString& label) {
  QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/org/velmora/Velmora/LauncherEntry"),
                                                    QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                    QStringLiteral("Update"));
  bool isNumber = false;
  const qint64 count = label.toLongLong(&isNumber);
  QVariantMap properties;
  properties.insert(QStringLiteral("count"), QVariant::fromValue<qint64>(isNumber ? count : 0));
  properties.insert(QStringLiteral("count-visible"), isNumber && count != 0);
  message << QString::fromLatin1(kDockBadgeAppURI) << properties;
  return message;
}

bool DockBadge_SetLabel(const QString& label) {
  QMutexLocker lock(&gBadgeMutex);
  const QString address = SystemBusConnection::busAddress(SystemBusConnection::Bus::Session);
  if (address.isEmpty()) return false;
  if (address != gBadgeBusAddress) {
    QDBusConnection::disconnectFromBus(kBadgeConnectionName);
    gBadgeBusAddress = address;
  }
  QDBusConnection connection(kBadgeConnectionName);
  if (!connection.isConnected()) connection = QDBusConnection::connectToBus(address, kBadgeConnectionName);
  if (!connection.isConnected()) {
    Platform_Log(QStringLiteral("dock badge: no session bus (%@)"), connection.lastError().message());
    QDBusConnection::disconnectFromBus(kBadgeConnectionName);
    gBadgeBusAddress.clear();
    return false;
  }
  return connection.send(DockBadge_UpdateMessage(label));
}
