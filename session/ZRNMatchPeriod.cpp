#include "session/ZRNMatchPeriod.h"

#include "session/ZRNTagRecord.h"

ZRNMatchPeriod::ZRNMatchPeriod(const QVariantMap& dictionary) {
  Settings_ReadInteger(dictionary.value(QLatin1String(kMatchPeriod_IDKey)), &m_periodID);
  TagRecord_ReadMillis(dictionary.value(QLatin1String(kMatchPeriod_StartKey)), &m_startMillis);
  TagRecord_ReadMillis(dictionary.value(QLatin1String(kMatchPeriod_EndKey)), &m_endMillis);
}

QVariantMap ZRNMatchPeriod::dictToSave() const {
  QVariantMap dict;
  dict.insert(QLatin1String(kMatchPeriod_IDKey), QVariant::fromValue<qint64>(m_periodID));
  if (m_startMillis >= 0) dict.insert(QLatin1String(kMatchPeriod_StartKey), QVariant::fromValue<qint64>(m_startMillis));
  if (m_endMillis >= 0) dict.insert(QLatin1String(kMatchPeriod_EndKey), QVariant::fromValue<qint64>(m_endMillis));
  return dict;
}
