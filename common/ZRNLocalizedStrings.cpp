#include "common/ZRNLocalizedStrings.h"

#include "platform/foundation/PropertyList.h"

#include <QVariantMap>

QString ZRN_LocalizedString(const QString& key) {
  static const QVariantMap table = PropertyList_ReadFile(QStringLiteral(":/text/Localizable.plist")).toMap();
  return table.value(key).toString();
}
