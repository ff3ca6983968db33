#pragma once
// The application's own string table (resources/text/Localizable.plist, compiled into the binary).

#include <QString>

// The table's text for key; empty when the table has none.
QString ZRN_LocalizedString(const QString& key);
