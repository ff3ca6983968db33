#include "session/VLSessionMarks.h"

#include "session/ZRNTagRecord.h"

#include <QHash>

namespace {

// 10^10 ms stands for "no mark after now".
constexpr int64_t kNoNextMark = 10000000000LL;

// The "tagMillis" of every timed record of the list.
template <typename Visit>
void U_ForEachTimedRecord(const VLDocument* document, Visit visit) {
  if (!document) return;
  for (const QVariantMap& record : document->tagsArray()) {
    int64_t millis = 0;
    if (TagRecord_ReadMillis(record.value(kTagRecord_MillisKey), &millis)) visit(static_cast<double>(millis));
  }
}

}  // namespace

// In and out points

void VLSessionMarks::setInPoint(int64_t millis) {
  m_inTimeMillis = millis;
  if (m_outTimeMillis >= 0 && millis >= m_outTimeMillis) clearOutPoint();
  updateUniqueTag(TagRecord_MakePoint(kTagRecord_InPoint, millis), true);
}

void VLSessionMarks::setOutPoint(int64_t millis) {
  m_outTimeMillis = millis;
  if (m_inTimeMillis >= 0 && m_inTimeMillis >= millis) clearInPoint();
  updateUniqueTag(TagRecord_MakePoint(kTagRecord_OutPoint, millis), true);
}

void VLSessionMarks::clearInPoint() {
  m_inTimeMillis = -1;
  U_RemoveTag(kTagRecord_InPoint);
}

void VLSessionMarks::clearOutPoint() {
  m_outTimeMillis = -1;
  U_RemoveTag(kTagRecord_OutPoint);
}

bool VLSessionMarks::setSelection(int64_t startMillis, int64_t durationMillis, int64_t movieEndMillis) {
  m_inTimeMillis = startMillis;
  m_outTimeMillis = startMillis + durationMillis;
  updateUniqueTag(TagRecord_MakePoint(kTagRecord_InPoint, startMillis), true);
  const bool pastEnd = startMillis + durationMillis >= movieEndMillis;
  if (pastEnd) m_outTimeMillis = movieEndMillis;
  updateUniqueTag(TagRecord_MakePoint(kTagRecord_OutPoint, m_outTimeMillis), true);
  return pastEnd;
}

void VLSessionMarks::forgetInOutPoints() {
  m_inTimeMillis = -1;
  m_outTimeMillis = -1;
}

// Periods and goals

ZRNMatchPeriod& VLSessionMarks::periodWithID(int64_t periodID) {
  for (qsizetype i = m_matchPeriods.size() - 1; i >= 0; --i)
    if (m_matchPeriods.at(i).periodID() == periodID) return m_matchPeriods[i];
  m_matchPeriods.append(ZRNMatchPeriod(periodID));
  return m_matchPeriods.last();
}

void VLSessionMarks::setPeriodStart(int64_t periodID, int64_t millis) {
  ZRNMatchPeriod& period = periodWithID(periodID);
  period.setStartMillis(millis);
  if (period.endMillis() >= 0 && period.startMillis() >= period.endMillis()) period.setEndMillis(-1);
  updateUniqueTag(TagRecord_MakePeriod(period), true);
}

void VLSessionMarks::setPeriodEnd(int64_t periodID, int64_t millis) {
  ZRNMatchPeriod& period = periodWithID(periodID);
  period.setEndMillis(millis);
  if (period.startMillis() >= 0 && period.startMillis() >= period.endMillis()) period.setStartMillis(-1);
  updateUniqueTag(TagRecord_MakePeriod(period), true);
}

void VLSessionMarks::addGoal(int64_t team, int64_t millis) {
  ZRNGoalTag goal;
  goal.setTeamNum(team);
  goal.setEventMillis(millis);
  m_teamGoals.append(goal);
  updateUniqueTag(TagRecord_MakeGoal(goal), true);
}

// The document's tag list

void VLSessionMarks::updateUniqueTag(const QVariantMap& record, bool add) {
  if (!m_document) return;
  const QString title = TagRecord_Title(record);
  int64_t periodID = -1;
  if (title == kTagRecord_MatchPeriod) Settings_ReadInteger(record.value(QString::fromLatin1(kMatchPeriod_IDKey)), &periodID);
  QList<QVariantMap>& tags = m_document->tagsArray();
  if (title != kTagRecord_TeamGoal) {
    for (qsizetype i = 0; i < tags.size(); ++i) {
      if (TagRecord_Title(tags.at(i)) != title) continue;
      if (periodID != -1) {
        int64_t storedID = -1;
        if (!Settings_ReadInteger(tags.at(i).value(QString::fromLatin1(kMatchPeriod_IDKey)), &storedID) || storedID != periodID)
          continue;
      }
      tags.removeAt(i);
      break;
    }
  }
  if (add) tags.append(record);
}

