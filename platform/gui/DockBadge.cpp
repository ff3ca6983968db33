#include "platform/gui/DockBadge.h"

#include <QDBusConnection>
#include <QVariantMap>

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
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  return bus.send(DockBadge_UpdateMessage(label));
}
