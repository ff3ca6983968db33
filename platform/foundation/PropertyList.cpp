#include "platform/foundation/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTimeZone>
#include <QUrl>

#include <plist/plist.h>

#include <cmath>
#include <memory>

namespace {

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
const QDateTime kReferenceDate(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());

struct PlistDeleter {
  void operator()(plist_t p) const {
    if (p) plist_free(p);
  }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

plist_t toPlist(const QVariant& value) {
  if (!value.isValid() || value.isNull()) return nullptr;
  switch (value.typeId()) {
    case QMetaType::QVariantMap: {
      plist_t dict = plist_new_dict();
      const QVariantMap map = value.toMap();
      for (auto it = map.cbegin(); it != map.cend(); ++it) {
        plist_t item = toPlist(it.value());
        if (!item) continue;  // a null member has no property-list form and is left out
        plist_dict_set_item(dict, it.key().toUtf8().constData(), item);
      }
      return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
      plist_t array = plist_new_array();
      for (const QVariant& v : value.toList()) {
        plist_t item = toPlist(v);
        if (item) plist_array_append_item(array, item);
      }
      return array;
    }
    case QMetaType::Bool: return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
      return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::Float:
    case QMetaType::Double: return plist_new_real(value.toDouble());
    case QMetaType::QDateTime: {
      const qint64 ms = kReferenceDate.msecsTo(value.toDateTime());
      const qint64 sec = static_cast<qint64>(std::floor(ms / 1000.0));
      return plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>((ms - sec * 1000) * 1000));
    }
    case QMetaType::QByteArray: {
      const QByteArray bytes = value.toByteArray();
      return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
    }
    case QMetaType::QUrl: return plist_new_string(value.toUrl().toString().toUtf8().constData());
    default:
      if (value.canConvert<QString>()) return plist_new_string(value.toString().toUtf8().constData());
      return nullptr;
  }
}

QVariant fromPlist(plist_t node) {
  if (!node) return {};
  switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
      QVariantMap map;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
          free(key);
          break;
        }
        map.insert(QString::fromUtf8(key), fromPlist(item));
        free(key);
      }
      free(it);
      return map;
    }
    case PLIST_ARRAY: {
      QVariantList list;
      const uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) list << fromPlist(plist_array_get_item(node, i));
      return list;
    }
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return bool(b);
    }
    case PLIST_UINT: {
      uint64_t v = 0;
      plist_get_uint_val(node, &v);
      return static_cast<qint64>(v);
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return d;
    }
    case PLIST_STRING: {
      char* s = nullptr;
      plist_get_string_val(node, &s);
      QString text = QString::fromUtf8(s ? s : "");
      free(s);
      return text;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      // libplist splits the stored seconds toward zero and hands back the fraction without its sign,
      // so a date before 2001 needs the fraction taken away, not added; the fraction is rounded
      // because it went through a double.
      const qint64 fractionMs = std::llround(std::abs(usec) / 1000.0);
      const qint64 ms = static_cast<qint64>(sec) * 1000 + (sec < 0 ? -fractionMs : fractionMs);
      return kReferenceDate.addMSecs(ms);
    }
    case PLIST_DATA: {
      char* data = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &data, &length);
      QByteArray bytes(data, static_cast<qsizetype>(length));
      free(data);
      return bytes;
    }
    case PLIST_UID: {
      uint64_t v = 0;
      plist_get_uid_val(node, &v);
      return static_cast<qint64>(v);
    }
    default: return {};
  }
}

}  // namespace

QByteArray PropertyList_Serialize(const QVariant& value, PropertyListFormat format) {
  PlistPtr root(toPlist(value));
  if (!root) return {};
  char* out = nullptr;
  uint32_t length = 0;
  if (format == PropertyListFormat::XML) {
    plist_to_xml(root.get(), &out, &length);
    QByteArray bytes(out, static_cast<qsizetype>(length));
    plist_to_xml_free(out);
    return bytes;
  }
  plist_to_bin(root.get(), &out, &length);
  QByteArray bytes(out, static_cast<qsizetype>(length));
  plist_to_bin_free(out);
  return bytes;
}

QVariant PropertyList_Deserialize(const QByteArray& data) {
  if (data.isEmpty()) return {};
  plist_t root = nullptr;
  plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &root);
  PlistPtr holder(root);
  return fromPlist(root);
}

QVariant PropertyList_ReadFile(const QString& path, QString* errorText) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (errorText) *errorText = file.errorString();
    return {};
  }
  const QVariant value = PropertyList_Deserialize(file.readAll());
  if (!value.isValid() && errorText) *errorText = QStringLiteral("not a property list: %1").arg(path);
  return value;
}

bool PropertyList_WriteFile(const QString& path, const QVariant& value, PropertyListFormat format,
                            QString* errorText) {
  const QByteArray bytes = PropertyList_Serialize(value, format);
  if (bytes.isEmpty()) {
    if (errorText) *errorText = QStringLiteral("value cannot be written as a property list");
    return false;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    if (errorText) *errorText = file.errorString();
    return false;
  }
  return true;
}
