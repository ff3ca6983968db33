#include "common/ZRNJSONBridge.h"

#include "platform/foundation/Fmt.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/StringUTF8.h"

#include <QUuid>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <limits>

namespace {

bool isSignedIntegerType(int id) {
  switch (id) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
      return true;
    default:
      return false;
  }
}

bool isUnsignedIntegerType(int id) {
  switch (id) {
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
      return true;
    default:
      return false;
  }
}

bool isRealType(int id) { return id == QMetaType::Float || id == QMetaType::Double; }

bool isNumberType(int id) { return isSignedIntegerType(id) || isUnsignedIntegerType(id) || isRealType(id); }

// The text of a string as jansson takes it: UTF-8, ending at the first NUL as a C string would.
QByteArray utf8CString(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  const qsizetype nul = utf8.indexOf('\0');
  if (nul >= 0) utf8.truncate(nul);
  return utf8;
}

int sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

int compareNumbers(const QVariant& a, const QVariant& b) {
  const int ta = a.metaType().id(), tb = b.metaType().id();
  if (!isRealType(ta) && !isRealType(tb)) {
    // Exact for every pair of 64-bit integers, signed or not.
    const __int128 x = isUnsignedIntegerType(ta) ? static_cast<__int128>(a.toULongLong()) : a.toLongLong();
    const __int128 y = isUnsignedIntegerType(tb) ? static_cast<__int128>(b.toULongLong()) : b.toLongLong();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  const long double x = isUnsignedIntegerType(ta) ? static_cast<long double>(a.toULongLong())
                        : isSignedIntegerType(ta) ? static_cast<long double>(a.toLongLong())
                                                  : static_cast<long double>(a.toDouble());
  const long double y = isUnsignedIntegerType(tb) ? static_cast<long double>(b.toULongLong())
                        : isSignedIntegerType(tb) ? static_cast<long double>(b.toLongLong())
                                                  : static_cast<long double>(b.toDouble());
  return x < y ? -1 : (x > y ? 1 : 0);
}

QString keyDescription(const QVariant& key) { return Fmt("%@", key); }

// The member name of a dictionary key: a string's own text, any other key's description.
QByteArray memberName(const QVariant& key) {
  if (key.metaType().id() == QMetaType::QString) return utf8CString(key.toString());
  return utf8CString(keyDescription(key));
}

json_t* objectFromPairs(const QVariantList& sortedKeys, const std::function<QVariant(const QVariant&)>& lookup) {
  json_t* object = json_object();
  if (!object) return nullptr;
  for (const QVariant& key : sortedKeys) {
    const QVariant value = lookup(key);
    if (!key.isValid() || !value.isValid()) continue;
    json_t* converted = JSON_CFToJSONValue(value);
    if (!converted) continue;  // a value without a JSON form drops its member
    json_object_set_new(object, memberName(key).constData(), converted);
  }
  return object;
}

json_t* arrayFromList(const QVariantList& list) {
  json_t* array = json_array();
  if (!array) return nullptr;
  for (const QVariant& element : list) {
    json_t* converted = JSON_CFToJSONValue(element);
    if (converted) json_array_append_new(array, converted);
  }
  return array;
}

bool digitsAt(const QString& text, int from, int count, int* out) {
  int value = 0;
  for (int i = from; i < from + count; ++i) {
    const char16_t c = text.at(i).unicode();
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  *out = value;
  return true;
}

}  // namespace

json_t* JSON_CFToJSONValue(const QVariant& value) {
  if (!value.isValid()) return nullptr;
  const int type = value.metaType().id();
  if (type == QMetaType::Nullptr) return json_null();
  // Tested before the numbers: a bool is true/false, never the integer 1.
  if (type == QMetaType::Bool) return value.toBool() ? json_true() : json_false();
  // Integers keep their full 64-bit value, so millisecond times beyond 2^31 - 1 survive a save.
  if (isSignedIntegerType(type)) return json_integer(static_cast<json_int_t>(value.toLongLong()));
  if (isUnsignedIntegerType(type)) {
    const qulonglong u = value.toULongLong();
    if (u <= static_cast<qulonglong>(std::numeric_limits<json_int_t>::max()))
      return json_integer(static_cast<json_int_t>(u));
    return json_real(static_cast<double>(u));
  }
  if (isRealType(type)) return json_real(value.toDouble());  // nullptr for NaN and the infinities
  switch (type) {
    case QMetaType::QString:
      return json_string(utf8CString(value.toString()).constData());
    case QMetaType::QDateTime: {
      const QDateTime date = value.toDateTime();
      if (!date.isValid()) return nullptr;
      return json_string(JSON_SharedDateFormatter().stringFromDate(date).toUtf8().constData());
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
      return arrayFromList(value.toList());
    case QMetaType::QVariantMap: {
      const QVariantMap map = value.toMap();
      return objectFromPairs(JSON_CopySortedKeys(map), [&map](const QVariant& key) { return map.value(key.toString()); });
    }
    case QMetaType::QVariantHash: {
      const QVariantHash hash = value.toHash();
      QVariantList keys;
      keys.reserve(hash.size());
      for (auto it = hash.cbegin(); it != hash.cend(); ++it) keys.append(it.key());
      return objectFromPairs(JSON_CopySortedKeys(keys), [&hash](const QVariant& key) { return hash.value(key.toString()); });
    }
    default:
      return nullptr;
  }
}

QVariant JSON_JSONValueToCF(const json_t* value) {
  if (!value) return {};
  switch (json_typeof(value)) {
    case JSON_OBJECT: {
      QVariantMap map;
      const char* key = nullptr;
      json_t* member = nullptr;
      json_t* object = const_cast<json_t*>(value);
      json_object_foreach(object, key, member) {
        const QVariant converted = JSON_JSONValueToCF(member);
        if (converted.isValid()) map.insert(String_FromUTF8(key), converted);
      }
      return map;
    }
    case JSON_ARRAY: {
      QVariantList list;
      const size_t count = json_array_size(value);
      list.reserve(static_cast<qsizetype>(std::min<size_t>(count, 1u << 20)));
      for (size_t i = 0; i < count; ++i) {
        const QVariant converted = JSON_JSONValueToCF(json_array_get(value, i));
        if (converted.isValid()) list.append(converted);
      }
      return list;
    }
    case JSON_STRING: {
      const QString text =
          String_FromUTF8(QByteArrayView(json_string_value(value), static_cast<qsizetype>(json_string_length(value))));
      const QDateTime date = JSON_SharedDateFormatter().dateFromString(text);
      if (date.isValid()) return date;
      return text;
    }
    case JSON_INTEGER:
      return QVariant(static_cast<qint64>(json_integer_value(value)));
    case JSON_REAL:
      return QVariant(json_real_value(value));
    case JSON_TRUE:
      return QVariant(true);
    case JSON_FALSE:
      return QVariant(false);
    case JSON_NULL:
      return QVariant::fromValue(nullptr);
  }
  return {};
}

QByteArray JSON_CFDataFromCF(const QVariant& value) {
  json_t* json = JSON_CFToJSONValue(value);
  if (!json) return {};
  // Members keep the order they were set in (the sorted key order); UTF-8 is written as is.
  char* text = json_dumps(json, JSON_ENCODE_ANY | JSON_INDENT(4));
  json_decref(json);
  if (!text) return {};
  QByteArray data(text);
  free(text);
  return data;
}

namespace {

// The deepest nesting of arrays and objects in JSON text (strings skipped); stops counting past the limit.
int U_JSONNesting(const QByteArray& text) {
  int depth = 0, deepest = 0;
  bool inString = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char c = text.at(i);
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > kSafeFile_MaxNesting) break;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

QVariant JSON_CFFromJSONData(const QByteArray& bytes) {
  // Editors on other systems put a byte-order mark in front of UTF-8 text; it is not part of the JSON.
  const QByteArray data = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
  if (data.isEmpty() || U_JSONNesting(data) > kSafeFile_MaxNesting) return {};
  json_error_t error;
  json_t* json = json_loadb(data.constData(), static_cast<size_t>(data.size()), JSON_DECODE_ANY, &error);
  if (!json) return {};
  QVariant result = JSON_JSONValueToCF(json);
  json_decref(json);
  return result;
}

int JSON_CompareKeys(const QVariant& a, const QVariant& b) {
  const int ta = a.metaType().id(), tb = b.metaType().id();
  if (ta == QMetaType::QString && tb == QMetaType::QString) return sign(QString::compare(a.toString(), b.toString(), Qt::CaseSensitive));
  if (isNumberType(ta) && isNumberType(tb)) return compareNumbers(a, b);
  if (ta == QMetaType::QUuid && tb == QMetaType::QUuid) {
    const QString x = a.toUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString y = b.toUuid().toString(QUuid::WithoutBraces).toUpper();
    return sign(QString::compare(x, y, Qt::CaseSensitive));
  }
  return sign(QString::compare(keyDescription(a), keyDescription(b), Qt::CaseSensitive));
}

QVariantList JSON_CopySortedKeys(const QVariantList& keys) {
  QVariantList sorted = keys;
  std::stable_sort(sorted.begin(), sorted.end(), [](const QVariant& a, const QVariant& b) { return JSON_CompareKeys(a, b) < 0; });
  return sorted;
}

QVariantList JSON_CopySortedKeys(const QVariantMap& dictionary) {
  QVariantList keys;
  keys.reserve(dictionary.size());
  for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) keys.append(it.key());
  return JSON_CopySortedKeys(keys);
}

QString JSONDateFormatter::stringFromDate(const QDateTime& date) const {
  if (!date.isValid()) return {};
  const QDateTime local = date.toLocalTime();
  const int offset = local.offsetFromUtc();
  const int absOffset = std::abs(offset);
  const QDate d = local.date();
  const QTime t = local.time();
  return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d%02d", d.year(), d.month(), d.day(), t.hour(),
                           t.minute(), t.second(), t.msec(), offset < 0 ? '-' : '+', absOffset / 3600,
                           (absOffset % 3600) / 60);
}

QDateTime JSONDateFormatter::dateFromString(const QString& text) const {
  // yyyy-MM-ddTHH:mm:ss.SSS+hhmm, nothing before or after.
  if (text.size() != 28) return {};
  static constexpr struct {
    int at;
    char16_t c;
  } kSeparators[] = {{4, u'-'}, {7, u'-'}, {10, u'T'}, {13, u':'}, {16, u':'}, {19, u'.'}};
  for (const auto& s : kSeparators)
    if (text.at(s.at).unicode() != s.c) return {};
  const char16_t signChar = text.at(23).unicode();
  if (signChar != u'+' && signChar != u'-') return {};
  int year, month, day, hour, minute, second, msec, offHours, offMinutes;
  if (!digitsAt(text, 0, 4, &year) || !digitsAt(text, 5, 2, &month) || !digitsAt(text, 8, 2, &day) ||
      !digitsAt(text, 11, 2, &hour) || !digitsAt(text, 14, 2, &minute) || !digitsAt(text, 17, 2, &second) ||
      !digitsAt(text, 20, 3, &msec) || !digitsAt(text, 24, 2, &offHours) || !digitsAt(text, 26, 2, &offMinutes))
    return {};
  if (offHours > 23 || offMinutes > 59) return {};
  const QDate date(year, month, day);
  const QTime time(hour, minute, second, msec);
  if (!date.isValid() || !time.isValid()) return {};
  const qint64 offsetMs = (signChar == u'-' ? -1 : 1) * (offHours * 3600 + offMinutes * 60) * qint64(1000);
  const qint64 utcMs = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch() - offsetMs;
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime);
  // Only moments whose local year has four digits: anything else could not be written back as a date.
  if (local.date().year() < 1 || local.date().year() > 9999) return {};
  return local;
}

const JSONDateFormatter& JSON_SharedDateFormatter() {
  static const JSONDateFormatter formatter;
  return formatter;
}
