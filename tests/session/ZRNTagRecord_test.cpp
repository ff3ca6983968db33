#include "session/ZRNTagRecord.h"

#include "common/ZRNJSONBridge.h"
#include "session/MatchMarksTestSupport.h"

#include <gtest/gtest.h>

namespace {

QVariant I(qint64 v) { return QVariant::fromValue<qint64>(v); }

}  // namespace

TEST(MatchPeriod, SavesOnlyTheTimesThatAreSet) {
  const struct {
    const char* name;
    ZRNMatchPeriod period;
    QVariantMap dict;
  } cases[] = {
      {"first period started at 0", TestMarks_Period(1, 0, -1), {{"periodID", I(1)}, {"periodStart", I(0)}}},
      {"second period never set", ZRNMatchPeriod(2), {{"periodID", I(2)}}},
      {"no ID at all", ZRNMatchPeriod(), {{"periodID", I(-1)}}},
      {"both ends", TestMarks_Period(2, 1000, 2700000), {{"periodID", I(2)}, {"periodStart", I(1000)}, {"periodEnd", I(2700000)}}},
      {"negative times are unset", TestMarks_Period(1, -5, -2), {{"periodID", I(1)}}},
      {"beyond 32 bits", TestMarks_Period(1, 3000000000LL, -1), {{"periodID", I(1)}, {"periodStart", I(3000000000LL)}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.period.dictToSave(), c.dict) << c.name;
    const ZRNMatchPeriod back(c.period.dictToSave());
    EXPECT_EQ(back.dictToSave(), c.dict) << c.name << " (read back)";
  }
}

TEST(MatchPeriod, ReadsWhatIsPresentAndLeavesTheRestUnset) {
  const struct {
    const char* name;
    QVariantMap dict;
    int64_t id, start, end;
  } cases[] = {
      {"ID only", {{"periodID", I(2)}}, 2, -1, -1},
      {"empty", {}, -1, -1, -1},
      {"everything", {{"periodID", I(1)}, {"periodStart", I(5)}, {"periodEnd", I(9)}}, 1, 5, 9},
      // A number is truncated; a time is rounded to the nearest millisecond, as every mark time is.
      {"reals", {{"periodID", 1.9}, {"periodStart", 5.5}}, 1, 6, -1},
      {"a time out of range is absent", {{"periodID", I(1)}, {"periodStart", 1e300}}, 1, -1, -1},
      {"wrong types count as absent", {{"periodID", QStringLiteral("1")}, {"periodEnd", QVariantList{}}}, -1, -1, -1},
      {"null counts as absent", {{"periodStart", QVariant::fromValue(nullptr)}}, -1, -1, -1},
  };
  for (const auto& c : cases) {
    const ZRNMatchPeriod p(c.dict);
    EXPECT_EQ(p.periodID(), c.id) << c.name;
    EXPECT_EQ(p.startMillis(), c.start) << c.name;
    EXPECT_EQ(p.endMillis(), c.end) << c.name;
  }
}

TEST(GoalTag, SavesTheTeamAlwaysAndTheTimeWhenSet) {
  EXPECT_EQ(ZRNGoalTag().dictToSave(), (QVariantMap{{"teamNum", I(-1)}}));
  EXPECT_EQ(TestMarks_Goal(1, 0).dictToSave(), (QVariantMap{{"teamNum", I(1)}, {"eventMillis", I(0)}}));
  const ZRNGoalTag back(TestMarks_Goal(2, 754).dictToSave());
  EXPECT_EQ(back.teamNum(), 2);
  EXPECT_EQ(back.eventMillis(), 754);
  const ZRNGoalTag empty{QVariantMap{}};
  EXPECT_EQ(empty.teamNum(), -1);
  EXPECT_EQ(empty.eventMillis(), -1);
}

TEST(TagRecord, RecordsAddTheirTitle) {
  const struct {
    const char* name;
    QVariantMap record;
    const char* json;
  } cases[] = {
      {"period", TagRecord_MakePeriod(TestMarks_Period(1, 0, -1)),
       "{\n    \"periodID\": 1,\n    \"periodStart\": 0,\n    \"tagTitle\": \"matchPeriod\"\n}"},
      {"goal", TagRecord_MakeGoal(TestMarks_Goal(2, 754)),
       "{\n    \"eventMillis\": 754,\n    \"tagTitle\": \"teamGoal\",\n    \"teamNum\": 2\n}"},
      {"in point", TagRecord_MakePoint(kTagRecord_InPoint, 1500),
       "{\n    \"tagMillis\": 1500,\n    \"tagTitle\": \"inPoint\"\n}"},
  };
  for (const auto& c : cases) EXPECT_EQ(JSON_CFDataFromCF(c.record).toStdString(), c.json) << c.name;
  EXPECT_EQ(TagRecord_Title(TagRecord_MakeGoal(TestMarks_Goal(1, 1))), kTagRecord_TeamGoal);
  EXPECT_EQ(TagRecord_Title(QVariantMap{{"tagTitle", 5}}), QString());
  // A period record still reads as its period.
  const ZRNMatchPeriod back(TagRecord_MakePeriod(TestMarks_Period(2, 10, 20)));
  EXPECT_EQ(back.periodID(), 2);
  EXPECT_EQ(back.endMillis(), 20);
}

TEST(SettingsValues, TypedReadsTreatOtherTypesAsAbsent) {
  const struct {
    const char* name;
    QVariant value;
    bool isInteger;
    int64_t integer;
    bool isBool, boolean;
  } cases[] = {
      {"integer", I(7), true, 7, true, true},
      {"zero", I(0), true, 0, true, false},
      {"real truncated toward zero", -2.7, true, -2, true, true},
      {"boolean", true, true, 1, true, true},
      {"unsigned", 4294967295u, true, 4294967295LL, true, true},
      {"huge real", 1e300, false, 0, true, true},
      {"string", QStringLiteral("1"), false, 0, false, false},
      {"null", QVariant::fromValue(nullptr), false, 0, false, false},
      {"absent", QVariant(), false, 0, false, false},
      {"list", QVariantList{1}, false, 0, false, false},
  };
  for (const auto& c : cases) {
    int64_t integer = 0;
    bool boolean = false;
    EXPECT_EQ(Settings_ReadInteger(c.value, &integer), c.isInteger) << c.name;
    EXPECT_EQ(integer, c.integer) << c.name;
    EXPECT_EQ(Settings_ReadBool(c.value, &boolean), c.isBool) << c.name;
    EXPECT_EQ(boolean, c.boolean) << c.name;
  }
  QString s;
  EXPECT_FALSE(Settings_ReadString(5, &s));
  EXPECT_TRUE(Settings_ReadString(QStringLiteral("x"), &s));
  EXPECT_EQ(s, QStringLiteral("x"));
}
