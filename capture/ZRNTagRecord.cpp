#include "capture/ZRNTagRecord.h"

#include "capture/ZRNGoalTag.h"
#include "capture/ZRNMatchPeriod.h"

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

bool Settings_ReadInteger(const QVariant& value, int64_t* out) {
  if (!value.isValid()) return false;
  switch (value.metaType().id()) {
    case QMetaType::Bool:
      *out = value.toBool() ? 1 : 0;
      return true;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
      // Unsigned values above the signed range wrap, as a 64-bit integer read of them would.
      *out = static_cast<int64_t>(value.toLongLong());
      return true;
    case QMetaType::Float:
    case QMetaType::Double: {
      const double d = std::trunc(value.toDouble());
      // The range check keeps the conversion defined; NaN fails it as well.
      if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
      *out = static_cast<int64_t>(d);
      return true;
    }
    default:
      return false;
  }
}

bool Settings_ReadDouble(const QVariant& value, double* out) {
  if (!value.isValid()) return false;
  switch (value.metaType().id()) {
    case QMetaType::Bool:
      *out = value.toBool() ? 1.0 : 0.0;
      return true;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
      *out = static_cast<double>(value.toLongLong());
      return true;
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
      *out = static_cast<double>(value.toULongLong());
      return true;
    case QMetaType::Float:
    case QMetaType::Double:
      *out = value.toDouble();
      return true;
    default:
      return false;
  }
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
