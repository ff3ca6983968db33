#pragma once
// Property-list trees (QVariant) to JSON text and back; the only JSON encoding of the application.

#include <QByteArray>
#include <QVariant>

// UTF-8 JSON text, keys sorted, 4-space indent; an empty array when the value has no JSON form.
QByteArray JSON_CFDataFromCF(const QVariant& value);
// The tree of a JSON text; an invalid QVariant when the data is empty or not JSON.
QVariant JSON_CFFromJSONData(const QByteArray& data);
