#pragma once
// Property-list trees (QVariant) to JSON text and back; the only JSON encoding of the application.
//
// Writing: an invalid QVariant is "no value"; QVariant::fromValue(nullptr) is null; bool is true/false;
// every integer type is an integer with its full value (an unsigned one beyond the signed 64-bit range
// becomes a real); float and double are reals (NaN and the infinities have no JSON form); QString is a
// string; QDateTime is a string in the shared date format; QVariantList/QStringList are arrays;
// QVariantMap/QVariantHash are objects with their keys in JSON_CompareKeys order. Anything else
// (QByteArray, QUuid as a value, ...) has no JSON form and is left out of its container.
//
// Reading: objects become QVariantMap, arrays QVariantList, integers qint64, reals double, true/false
// bool, null QVariant::fromValue(nullptr); a string becomes a QDateTime when it has the shared date
// format, else a QString. Keys and strings keep every character as stored, a leading U+FEFF included,
// so that reading, writing and reading again gives the same tree.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <jansson.h>

// UTF-8 JSON text, keys sorted, 4-space indent, any top-level value. A null QByteArray when the value
// has no JSON form.
QByteArray JSON_CFDataFromCF(const QVariant& value);
// The tree of a JSON text (any top-level value); an invalid QVariant when the data is empty or not JSON.
QVariant JSON_CFFromJSONData(const QByteArray& data);

// A new jansson value (the caller drops it with json_decref), or nullptr when the value has no JSON form.
json_t* JSON_CFToJSONValue(const QVariant& value);
// The tree of a jansson value; an invalid QVariant for nullptr.
QVariant JSON_JSONValueToCF(const json_t* value);

// The keys of a dictionary, or any list of keys, sorted with JSON_CompareKeys.
QVariantList JSON_CopySortedKeys(const QVariantMap& dictionary);
QVariantList JSON_CopySortedKeys(const QVariantList& keys);
// Key order of written objects: two strings by UTF-16 character value (case-sensitive, not localised);
// two numbers by value; two UUIDs by their canonical text; any other pair by their descriptions
// ("%@"), so a number key sorts among string keys by its decimal text. Answers -1, 0 or 1.
int JSON_CompareKeys(const QVariant& a, const QVariant& b);

// The one date format of settings files: "yyyy-MM-dd'T'HH:mm:ss.SSSZ", written in the machine's
// current time zone with its numeric offset (2021-06-30T18:05:09.120+0200), read from any offset.
class JSONDateFormatter {
 public:
  QString stringFromDate(const QDateTime& date) const;
  // An invalid QDateTime unless the whole text has the format and names a real moment; the result
  // is in local time.
  QDateTime dateFromString(const QString& text) const;
};
const JSONDateFormatter& JSON_SharedDateFormatter();
