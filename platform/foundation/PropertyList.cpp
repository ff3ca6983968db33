#include "platform/foundation/PropertyList.h"

#include "platform/foundation/SafeFile.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <QUrl>

#include <plist/plist.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
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
        map.insert(QString::fromUtf8(key), fromPlist(item, depth + 1));
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

// Nesting of an XML property list: dict and array elements inside each other. Comments, processing
// instructions, CDATA and the document type are stepped over; an element that closes itself adds nothing.
int U_XMLNesting(const QByteArray& data) {
  int depth = 0, deepest = 0;
  const qsizetype n = data.size();
  auto skipPast = [&](qsizetype from, const char* end) {
    const qsizetype at = data.indexOf(end, from);
    return at < 0 ? n : at + qsizetype(std::strlen(end));
  };
  qsizetype i = 0;
  while (i < n) {
    const qsizetype open = data.indexOf('<', i);
    if (open < 0) break;
    if (data.mid(open, 4) == "<!--") { i = skipPast(open + 4, "-->"); continue; }
    if (data.mid(open, 9) == "<![CDATA[") { i = skipPast(open + 9, "]]>"); continue; }
    if (open + 1 < n && (data[open + 1] == '?')) { i = skipPast(open + 2, "?>"); continue; }
    const qsizetype close = data.indexOf('>', open);
    if (close < 0) break;
    i = close + 1;
    if (open + 1 < n && data[open + 1] == '!') continue;
    const bool closing = open + 1 < n && data[open + 1] == '/';
    qsizetype nameStart = open + (closing ? 2 : 1);
    qsizetype nameEnd = nameStart;
    while (nameEnd < close && data[nameEnd] != '/' && data[nameEnd] != ' ' && data[nameEnd] != '\t' &&
           data[nameEnd] != '\n' && data[nameEnd] != '\r')
      ++nameEnd;
    const QByteArray name = data.mid(nameStart, nameEnd - nameStart);
    if (name != "dict" && name != "array") continue;
    if (closing) {
      --depth;
      continue;
    }
    // An empty container ("<array/>") is one level deeper, with nothing inside it.
    const bool empty = data[close - 1] == '/';
    deepest = std::max(deepest, depth + 1);
    if (!empty) ++depth;
    if (deepest > kSafeFile_MaxNesting) return deepest;
  }
  return deepest;
}

uint64_t U_BigEndian(const uchar* p, int size) {
  uint64_t v = 0;
  for (int i = 0; i < size; ++i) v = (v << 8) | p[i];
  return v;
}

// Nesting of a binary property list, walked over its object table without building anything. False
// when the containers nest deeper than the limit, refer to themselves, or point outside the data.
bool U_BinaryNestingIsSound(const QByteArray& data) {
  const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
  const uint64_t size = static_cast<uint64_t>(data.size());
  if (size < 8 + 32) return false;
  const uchar* trailer = bytes + size - 32;
  const int offsetSize = trailer[6];
  const int refSize = trailer[7];
  const uint64_t count = U_BigEndian(trailer + 8, 8);
  const uint64_t top = U_BigEndian(trailer + 16, 8);
  const uint64_t tableAt = U_BigEndian(trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return false;
  if (count == 0 || top >= count || tableAt >= size - 32) return false;
  if (count > (size - 32 - tableAt) / static_cast<uint64_t>(offsetSize)) return false;
  auto offsetOf = [&](uint64_t index) { return U_BigEndian(bytes + tableAt + index * offsetSize, offsetSize); };
  // The references held by the container at offset, or false when it is none or does not fit.
  // The count of an object that has one (strings, containers) and where its contents begin.
  auto counted = [&](uint64_t at, uint64_t* next, uint64_t* count) {
    uint64_t n = bytes[at] & 0x0F;
    *next = at + 1;
    if (n == 0x0F) {
      if (*next >= tableAt || (bytes[*next] >> 4) != 0x1) return false;
      const int width = 1 << (bytes[*next] & 0x0F);
      if (width > 8 || *next + 1 + width > tableAt) return false;
      n = U_BigEndian(bytes + *next + 1, width);
      *next += 1 + width;
    }
    *count = n;
    return true;
  };
  // libplist stops the program (an assertion) on a string or key holding a NUL character.
  for (uint64_t index = 0; index < count; ++index) {
    const uint64_t at = offsetOf(index);
    if (at < 8 || at >= tableAt) return false;
    const int kind = bytes[at] >> 4;
    if (kind != 0x5 && kind != 0x6) continue;
    uint64_t next = 0, n = 0;
    if (!counted(at, &next, &n)) return false;
    const uint64_t unit = kind == 0x5 ? 1 : 2;
    if (n > (tableAt - next) / unit) return false;
    for (uint64_t i = 0; i < n; ++i)
      if (bytes[next + i * unit] == 0 && (unit == 1 || bytes[next + i * unit + 1] == 0)) return false;
  }
  auto children = [&](uint64_t at, uint64_t* first, uint64_t* number) {
    if (at >= tableAt) return false;
    const int kind = bytes[at] >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xB && kind != 0xD) {
      *number = 0;
      return true;
    }
    uint64_t n = 0, next = 0;
    if (!counted(at, &next, &n)) return false;
    if (kind == 0xD) {
      if (n > (tableAt - next) / 2) return false;
      n *= 2;
    }
    if (n > (tableAt - next) / static_cast<uint64_t>(refSize)) return false;
    *first = next;
    *number = n;
    return true;
  };
  // Depth-first with an explicit stack: 0 unseen, 1 on the stack, 2 done (with its depth).
  std::vector<uint8_t> state(count, 0);
  std::vector<uint16_t> depthOf(count, 0);
  struct Frame {
    uint64_t index, first, number, next;
    uint16_t deepest;
  };
  std::vector<Frame> stack;
  auto enter = [&](uint64_t index) {
    uint64_t first = 0, number = 0;
    if (!children(offsetOf(index), &first, &number)) return false;
    state[index] = 1;
    stack.push_back({index, first, number, 0, 0});
    return stack.size() <= static_cast<size_t>(kSafeFile_MaxNesting);
  };
  if (!enter(top)) return false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.number) {
      depthOf[frame.index] = static_cast<uint16_t>(frame.deepest + 1);
      state[frame.index] = 2;
      const uint16_t done = depthOf[frame.index];
      stack.pop_back();
      if (!stack.empty()) stack.back().deepest = std::max(stack.back().deepest, done);
      continue;
    }
    const uint64_t child = U_BigEndian(bytes + frame.first + frame.next * refSize, refSize);
    ++frame.next;
    if (child >= count || state[child] == 1) return false;
    if (state[child] == 2) {
      frame.deepest = std::max(frame.deepest, depthOf[child]);
      if (stack.size() + depthOf[child] > static_cast<size_t>(kSafeFile_MaxNesting)) return false;
      continue;
    }
    if (!enter(child)) return false;
  }
  return true;
}

// A NUL character in XML text, written or as a character reference ("&#0;", "&#x00;").
bool U_XMLHoldsNul(const QByteArray& data) {
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

// Whether data may go to the parser: libplist builds (and frees) its trees recursively, so a file nested
// deep enough would run it out of stack, and it stops the program on a NUL inside a string.
bool U_MayBeParsed(const QByteArray& data) {
  if (data.startsWith("bplist00")) return U_BinaryNestingIsSound(data);
  return !U_XMLHoldsNul(data) && U_XMLNesting(data) <= kSafeFile_MaxNesting;
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
  if (data.isEmpty() || !U_MayBeParsed(data)) return {};
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
  return SafeFile_Replace(path, bytes, errorText);
}