void VLSessionMarks::U_RemoveTag(const QString& title) { updateUniqueTag(QVariantMap{{kTagRecord_TitleKey, title}}, false); }

bool VLSessionMarks::loadTags(const QVariantList& tags) {
  // One pass, whatever the number of records (a damaged or hostile file may hold tens of thousands):
  // the points follow their rules as if set in the order read, periods and goals come back as saved.
  struct Point {
    int64_t millis = -1;
    bool held = false;   // its record stays in the list
    qsizetype setAt = -1;  // when it was last set, for the order of the records
  };
  Point in{m_inTimeMillis, false, -1}, out{m_outTimeMillis, false, -1};
  QHash<int64_t, qsizetype> periodAt;
  for (qsizetype i = 0; i < m_matchPeriods.size(); ++i) periodAt.insert(m_matchPeriods.at(i).periodID(), i);
  bool touched = false;
  for (qsizetype i = 0; i < tags.size(); ++i) {
    const QVariantMap record = tags.at(i).toMap();
    const QString title = TagRecord_Title(record);
    if (title == kTagRecord_OutPoint || title == kTagRecord_InPoint) {
      int64_t millis = 0;
      if (!TagRecord_ReadMillis(record.value(kTagRecord_MillisKey), &millis)) continue;
      touched = true;
      Point& point = title == kTagRecord_InPoint ? in : out;
      Point& other = title == kTagRecord_InPoint ? out : in;
      point = Point{millis, true, i};
      const bool crossed = title == kTagRecord_InPoint ? millis >= other.millis : other.millis >= millis;
      if (other.millis >= 0 && crossed) other = Point{};
    } else if (title == kTagRecord_MatchPeriod) {
      const ZRNMatchPeriod period(record);
      if (const auto at = periodAt.constFind(period.periodID()); at != periodAt.cend()) {
        m_matchPeriods[*at] = period;
      } else {
        periodAt.insert(period.periodID(), m_matchPeriods.size());
        m_matchPeriods.append(period);
      }
    } else if (title == kTagRecord_TeamGoal) {
      m_teamGoals.append(ZRNGoalTag(record));
    }
  }
  m_inTimeMillis = in.millis;
  m_outTimeMillis = out.millis;
  if (!touched || !m_document) return touched;
  // The readable point records give way to the points as they now stand, the later set last.
  QList<QVariantMap>& list = m_document->tagsArray();
  QList<QVariantMap> kept;
  kept.reserve(list.size());
  for (const QVariantMap& record : list) {
    const QString title = TagRecord_Title(record);
    int64_t millis = 0;
    const bool point = title == kTagRecord_InPoint || title == kTagRecord_OutPoint;
    if (!point || !TagRecord_ReadMillis(record.value(kTagRecord_MillisKey), &millis)) kept.append(record);
  }
  const Point* first = in.setAt <= out.setAt ? &in : &out;
  const Point* second = first == &in ? &out : &in;
  for (const Point* point : {first, second})
    if (point->held) kept.append(TagRecord_MakePoint(point == &in ? kTagRecord_InPoint : kTagRecord_OutPoint, point->millis));
  list = std::move(kept);
  return touched;
}

// Previous and next mark

std::optional<int64_t> VLSessionMarks::previousMarkMillis(int64_t nowMillis, int64_t endMillis) const {
  double best = -1.0;
  U_ForEachTimedRecord(m_document.get(), [&](double millis) {
    if (millis < static_cast<double>(nowMillis) && millis > best) best = millis;
  });
  const int64_t target = best < 0 ? 0 : static_cast<int64_t>(best);
  if (target >= 0 && target <= endMillis) return target;
  return std::nullopt;
}

std::optional<int64_t> VLSessionMarks::nextMarkMillis(int64_t nowMillis, int64_t endMillis) const {
  double best = static_cast<double>(kNoNextMark);
  U_ForEachTimedRecord(m_document.get(), [&](double millis) {
    if (millis > static_cast<double>(nowMillis) && millis < best) best = millis;
  });
  const int64_t target = best >= static_cast<double>(kNoNextMark) ? endMillis : static_cast<int64_t>(best);
  if (target < kNoNextMark && target <= endMillis) return target;
  return std::nullopt;
}
