#pragma once
// One goal: the team that scored (1 home team, 2 guest team) and its time in milliseconds from the
// start of the recorded movie; -1 means not set.

#include <QVariantMap>

#include <cstdint>

inline constexpr const char* kGoalTag_TeamKey = "teamNum";
inline constexpr const char* kGoalTag_MillisKey = "eventMillis";

class ZRNGoalTag {
 public:
  ZRNGoalTag() = default;
  // The inverse of dictToSave(): keys that are absent (or not numbers) leave -1.
  explicit ZRNGoalTag(const QVariantMap& dictionary);

  int64_t teamNum() const { return m_teamNum; }
  void setTeamNum(int64_t teamNum) { m_teamNum = teamNum; }
  int64_t eventMillis() const { return m_eventMillis; }
  void setEventMillis(int64_t millis) { m_eventMillis = millis; }

  // {"teamNum"} always, "eventMillis" only when set (0 or more).
  QVariantMap dictToSave() const;

 private:
  int64_t m_teamNum = -1;
  int64_t m_eventMillis = -1;
};
