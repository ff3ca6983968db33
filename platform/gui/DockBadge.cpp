#include "platform/gui/DockBadge.h"

#include "platform/foundation/PlatformLog.h"
#include "platform/system/SystemBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QMutex>
#include <QVariantMap>

namespace {
QMutex gBadgeMutex;
QString gBadgeLabel;
// One connection per bus address: the bus the signal goes to can change between calls (a test's private bus).
QString gBadgeBusAddress;
const QString kBadgeConnectionName = QStringLiteral("org.velmora.dock-badge");
}  // namespace

QString Gui_DockBadgeApplicationURI() {
  QString name = QGuiApplication::desktopFileName();
  if (name.isEmpty()) name = QStringLiteral("org.velmora.Velmora");
  return QStringLiteral("application://") + name + QStringLiteral(".desktop");
}

QString Gui_DockBadgeLabel() {
  QMutexLocker lock(&gBadgeMutex);
  return gBadgeLabel;
}

bool Gui_SetDockBadgeLabel(const QString& label) {
  QMutexLocker lock(&gBadgeMutex);
  gBadgeLabel = label;
  bool isNumber = false;
  const qint64 count = label.toLongLong(&isNumber);
  const bool visible = isNumber && count > 0;

  const QString address = SystemBusConnection::busAddress(SystemBusConnection::Bus::Session);
  if (address.isEmpty()) return false;
  if (address != gBadgeBusAddress) {
    QDBusConnection::disconnectFromBus(kBadgeConnectionName);
    gBadgeBusAddress = address;
  }
  QDBusConnection connection = QDBusConnection(kBadgeConnectionName);
  if (!connection.isConnected()) connection = QDBusConnection::connectToBus(address, kBadgeConnectionName);
  if (!connection.isConnected()) {
    Platform_Log(QStringLiteral("dock badge: no session bus (%@)"), connection.lastError().message());
    QDBusConnection::disconnectFromBus(kBadgeConnectionName);
    gBadgeBusAddress.clear();
    return false;
  }
  QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/velmora/Velmora/LauncherEntry"),
                                                   QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                   QStringLiteral("Update"));
  const QVariantMap properties = {{QStringLiteral("count"), QVariant::fromValue<qint64>(visible ? count : 0)},
                                  {QStringLiteral("count-visible"), visible}};
  signal << Gui_DockBadgeApplicationURI() << properties;
  return connection.send(signal);
}
