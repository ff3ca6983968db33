#pragma once
// One match period: its number (1 first period, 2 second period) and its start and end in
// milliseconds from the start of the recorded movie; -1 means not set.

#include <QVariantMap>

#include <cstdint>

inline constexpr const char* kMatchPeriod_IDKey = "periodID";
inline constexpr const char* kMatchPeriod_StartKey = "periodStart";
inline constexpr const char* kMatchPeriod_EndKey = "periodEnd";

class ZRNMatchPeriod {
 public:
  ZRNMatchPeriod() = default;
  explicit ZRNMatchPeriod(int64_t periodID) : m_periodID(periodID) {}
  // The inverse of dictToSave(): keys that are absent (or not numbers) leave -1.
  explicit ZRNMatchPeriod(const QVariantMap& dictionary);

  int64_t periodID() const { return m_periodID; }
  void setPeriodID(int64_t periodID) { m_periodID = periodID; }
  int64_t startMillis() const { return m_startMillis; }
  void setStartMillis(int64_t millis) { m_startMillis = millis; }
  int64_t endMillis() const { return m_endMillis; }
  void setEndMillis(int64_t millis) { m_endMillis = millis; }

  // {"periodID"} always (-1 included), "periodStart" and "periodEnd" only when set (0 or more).
  QVariantMap dictToSave() const;

 private:
  int64_t m_periodID = -1;
  int64_t m_startMillis = -1;
  int64_t m_endMillis = -1;
};
