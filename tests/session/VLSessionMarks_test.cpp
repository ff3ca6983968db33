#include "session/VLSessionMarks.h"

#include "common/ZRNJSONBridge.h"
#include "session/MatchMarksTestSupport.h"
#include "session/ZRNTagRecord.h"


#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>
#include <vector>

// Tag records print as their JSON in failure messages.
static void PrintTo(const QVariantMap& record, std::ostream* os) { *os << JSON_CFDataFromCF(record).simplified().toStdString(); }

namespace {

using Step = std::function<void(VLSessionMarks&)>;
using Tags = QList<QVariantMap>;

Step In(int64_t ms) { return [=](VLSessionMarks& m) { m.setInPoint(ms); }; }
Step Out(int64_t ms) { return [=](VLSessionMarks& m) { m.setOutPoint(ms); }; }
Step ClearIn() { return [](VLSessionMarks& m) { m.clearInPoint(); }; }
Step ClearOut() { return [](VLSessionMarks& m) { m.clearOutPoint(); }; }
Step Start(int64_t id, int64_t ms) { return [=](VLSessionMarks& m) { m.setPeriodStart(id, ms); }; }
Step End(int64_t id, int64_t ms) { return [=](VLSessionMarks& m) { m.setPeriodEnd(id, ms); }; }
Step Goal(int64_t team, int64_t ms) { return [=](VLSessionMarks& m) { m.addGoal(team, ms); }; }

QVariantMap InRec(int64_t ms) { return TagRecord_MakePoint(kTagRecord_InPoint, ms); }
QVariantMap OutRec(int64_t ms) { return TagRecord_MakePoint(kTagRecord_OutPoint, ms); }
QVariantMap PeriodRec(int64_t id, int64_t start, int64_t end) { return TagRecord_MakePeriod(TestMarks_Period(id, start, end)); }
QVariantMap GoalRec(int64_t team, int64_t ms) { return TagRecord_MakeGoal(TestMarks_Goal(team, ms)); }

QVariantList AsList(const Tags& tags) {
  QVariantList list;
  for (const QVariantMap& tag : tags) list.append(tag);
  return list;
}

struct PeriodTimes {
  int64_t id, start, end;
  bool operator==(const PeriodTimes&) const = default;
};
std::vector<PeriodTimes> Times(const QList<ZRNMatchPeriod>& periods) {
  std::vector<PeriodTimes> times;
  for (const ZRNMatchPeriod& p : periods) times.push_back({p.periodID(), p.startMillis(), p.endMillis()});
  return times;
}
void PrintTo(const PeriodTimes& p, std::ostream* os) { *os << p.id << ":" << p.start << "-" << p.end; }

// Marks kept on a document of their own.
struct Marked {
  std::shared_ptr<VLDocument> doc = std::make_shared<VLDocument>();
  VLSessionMarks marks{doc};
  void run(const std::vector<Step>& steps) {
    for (const Step& step : steps) step(marks);
  }
};

}  // namespace

