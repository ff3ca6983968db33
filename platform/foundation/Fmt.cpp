#include "platform/foundation/Fmt.h"

#include <QLocale>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

// A width or precision larger than this is clamped: a hostile format must not allocate gigabytes.
constexpr int kMaxFieldWidth = 4096;

struct Spec {
  bool leftAlign = false;
  bool plus = false;
  bool space = false;
  bool zeroPad = false;
  bool alternate = false;
  int width = -1;
  int precision = -1;
  QChar conversion;
};

QString pad(QString body, const Spec& spec, bool numeric) {
  const int width = std::min(spec.width, kMaxFieldWidth);
  if (width <= 0 || body.size() >= width) return body;
  const qsizetype fill = width - body.size();
  if (spec.leftAlign) return body + QString(fill, QLatin1Char(' '));
  if (spec.zeroPad && numeric) {
    // Zeros go after the sign or the 0x prefix.
    qsizetype at = 0;
    if (!body.isEmpty() && (body[0] == QLatin1Char('-') || body[0] == QLatin1Char('+') ||
                            body[0] == QLatin1Char(' ')))
      at = 1;
    if (body.mid(at, 2).compare(QLatin1String("0x"), Qt::CaseInsensitive) == 0) at += 2;
    body.insert(at, QString(fill, QLatin1Char('0')));
    return body;
  }
  return QString(fill, QLatin1Char(' ')) + body;
}

QString signPrefix(bool negative, const Spec& spec) {
  if (negative) return QStringLiteral("-");
  if (spec.plus) return QStringLiteral("+");
  if (spec.space) return QStringLiteral(" ");
  return {};
}

QString formatInteger(const FmtArg& arg, const Spec& spec) {
  const QChar c = spec.conversion;
  QString digits;
  bool negative = false;
  if (c == QLatin1Char('d') || c == QLatin1Char('i')) {
    const long long v = arg.asSigned();
    negative = v < 0;
    const unsigned long long magnitude =
        negative ? static_cast<unsigned long long>(-(v + 1)) + 1ULL : static_cast<unsigned long long>(v);
    digits = QString::number(magnitude);
  } else {
    const unsigned long long v = arg.asUnsigned();
    if (c == QLatin1Char('x')) digits = QString::number(v, 16);
    else if (c == QLatin1Char('X')) digits = QString::number(v, 16).toUpper();
    else if (c == QLatin1Char('o')) digits = QString::number(v, 8);
    else digits = QString::number(v);
  }
  const int precision = std::min(spec.precision, kMaxFieldWidth);
  if (precision >= 0 && digits.size() < precision) digits.prepend(QString(precision - digits.size(), QLatin1Char('0')));
  if (spec.precision == 0 && digits == QLatin1String("0")) digits.clear();
  QString prefix;
  if (c == QLatin1Char('d') || c == QLatin1Char('i')) prefix = signPrefix(negative, spec);
  else if (spec.alternate && arg.asUnsigned() != 0) {
    if (c == QLatin1Char('x')) prefix = QStringLiteral("0x");
    else if (c == QLatin1Char('X')) prefix = QStringLiteral("0X");
    else if (c == QLatin1Char('o')) prefix = QStringLiteral("0");
  }
  Spec padSpec = spec;
  if (spec.precision >= 0) padSpec.zeroPad = false;  // as in C: a precision turns off the 0 flag
  return pad(prefix + digits, padSpec, true);
}

QString formatDouble(const FmtArg& arg, const Spec& spec) {
  const double v = arg.asDouble();
  const QChar c = spec.conversion;
  const bool upper = c.isUpper();
  if (std::isnan(v)) return pad(upper ? QStringLiteral("NAN") : QStringLiteral("nan"), spec, false);
  const bool negative = std::signbit(v);
  const double magnitude = std::fabs(v);
  if (std::isinf(v))
    return pad(signPrefix(negative, spec) + (upper ? QStringLiteral("INF") : QStringLiteral("inf")), spec, false);
  const int precision = spec.precision < 0 ? 6 : std::min(spec.precision, 400);
  char format = 'f';
  const char lower = static_cast<char>(c.toLower().toLatin1());
  if (lower == 'e') format = 'e';
  else if (lower == 'g') format = 'g';
  // std::to_chars rounds exactly as the C library does (2.5 with %.0f gives 2).
  const std::chars_format charsFormat = format == 'e'   ? std::chars_format::scientific
                                        : format == 'g' ? std::chars_format::general
                                                        : std::chars_format::fixed;
  std::array<char, 512> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, charsFormat,
                                    format == 'g' && precision == 0 ? 1 : precision);
  QString body = result.ec == std::errc() ? QString::fromLatin1(buffer.data(), result.ptr - buffer.data())
                                          : QString::number(magnitude, format, std::min(precision, 17));
  if (spec.alternate && format == 'f' && precision == 0) body += QLatin1Char('.');
  if (upper) body = body.toUpper();
  return pad(signPrefix(negative, spec) + body, spec, true);
}

