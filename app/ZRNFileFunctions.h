#pragma once
// File functions: unique names, folders, the session package, the settings writer, flags and sizes.

#include <QString>
#include <QUrl>
#include <QVariantMap>

// Writes a settings dictionary as folder/baseName.extension: "plist" as a property list, "json" through
// the JSON bridge, both replaced in one step; any other extension writes nothing. Failures are logged.
void File_WriteSettings(const QUrl& folder, const QString& baseName, const QString& extension,
                        const QVariantMap& dictionary);
