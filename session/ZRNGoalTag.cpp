#include "session/ZRNGoalTag.h"

#include "session/ZRNTagRecord.h"

ZRNGoalTag::ZRNGoalTag(const QVariantMap& dictionary) {
  Settings_ReadInteger(dictionary.value(QLatin1String(kGoalTag_TeamKey)), &m_teamNum);
  TagRecord_ReadMillis(dictionary.value(QLatin1String(kGoalTag_MillisKey)), &m_eventMillis);
}

QVariantMap ZRNGoalTag::dictToSave() const {
  QVariantMap dict;
  dict.insert(QLatin1String(kGoalTag_TeamKey), QVariant::fromValue<qint64>(m_teamNum));
  if (m_eventMillis >= 0) dict.insert(QLatin1String(kGoalTag_MillisKey), QVariant::fromValue<qint64>(m_eventMillis));
  return dict;
}