QString formatString(const QString& text, const Spec& spec) {
  QString body = text;
  if (spec.precision >= 0 && body.size() > spec.precision) body.truncate(spec.precision);
  return pad(body, spec, false);
}

}  // namespace

FmtArg::FmtArg(const char* v) : m_kind(v ? Kind::String : Kind::Null) {
  if (v) m_string = QString::fromUtf8(v);
}

FmtArg::FmtArg(const QStringList& v) : FmtArg(QVariant(v)) {}

FmtArg::FmtArg(const QUrl& v) : m_kind(Kind::String), m_string(v.toString()) {}

FmtArg::FmtArg(const QDateTime& v) : m_kind(Kind::String), m_string(Fmt_DescribeVariant(QVariant(v))) {}

FmtArg::FmtArg(const QVariant& v) : m_kind(Kind::Null) {
  if (!v.isValid() || v.isNull()) return;
  switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
      m_kind = Kind::Signed;
      m_int = v.toLongLong();
      return;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
      m_kind = Kind::Unsigned;
      m_uint = v.toULongLong();
      return;
    case QMetaType::Float:
    case QMetaType::Double:
      m_kind = Kind::Double;
      m_double = v.toDouble();
      return;
    default:
      m_kind = Kind::String;
      m_string = Fmt_DescribeVariant(v);
  }
}

long long FmtArg::asSigned() const {
  switch (m_kind) {
    case Kind::Signed: return m_int;
    case Kind::Unsigned: return static_cast<long long>(m_uint);
    case Kind::Double:
      if (std::isnan(m_double)) return 0;
      if (m_double >= 9.2e18) return LLONG_MAX;
      if (m_double <= -9.2e18) return LLONG_MIN;
      return static_cast<long long>(m_double);
    case Kind::String: return m_string.trimmed().toLongLong();
    case Kind::Null: return 0;
  }
  return 0;
}

unsigned long long FmtArg::asUnsigned() const {
  switch (m_kind) {
    case Kind::Unsigned: return m_uint;
    case Kind::Signed: return static_cast<unsigned long long>(m_int);
    default: return static_cast<unsigned long long>(asSigned());
  }
}

double FmtArg::asDouble() const {
  switch (m_kind) {
    case Kind::Double: return m_double;
    case Kind::Signed: return static_cast<double>(m_int);
    case Kind::Unsigned: return static_cast<double>(m_uint);
    case Kind::String: return m_string.trimmed().toDouble();
    case Kind::Null: return 0.0;
  }
  return 0.0;
}

QString FmtArg::description() const {
  switch (m_kind) {
    case Kind::Signed: return QString::number(m_int);
    case Kind::Unsigned: return QString::number(m_uint);
    case Kind::Double: return QString::number(m_double, 'g', 15);
    case Kind::String: return m_string;
    case Kind::Null: return QStringLiteral("(null)");
  }
  return {};
}

namespace {

// The arguments in order; one the format asks for beyond the last reads as null.
class U_ArgCursor {
 public:
  explicit U_ArgCursor(std::initializer_list<FmtArg> list) : m_args(list) {}
  const FmtArg& take() { return m_next < m_args.size() ? m_args.begin()[m_next++] : m_missing; }
  int takeInt() {
    const long long v = take().asSigned();
    return static_cast<int>(std::clamp<long long>(v, -kMaxFieldWidth, kMaxFieldWidth));
  }

