#pragma once
// Type-safe printf-style formatting with the object conversion "%@".
//
// The format is parsed here and every conversion is rendered by our own code: no format string ever
// reaches the C library, so a format read from a file, a missing argument or an argument of the wrong
// type yields a defined text instead of undefined behaviour.

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

// Anything with a description() returning QString can be passed to "%@".
template <typename T>
concept FmtDescribable = requires(const T& t) {
  { t.description() } -> std::convertible_to<QString>;
};

class FmtArg {
 public:
  enum class Kind { Signed, Unsigned, Double, String, Null };

  FmtArg(char v) : m_kind(Kind::Signed), m_int(v) {}
  FmtArg(signed char v) : m_kind(Kind::Signed), m_int(v) {}
  FmtArg(short v) : m_kind(Kind::Signed), m_int(v) {}
  FmtArg(int v) : m_kind(Kind::Signed), m_int(v) {}
  FmtArg(long v) : m_kind(Kind::Signed), m_int(v) {}
  FmtArg(long long v) : m_kind(Kind::Signed), m_int(v) {}
  FmtArg(unsigned char v) : m_kind(Kind::Unsigned), m_uint(v) {}
  FmtArg(unsigned short v) : m_kind(Kind::Unsigned), m_uint(v) {}
  FmtArg(unsigned int v) : m_kind(Kind::Unsigned), m_uint(v) {}
  FmtArg(unsigned long v) : m_kind(Kind::Unsigned), m_uint(v) {}
  FmtArg(unsigned long long v) : m_kind(Kind::Unsigned), m_uint(v) {}
  // A BOOL printed with %d gives 1 or 0, as with the C conversions.
  FmtArg(bool v) : m_kind(Kind::Signed), m_int(v ? 1 : 0) {}
  FmtArg(float v) : m_kind(Kind::Double), m_double(v) {}
  FmtArg(double v) : m_kind(Kind::Double), m_double(v) {}
  FmtArg(const QString& v) : m_kind(Kind::String), m_string(v) {}
  FmtArg(const char* v);
  FmtArg(const std::string& v) : m_kind(Kind::String), m_string(QString::fromStdString(v)) {}
  FmtArg(std::string_view v)
      : m_kind(Kind::String), m_string(QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()))) {}
  FmtArg(const QByteArray& v) : m_kind(Kind::String), m_string(QString::fromUtf8(v)) {}
  FmtArg(const QStringList& v);
  FmtArg(const QUrl& v);
  FmtArg(const QDateTime& v);
  FmtArg(const QVariant& v);
  FmtArg(const QVariantMap& v) : FmtArg(QVariant(v)) {}
  FmtArg(const QVariantList& v) : FmtArg(QVariant(v)) {}
  FmtArg(std::nullptr_t) : m_kind(Kind::Null) {}
  template <FmtDescribable T>
  FmtArg(const T& v) : m_kind(Kind::String), m_string(v.description()) {}
  template <FmtDescribable T>
  FmtArg(const std::shared_ptr<T>& v) : m_kind(v ? Kind::String : Kind::Null) {
    if (v) m_string = v->description();
  }

  Kind kind() const { return m_kind; }
  long long asSigned() const;
  unsigned long long asUnsigned() const;
  double asDouble() const;
  // The text "%@" shows: numbers in their shortest form, null as "(null)".
  QString description() const;

 private:
  Kind m_kind;
  long long m_int = 0;
  unsigned long long m_uint = 0;
  double m_double = 0.0;
  QString m_string;
};

QString FmtList(const QString& format, std::initializer_list<FmtArg> args);

template <typename... Args>
QString Fmt(const QString& format, const Args&... args) {
  return FmtList(format, {FmtArg(args)...});
}

// The description "%@" gives of a property-list value (strings as is, numbers, dates, containers).
QString Fmt_DescribeVariant(const QVariant& value);