TEST(SessionMarks, InAndOutPointsKeepAClipBetweenThem) {
  const struct {
    const char* name;
    std::vector<Step> steps;
    int64_t in, out;
    Tags tags;
  } cases[] = {
      {"in then a later out", {In(1000), Out(4000)}, 1000, 4000, {InRec(1000), OutRec(4000)}},
      {"out before the in clears the in", {In(5000), Out(3000)}, -1, 3000, {OutRec(3000)}},
      {"out at the in clears the in", {In(2000), Out(2000)}, -1, 2000, {OutRec(2000)}},
      {"in at the out clears the out", {Out(8000), In(8000)}, 8000, -1, {InRec(8000)}},
      {"in after the out clears the out", {Out(3000), In(5000)}, 5000, -1, {InRec(5000)}},
      {"out at 0 before an in at 0", {In(0), Out(0)}, -1, 0, {OutRec(0)}},
      {"a point set again moves to the end", {In(1000), Out(4000), In(2000)}, 2000, 4000, {OutRec(4000), InRec(2000)}},
      {"clearing the in leaves the out", {In(1000), Out(4000), ClearIn()}, -1, 4000, {OutRec(4000)}},
      {"clearing what is not set changes nothing", {Out(4000), ClearIn()}, -1, 4000, {OutRec(4000)}},
      {"clearing both", {In(1000), Out(4000), ClearOut(), ClearIn()}, -1, -1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Marked m;
    m.run(c.steps);
    EXPECT_EQ(m.marks.inTimeMillis(), c.in);
    EXPECT_EQ(m.marks.outTimeMillis(), c.out);
    EXPECT_EQ(m.doc->tagsArray(), c.tags);
  }
}

TEST(SessionMarks, APeriodEndNeverPrecedesItsStart) {
  const struct {
    const char* name;
    std::vector<Step> steps;
    std::vector<PeriodTimes> periods;
    Tags tags;
  } cases[] = {
      {"start then a later end", {Start(1, 1000), End(1, 2000)}, {{1, 1000, 2000}}, {PeriodRec(1, 1000, 2000)}},
      {"a start after the end clears the end", {End(1, 30000), Start(1, 60000)}, {{1, 60000, -1}}, {PeriodRec(1, 60000, -1)}},
      {"an end at the start clears the start", {Start(2, 5000), End(2, 5000)}, {{2, -1, 5000}}, {PeriodRec(2, -1, 5000)}},
      {"an end before the start clears the start", {Start(1, 5000), End(1, 100)}, {{1, -1, 100}}, {PeriodRec(1, -1, 100)}},
      {"each period has one record, the changed one last",
       {Start(1, 1000), Start(2, 50000), End(1, 45000)},
       {{1, 1000, 45000}, {2, 50000, -1}},
       {PeriodRec(2, 50000, -1), PeriodRec(1, 1000, 45000)}},
      {"periods are independent of each other", {Start(2, 1000), End(1, 500)}, {{2, 1000, -1}, {1, -1, 500}},
       {PeriodRec(2, 1000, -1), PeriodRec(1, -1, 500)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Marked m;
    m.run(c.steps);
    EXPECT_EQ(Times(m.marks.matchPeriods()), c.periods);
    EXPECT_EQ(m.doc->tagsArray(), c.tags);
  }
}

TEST(SessionMarks, AUniqueTagReplacesOnlyItsOwnKind) {
  const QVariantMap unnumbered{{kTagRecord_TitleKey, kTagRecord_MatchPeriod}};
  const struct {
    const char* name;
    Tags before;
    QVariantMap record;
    bool add;
    Tags after;
  } cases[] = {
      {"an in point replaces the in point", {InRec(1), OutRec(2)}, InRec(3), true, {OutRec(2), InRec(3)}},
      {"only the first of two stored in points goes", {InRec(1), InRec(2)}, InRec(3), true, {InRec(2), InRec(3)}},
      {"without add the old record only goes", {InRec(1), OutRec(2)}, OutRec(9), false, {InRec(1)}},
      {"a goal replaces no goal", {GoalRec(1, 5)}, GoalRec(1, 5), true, {GoalRec(1, 5), GoalRec(1, 5)}},
      {"a period replaces the period of its number", {PeriodRec(1, 1, 2), PeriodRec(2, 3, 4)}, PeriodRec(2, 5, -1), true,
       {PeriodRec(1, 1, 2), PeriodRec(2, 5, -1)}},
      {"a stored period without a number is not of any number", {unnumbered, PeriodRec(1, 1, 2)}, PeriodRec(1, 7, -1), true,
       {unnumbered, PeriodRec(1, 7, -1)}},
      {"a period without a number replaces the first period", {PeriodRec(2, 3, 4), PeriodRec(1, 1, 2)}, unnumbered, true,
       {PeriodRec(1, 1, 2), unnumbered}},
      {"a kind not in the list is only added", {GoalRec(2, 1)}, OutRec(4), true, {GoalRec(2, 1), OutRec(4)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Marked m;
    m.doc->tagsArray() = c.before;
    m.marks.updateUniqueTag(c.record, c.add);
    EXPECT_EQ(m.doc->tagsArray(), c.after);
  }
}

TEST(SessionMarks, WithoutADocumentTheMarksChangeAlone) {
  VLSessionMarks marks;
  marks.setInPoint(4000);
  marks.setOutPoint(3000);
  marks.setPeriodStart(1, 10);
  marks.addGoal(2, 20);
  EXPECT_EQ(marks.inTimeMillis(), -1);
  EXPECT_EQ(marks.outTimeMillis(), 3000);
  EXPECT_EQ(marks.matchPeriods().size(), 1);
  EXPECT_EQ(marks.teamGoals().size(), 1);
  EXPECT_EQ(marks.previousMarkMillis(5000, 9000), std::optional<int64_t>(0));
  EXPECT_EQ(marks.nextMarkMillis(5000, 9000), std::optional<int64_t>(9000));
}

TEST(SessionMarks, ASelectionSetsBothPointsHeldToTheMovie) {
  const struct {
    const char* name;
    int64_t start, duration, movieEnd;
    bool pastEnd;
    int64_t out;
  } cases[] = {
      {"inside the movie", 2000, 3000, 10000, false, 5000},
      {"reaching the end exactly", 7000, 3000, 10000, true, 10000},
      {"past the end", 8000, 5000, 10000, true, 10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Marked m;
    m.run({Out(1000), Goal(1, 1)});
    EXPECT_EQ(m.marks.setSelection(c.start, c.duration, c.movieEnd), c.pastEnd);
    EXPECT_EQ(m.marks.inTimeMillis(), c.start);
    EXPECT_EQ(m.marks.outTimeMillis(), c.out);
    // No order rule here: the old out point before the start is replaced, not a reason to drop the in.
    EXPECT_EQ(m.doc->tagsArray(), (Tags{GoalRec(1, 1), InRec(c.start), OutRec(c.out)}));
  }
}

TEST(SessionMarks, PreviousAndNextGoToTheNearestTimedRecordWithinTheMovie) {
  using Opt = std::optional<int64_t>;
  const Tags inAndOut{InRec(2000), PeriodRec(1, 3000, 4000), GoalRec(1, 6000), OutRec(9000)};
  const struct {
    const char* name;
    Tags tags;
    int64_t now, end;
    Opt previous, next;
  } cases[] = {
      {"between the points", inAndOut, 5000, 10000, 2000, 9000},
      {"on a point it is not the nearest", inAndOut, 2000, 10000, 0, 9000},
      {"before the first point", inAndOut, 1000, 10000, 0, 2000},
      {"after the last point next is the end", inAndOut, 9500, 10000, 9000, 10000},
      {"at the end", inAndOut, 10000, 10000, 9000, 10000},
      {"no timed record: start and end", {GoalRec(1, 5000), PeriodRec(1, 100, 200)}, 5000, 10000, 0, 10000},
      {"a mark beyond the end stays put", {InRec(2000), OutRec(15000)}, 9500, 10000, 2000, std::nullopt},
      {"the nearest previous beyond the end stays put", {OutRec(15000)}, 20000, 10000, std::nullopt, 10000},
      {"a real time rounds", {{{kTagRecord_TitleKey, kTagRecord_InPoint}, {kTagRecord_MillisKey, 2500.9}}}, 4000, 10000,
       2501, 10000},
      {"an unreadable time is no mark", {{{kTagRecord_TitleKey, kTagRecord_InPoint}, {kTagRecord_MillisKey, "2500"}}}, 4000,
       10000, 0, 10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Marked m;
    m.doc->tagsArray() = c.tags;
    EXPECT_EQ(m.marks.previousMarkMillis(c.now, c.end), c.previous);
    EXPECT_EQ(m.marks.nextMarkMillis(c.now, c.end), c.next);
  }
}

TEST(SessionMarks, LoadingSetsThePointsAgainAndTakesPeriodsAndGoalsAsSaved) {
  const QVariantMap realIn{{kTagRecord_TitleKey, kTagRecord_InPoint}, {kTagRecord_MillisKey, 1234.7}};
  const QVariantMap textOut{{kTagRecord_TitleKey, kTagRecord_OutPoint}, {kTagRecord_MillisKey, "9000"}};
  const struct {
    const char* name;
    Tags stored;
    bool touched;
    int64_t in, out;
    std::vector<PeriodTimes> periods;
    int goals;
    Tags after;
  } cases[] = {
      {"the points move to the end in the order read",
       {OutRec(9000), GoalRec(2, 4000), InRec(3000), PeriodRec(1, 1000, -1)},
       true, 3000, 9000, {{1, 1000, -1}}, 1,
       {GoalRec(2, 4000), PeriodRec(1, 1000, -1), OutRec(9000), InRec(3000)}},
      {"a stored pair in the wrong order keeps the later read", {InRec(7000), OutRec(2000)}, true, -1, 2000, {}, 0, {OutRec(2000)}},
      {"a real time rounds to the nearest millisecond", {realIn}, true, 1235, -1, {}, 0, {InRec(1235)}},
      {"an unreadable time is left alone", {textOut, GoalRec(1, 1)}, false, -1, -1, {}, 1, {textOut, GoalRec(1, 1)}},
      // Opening a session again must not move it: it used to go 1 ms toward zero at every open.
      {"a negative time stays where it is", {InRec(-5)}, true, -5, -1, {}, 0, {InRec(-5)}},
      {"a period stored twice: the later wins", {PeriodRec(2, 1, 2), PeriodRec(2, 5, -1)}, false, -1, -1, {{2, 5, -1}}, 0,
       {PeriodRec(2, 1, 2), PeriodRec(2, 5, -1)}},
      {"no tags", {}, false, -1, -1, {}, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Marked m;
    m.doc->tagsArray() = c.stored;
    EXPECT_EQ(m.marks.loadTags(AsList(c.stored)), c.touched);
    EXPECT_EQ(m.marks.inTimeMillis(), c.in);
    EXPECT_EQ(m.marks.outTimeMillis(), c.out);
    EXPECT_EQ(Times(m.marks.matchPeriods()), c.periods);
    EXPECT_EQ(m.marks.teamGoals().size(), c.goals);
    EXPECT_EQ(m.doc->tagsArray(), c.after);
  }
}

TEST(SessionMarks, TimesBeyondTheRangeCountAsAbsentAndSurviveASave) {
  // Such times used to come back as -2^63 from a double cast without a range check.
  const struct {
    const char* name;
    QVariant stored;
    int64_t in;
  } cases[] = {
      {"1e300", 1e300, -1},
      {"-1e300", -1e300, -1},
      {"2^63 - 1 as an integer", QVariant::fromValue<qint64>(std::numeric_limits<qint64>::max()), -1},
      {"-2^63 as an integer", QVariant::fromValue<qint64>(std::numeric_limits<qint64>::min()), -1},
      {"2^64 - 1 unsigned", QVariant::fromValue<quint64>(std::numeric_limits<quint64>::max()), -1},
      {"infinity", std::numeric_limits<double>::infinity(), -1},
      {"NaN", std::numeric_limits<double>::quiet_NaN(), -1},
      {"the largest time", QVariant::fromValue<qint64>(kTagRecord_MaxMillis), kTagRecord_MaxMillis},
      {"a real just below a half", 7.4999, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QVariantMap stored{{kTagRecord_TitleKey, kTagRecord_InPoint}, {kTagRecord_MillisKey, c.stored}};
    const QVariantMap period{{kTagRecord_TitleKey, kTagRecord_MatchPeriod}, {QStringLiteral("periodID"), 1},
                             {QStringLiteral("periodStart"), c.stored}};
    const QVariantMap goal{{kTagRecord_TitleKey, kTagRecord_TeamGoal}, {QStringLiteral("teamNum"), 2},
                           {QStringLiteral("eventMillis"), c.stored}};
    Marked m;
    m.doc->tagsArray() = {stored, period, goal};
    m.marks.loadTags(AsList(m.doc->tagsArray()));
    EXPECT_EQ(m.marks.inTimeMillis(), c.in);
    ASSERT_EQ(m.marks.matchPeriods().size(), 1);
    EXPECT_EQ(m.marks.matchPeriods().first().startMillis(), c.in);
    ASSERT_EQ(m.marks.teamGoals().size(), 1);
    EXPECT_EQ(m.marks.teamGoals().first().eventMillis(), c.in);
    // What the file held is saved as it was, or as the point it became; never as another time.
    for (const QVariantMap& record : m.doc->tagsArray()) {
      if (TagRecord_Title(record) != kTagRecord_InPoint) continue;
      const QVariant saved = record.value(kTagRecord_MillisKey);
      if (c.in >= 0) EXPECT_EQ(saved.toLongLong(), c.in);
      else EXPECT_EQ(JSON_CFDataFromCF(QVariantList{saved}), JSON_CFDataFromCF(QVariantList{c.stored}));
    }
  }
}

TEST(SessionMarks, TensOfThousandsOfStoredMarksLoadInOnePass) {
  // 20000 in and out points and 20000 goals: the points end as the rules say, one record each.
  Marked m;
  Tags stored;
  for (int i = 0; i < 20000; ++i) {
    stored << InRec(1000 + i) << OutRec(500 + i) << GoalRec(1 + i % 2, i);
  }
  m.doc->tagsArray() = stored;
  EXPECT_TRUE(m.marks.loadTags(AsList(stored)));
  // Each out point lies before the in point read just before it, so only the last out point stays.
  EXPECT_EQ(m.marks.inTimeMillis(), -1);
  EXPECT_EQ(m.marks.outTimeMillis(), 500 + 19999);
  EXPECT_EQ(m.marks.teamGoals().size(), 20000);
  const Tags& after = m.doc->tagsArray();
  ASSERT_EQ(after.size(), 20001);
  EXPECT_EQ(after.last(), OutRec(500 + 19999));
}