 private:
  // The caller's list, which lives for the whole call.
  const std::initializer_list<FmtArg> m_args;
  const FmtArg m_missing{nullptr};
  size_t m_next = 0;
};

// Flags, width and precision of the directive whose first character after the '%' is format[i]; '*'
// takes its number from the arguments. i ends past them, on a length modifier or the conversion.
Spec U_ParseSpec(const QString& format, qsizetype& i, U_ArgCursor& args) {
  const qsizetype n = format.size();
  Spec spec;
  for (; i < n; ++i) {
    const QChar f = format[i];
    if (f == QLatin1Char('-')) spec.leftAlign = true;
    else if (f == QLatin1Char('+')) spec.plus = true;
    else if (f == QLatin1Char(' ')) spec.space = true;
    else if (f == QLatin1Char('0')) spec.zeroPad = true;
    else if (f == QLatin1Char('#')) spec.alternate = true;
    else if (f == QLatin1Char('\'')) continue;
    else break;
  }
  if (i < n && format[i] == QLatin1Char('*')) {
    spec.width = args.takeInt();
    if (spec.width < 0) {
      spec.leftAlign = true;
      spec.width = -spec.width;
    }
    ++i;
  } else {
    int w = -1;
    while (i < n && format[i].isDigit()) {
      w = std::min((w < 0 ? 0 : w) * 10 + format[i].digitValue(), kMaxFieldWidth);
      ++i;
    }
    spec.width = w;
  }
  if (i < n && format[i] == QLatin1Char('.')) {
    ++i;
    if (i < n && format[i] == QLatin1Char('*')) {
      spec.precision = args.takeInt();
      ++i;
    } else {
      int p = 0;
      while (i < n && format[i].isDigit()) {
        p = std::min(p * 10 + format[i].digitValue(), kMaxFieldWidth);
        ++i;
      }
      spec.precision = p;
    }
  }
  return spec;
}

// The text of one conversion; directive is the directive as written.
QString U_Convert(const Spec& spec, U_ArgCursor& args, QStringView directive) {
  switch (spec.conversion.toLatin1()) {
    case '%': return QStringLiteral("%");
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': {
      // A text handed to an integer conversion shows itself rather than a made-up number.
      const FmtArg& a = args.take();
      return a.kind() == FmtArg::Kind::String ? formatString(a.description(), spec) : formatInteger(a, spec);
    }
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G':
      return formatDouble(args.take(), spec);
    case 'c': case 'C': {
      const FmtArg& a = args.take();
      const QChar character = a.kind() == FmtArg::Kind::String
                                  ? (a.description().isEmpty() ? QChar() : a.description()[0])
                                  : QChar(static_cast<char16_t>(a.asUnsigned() & 0xFFFF));
      return pad(character.isNull() ? QString() : QString(character), spec, false);
    }
    case 's': case 'S': case '@':
      return formatString(args.take().description(), spec);
    case 'p':
      return pad(QStringLiteral("0x") + QString::number(args.take().asUnsigned(), 16), spec, false);
    default:
      // Unknown conversion: print the directive as written and consume nothing.
      return directive.toString();
  }
}

}  // namespace

QString FmtList(const QString& format, std::initializer_list<FmtArg> argList) {
  U_ArgCursor args(argList);
  QString out;
  out.reserve(format.size() + 16);
  const qsizetype n = format.size();
  qsizetype i = 0;
  while (i < n) {
    const QChar ch = format[i];
    if (ch != QLatin1Char('%')) {
      out += ch;
      ++i;
      continue;
    }
    const qsizetype start = i++;
    if (i >= n) {  // a lone trailing '%' is printed as is
      out += QLatin1Char('%');
      break;
    }
    Spec spec = U_ParseSpec(format, i, args);
    // Length modifiers only tell the C library the argument's size; our arguments carry their type.
    while (i < n && QStringLiteral("hlqLzjt").contains(format[i])) ++i;
    if (i >= n) {
      out += format.mid(start);
      break;
    }
    spec.conversion = format[i++];
    out += U_Convert(spec, args, QStringView(format).mid(start, i - start));
  }
  return out;
}

QString Fmt_DescribeVariant(const QVariant& value) {
  if (!value.isValid() || value.isNull()) return QStringLiteral("(null)");
  switch (value.typeId()) {
    case QMetaType::QString: return value.toString();
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float: return QString::number(value.toDouble(), 'g', 15);
    case QMetaType::QDateTime: {
      const QDateTime utc = value.toDateTime().toUTC();
      return utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
    }
    case QMetaType::QUrl: return value.toUrl().toString();
    case QMetaType::QByteArray: {
      const QByteArray bytes = value.toByteArray();
      return QStringLiteral("{length = %1, bytes = 0x%2}")
          .arg(bytes.size())
          .arg(QString::fromLatin1(bytes.left(32).toHex()));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
      const QVariantList list = value.toList();
      QStringList parts;
      for (const QVariant& v : list) parts << QStringLiteral("    ") + Fmt_DescribeVariant(v);
      return QStringLiteral("(\n") + parts.join(QStringLiteral(",\n")) + QStringLiteral("\n)");
    }
    case QMetaType::QVariantMap: {
      const QVariantMap map = value.toMap();
      QStringList parts;
      for (auto it = map.cbegin(); it != map.cend(); ++it)
        parts << QStringLiteral("    %1 = %2;").arg(it.key(), Fmt_DescribeVariant(it.value()));
      return QStringLiteral("{\n") + parts.join(QLatin1Char('\n')) + QStringLiteral("\n}");
    }
    default:
      if (value.canConvert<QString>()) return value.toString();
      return QString::fromLatin1(value.typeName());
  }
}
