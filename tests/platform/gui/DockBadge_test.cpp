#include "platform/gui/DockBadge.h"

#include <QVariantMap>

#include <gtest/gtest.h>

namespace {

TEST(DockBadge, UpdateSignalCarriesTheCount) {
  const struct {
    const char* label;
    qint64 count;
    bool visible;
  } cases[] = {{"3", 3, true}, {"12", 12, true}, {"", 0, false}, {"0", 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const QDBusMessage message = DockBadge_UpdateMessage(QString::fromLatin1(c.label));
    EXPECT_EQ(message.type(), QDBusMessage::SignalMessage);
    EXPECT_EQ(message.interface() + "." + message.member(), QStringLiteral("com.canonical.Unity.LauncherEntry.Update"));
    EXPECT_EQ(message.arguments().value(0).toString(), QStringLiteral("application://org.velmora.Velmora.desktop"));
    const QVariantMap properties = message.arguments().value(1).toMap();
    EXPECT_EQ(properties.value("count").toLongLong(), c.count);
    EXPECT_EQ(properties.value("count-visible").toBool(), c.visible);
  }
}

}  // namespace
