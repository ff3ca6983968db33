#pragma once
// Periods and goals made in one line, for tests that build a match's marks.

#include "session/ZRNGoalTag.h"
#include "session/ZRNMatchPeriod.h"

#include <cstdint>

inline ZRNMatchPeriod TestMarks_Period(int64_t id, int64_t start, int64_t end) {
  ZRNMatchPeriod period(id);
  period.setStartMillis(start);
  period.setEndMillis(end);
  return period;
}

inline ZRNGoalTag TestMarks_Goal(int64_t team, int64_t millis) {
  ZRNGoalTag goal;
  goal.setTeamNum(team);
  goal.setEventMillis(millis);
  return goal;
}
