#include "platform/foundation/PropertyList.h"

#include "platform/foundation/SafeFile.h"
#include "platform/foundation/StringUTF8.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <QUrl>

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

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

QVariant fromPlist(plist_t node, int depth = 0) {
  if (!node || depth > kSafeFile_MaxNesting) return {};
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
        map.insert(String_FromUTF8(key), fromPlist(item, depth + 1));
        free(key);
      }
      free(it);
      return map;
    }
    case PLIST_ARRAY: {
      QVariantList list;
      const uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) list << fromPlist(plist_array_get_item(node, i), depth + 1);
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
      QString text = String_FromUTF8(s ? s : "");
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

// Nesting is measured before the data reaches the parser: libplist's binary reader and the conversion
// above recurse once per level, so a small hostile file nested a hundred thousand levels deep would
// exhaust the stack. Real property lists nest a handful of levels.
constexpr int kMaxNesting = kSafeFile_MaxNesting;

uint64_t readBigEndian(const uchar* bytes, int count) {
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
  return value;
}

// Binary property lists: the deepest chain of arrays, sets and dictionaries from the top object, each
// object measured once. False for a chain deeper than the limit, a cycle, or a table that points
// outside the data (which the parser would refuse anyway).
bool binaryNestingWithinLimit(const QByteArray& data) {
  const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
  const uint64_t size = uint64_t(data.size());
  if (size < 8 + 32) return false;
  const uchar* trailer = bytes + size - 32;
  const int offsetSize = trailer[6], refSize = trailer[7];
  const uint64_t objects = readBigEndian(trailer + 8, 8), top = readBigEndian(trailer + 16, 8),
                 table = readBigEndian(trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objects == 0 || top >= objects) return false;
  if (table > size - 32 || objects > (size - 32 - table) / uint64_t(offsetSize)) return false;
  auto offsetOf = [&](uint64_t object) { return readBigEndian(bytes + table + object * uint64_t(offsetSize), offsetSize); };
  // The references of a container (start and count), or count 0 for any other object.
  auto references = [&](uint64_t object, uint64_t* start, uint64_t* count) -> bool {
    *count = 0;
    const uint64_t at = offsetOf(object);
    if (at >= table) return false;
    const int type = bytes[at] >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) return true;
    uint64_t entries = bytes[at] & 0xF;
    uint64_t next = at + 1;
    if (entries == 0xF) {
      if (next >= table || (bytes[next] >> 4) != 0x1) return false;
      const int length = 1 << (bytes[next] & 0xF);
      if (length > 8 || next + 1 + uint64_t(length) > table) return false;
      entries = readBigEndian(bytes + next + 1, length);
      next += 1 + uint64_t(length);
    }
    const uint64_t refs = type == 0xD ? entries * 2 : entries;
    if (entries > table || refs > (table - next) / uint64_t(refSize)) return false;
    *start = next;
    *count = refs;
    return true;
  };
  enum : uchar { Unseen, Open, Done };
  std::vector<uchar> state(objects, Unseen);
  std::vector<uint16_t> depth(objects, 0);
  struct Frame {
    uint64_t object, refStart, refCount, nextRef;
    uint16_t deepest;
  };
  std::vector<Frame> stack;
  auto enter = [&](uint64_t object) -> bool {
    Frame frame{object, 0, 0, 0, 0};
    if (!references(object, &frame.refStart, &frame.refCount)) return false;
    state[object] = Open;
    stack.push_back(frame);
    return stack.size() <= size_t(kMaxNesting);
  };
  if (!enter(top)) return false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.nextRef == frame.refCount) {
      const uint16_t own = uint16_t(frame.deepest + (frame.refCount > 0 ? 1 : 0));
      state[frame.object] = Done;
      depth[frame.object] = own;
      stack.pop_back();
      if (!stack.empty()) stack.back().deepest = std::max(stack.back().deepest, own);
      continue;
    }
    const uint64_t child = readBigEndian(bytes + frame.refStart + frame.nextRef * uint64_t(refSize), refSize);
    ++frame.nextRef;
    if (child >= objects || state[child] == Open) return false;
    if (state[child] == Done) {
      frame.deepest = std::max(frame.deepest, depth[child]);
      if (size_t(frame.deepest) + stack.size() > size_t(kMaxNesting)) return false;
      continue;
    }
    if (!enter(child)) return false;
  }
  return true;
}

