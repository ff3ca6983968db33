#pragma once
// Property lists as QVariant trees (QVariantMap, QVariantList, QString, bool, qint64, double,
// QDateTime, QByteArray), read and written as XML or binary property lists.

#include <QString>
#include <QVariant>

enum class PropertyListFormat { XML, Binary };

// Encodes a tree; an empty result means the tree holds a value a property list cannot carry.
QByteArray PropertyList_Serialize(const QVariant& value, PropertyListFormat format);
// Decodes XML or binary data; an invalid QVariant when the data is not a property list.
QVariant PropertyList_Deserialize(const QByteArray& data);

// Reads a file; an invalid QVariant (and errorText set) when it is missing or damaged.
QVariant PropertyList_ReadFile(const QString& path, QString* errorText = nullptr);
// Writes a file in one step (a reader never sees half a file); false with errorText on failure.
bool PropertyList_WriteFile(const QString& path, const QVariant& value, PropertyListFormat format,
                            QString* errorText = nullptr);
