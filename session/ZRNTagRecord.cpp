#include "session/ZRNTagRecord.h"

#include "session/ZRNGoalTag.h"
#include "session/ZRNMatchPeriod.h"

#include <cmath>

QVariantMap TagRecord_MakePoint(const QString& title, int64_t millis) {
  return QVariantMap{{kTagRecord_TitleKey, title}, {kTagRecord_MillisKey, QVariant::fromValue<qint64>(millis)}};
}

QVariantMap TagRecord_MakePeriod(const ZRNMatchPeriod& period) {
  QVariantMap record = period.dictToSave();
  record.insert(kTagRecord_TitleKey, kTagRecord_MatchPeriod);
  return record;
}

QVariantMap TagRecord_MakeGoal(const ZRNGoalTag& goal) {
  QVariantMap record = goal.dictToSave();
  record.insert(kTagRecord_TitleKey, kTagRecord_TeamGoal);
  return record;
}

QString TagRecord_Title(const QVariantMap& record) {
  QString title;
  Settings_ReadString(record.value(kTagRecord_TitleKey), &title);
  return title;
}

namespace {

// What kind of number a stored value holds.
enum class NumberKind { None, Bool, Signed, Unsigned, Real };

NumberKind U_NumberKind(const QVariant& value) {
  if (!value.isValid()) return NumberKind::None;
  switch (value.metaType().id()) {
    case QMetaType::Bool:
      return NumberKind::Bool;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
      return NumberKind::Signed;
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
      return NumberKind::Unsigned;
    case QMetaType::Float:
    case QMetaType::Double:
      return NumberKind::Real;
    default:
      return NumberKind::None;
  }
}

}  // namespace

bool Settings_ReadInteger(const QVariant& value, int64_t* out) {
  switch (U_NumberKind(value)) {
    case NumberKind::Bool:
      *out = value.toBool() ? 1 : 0;
      return true;
    case NumberKind::Signed:
    case NumberKind::Unsigned:
      // Unsigned values above the signed range wrap, as a 64-bit integer read of them would.
      *out = static_cast<int64_t>(value.toLongLong());
      return true;
    case NumberKind::Real: {
      const double d = std::trunc(value.toDouble());
      // The range check keeps the conversion defined; NaN fails it as well.
      if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
      *out = static_cast<int64_t>(d);
      return true;
    }
    case NumberKind::None:
      break;
  }
  return false;
}

bool TagRecord_ReadMillis(const QVariant& value, int64_t* out) {
  int64_t millis = 0;
  switch (U_NumberKind(value)) {
    case NumberKind::Signed:
      millis = value.toLongLong();
      break;
    case NumberKind::Unsigned:
      if (value.toULongLong() > static_cast<qulonglong>(kTagRecord_MaxMillis)) return false;
      millis = static_cast<int64_t>(value.toULongLong());
      break;
    case NumberKind::Real: {
      const double d = std::round(value.toDouble());
      // Also false for NaN and the infinities.
      if (!(std::fabs(d) <= static_cast<double>(kTagRecord_MaxMillis))) return false;
      millis = static_cast<int64_t>(d);
      break;
    }
    case NumberKind::Bool:
    case NumberKind::None:
      return false;
  }
  if (millis > kTagRecord_MaxMillis || millis < -kTagRecord_MaxMillis) return false;
  *out = millis;
  return true;
}

bool Settings_ReadDouble(const QVariant& value, double* out) {
  switch (U_NumberKind(value)) {
    case NumberKind::Bool:
      *out = value.toBool() ? 1.0 : 0.0;
      return true;
    case NumberKind::Signed:
      *out = static_cast<double>(value.toLongLong());
      return true;
    case NumberKind::Unsigned:
      *out = static_cast<double>(value.toULongLong());
      return true;
    case NumberKind::Real:
      *out = value.toDouble();
      return true;
    case NumberKind::None:
      break;
  }
  return false;
}

bool Settings_ReadBool(const QVariant& value, bool* out) {
  if (value.isValid() && value.metaType().id() == QMetaType::Bool) {
    *out = value.toBool();
    return true;
  }
  double d = 0;
  if (!Settings_ReadDouble(value, &d)) return false;
  *out = d != 0.0;
  return true;
}

bool Settings_ReadString(const QVariant& value, QString* out) {
  if (!value.isValid() || value.metaType().id() != QMetaType::QString) return false;
  *out = value.toString();
  return true;
}