// XML property lists: the open array and dict elements, comments and character data skipped.
bool xmlNestingWithinLimit(const QByteArray& data) {
  int depth = 0;
  qsizetype at = 0;
  while ((at = data.indexOf('<', at)) >= 0) {
    if (data.mid(at, 4) == "<!--") {
      at = data.indexOf("-->", at + 4);
      if (at < 0) return true;
      continue;
    }
    if (data.mid(at, 9) == "<![CDATA[") {
      at = data.indexOf("]]>", at + 9);
      if (at < 0) return true;
      continue;
    }
    const qsizetype end = data.indexOf('>', at);
    if (end < 0) return true;
    const QByteArray tag = data.mid(at + 1, end - at - 1).trimmed();
    at = end + 1;
    if (tag.endsWith('/')) continue;
    if (tag == "array" || tag == "dict" || tag.startsWith("array ") || tag.startsWith("dict ")) {
      if (++depth > kMaxNesting) return false;
    } else if (tag == "/array" || tag == "/dict") {
      --depth;
    }
  }
  return true;
}

// A NUL character in XML text, written or as a character reference ("&#0;", "&#x00;").
bool xmlHoldsNul(const QByteArray& data) {
  if (data.contains('\0')) return true;
  for (qsizetype at = data.indexOf("&#"); at >= 0; at = data.indexOf("&#", at + 2)) {
    qsizetype i = at + 2;
    const bool hex = i < data.size() && (data[i] == 'x' || data[i] == 'X');
    if (hex) ++i;
    bool digits = false, nonZero = false;
    for (; i < data.size() && std::isxdigit(static_cast<unsigned char>(data[i])); ++i) {
      if (!hex && !std::isdigit(static_cast<unsigned char>(data[i]))) break;
      digits = true;
      nonZero = nonZero || data[i] != '0';
    }
    if (digits && !nonZero && i < data.size() && data[i] == ';') return true;
  }
  return false;
}

// A NUL inside a string object (ASCII or UTF-16) of a binary list, or an object table that does not fit.
bool binaryHoldsNul(const QByteArray& data) {
  const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
  const uint64_t size = uint64_t(data.size());
  if (size < 8 + 32) return true;
  const uchar* trailer = bytes + size - 32;
  const int offsetSize = trailer[6];
  const uint64_t objects = readBigEndian(trailer + 8, 8), table = readBigEndian(trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || table > size - 32 || objects > (size - 32 - table) / uint64_t(offsetSize))
    return true;
  for (uint64_t object = 0; object < objects; ++object) {
    const uint64_t at = readBigEndian(bytes + table + object * uint64_t(offsetSize), offsetSize);
    if (at < 8 || at >= table) return true;
    const int type = bytes[at] >> 4;
    if (type != 0x5 && type != 0x6) continue;
    uint64_t count = bytes[at] & 0xF;
    uint64_t next = at + 1;
    if (count == 0xF) {
      if (next >= table || (bytes[next] >> 4) != 0x1) return true;
      const int length = 1 << (bytes[next] & 0xF);
      if (length > 8 || next + 1 + uint64_t(length) > table) return true;
      count = readBigEndian(bytes + next + 1, length);
      next += 1 + uint64_t(length);
    }
    const uint64_t unit = type == 0x5 ? 1 : 2;
    if (count > (table - next) / unit) return true;
    for (uint64_t i = 0; i < count; ++i)
      if (bytes[next + i * unit] == 0 && (unit == 1 || bytes[next + i * unit + 1] == 0)) return true;
  }
  return false;
}

// Whether data may go to the parser at all: besides the nesting, libplist stops the whole program (an
// assertion) on a string or key that holds a NUL character.
bool mayBeParsed(const QByteArray& data) {
  if (data.startsWith("bplist00")) return !binaryHoldsNul(data) && binaryNestingWithinLimit(data);
  return !xmlHoldsNul(data) && xmlNestingWithinLimit(data);
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
  if (data.isEmpty() || !mayBeParsed(data)) return {};
  plist_t root = nullptr;
  plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &root);
  PlistPtr holder(root);
  return fromPlist(root);
}

QVariant PropertyList_ReadFile(const QString& path, QString* errorText) {
  // Our property lists are small; the parser takes at most 4 GiB anyway.
  constexpr qint64 kMaxFileBytes = 256LL * 1024 * 1024;
  QByteArray bytes;
  if (!SafeFile_ReadRegular(path, kMaxFileBytes, &bytes, errorText)) return {};
  const QVariant value = PropertyList_Deserialize(bytes);
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
  return SafeFile_Replace(path, bytes, errorText);
}
