#include "platform/foundation/MediaTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
MediaTime T(int64_t value, int32_t timescale) { return MediaTimeMake(value, timescale); }

std::string D(const MediaTime& t) { return t.description().toStdString(); }

}  // namespace

TEST(MediaTime, MakeWithSecondsRoundsToTheNearestTick) {
  const struct {
    double seconds;
    int32_t timescale;
    int64_t value;
    bool rounded;
  } cases[] = {
      {1.5, 1000, 1500, false}, {0.0005, 1000, 1, true}, {-0.0005, 1000, -1, true}, {0.0004, 1000, 0, true}, {2.0, 1, 2, false},
      {2.5, 1, 3, true}, {-2.5, 1, -3, true}, {1.0 / 3.0, 600, 200, true}, {3725.25, 1000, 3725250, false},
  };
  for (const auto& c : cases) {
    const MediaTime t = MediaTimeMakeWithSeconds(c.seconds, c.timescale);
    EXPECT_TRUE(t.isNumeric()) << c.seconds;
    EXPECT_EQ(t.value, c.value) << c.seconds;
    EXPECT_EQ(t.timescale, c.timescale) << c.seconds;
    EXPECT_EQ(bool(t.flags & kMediaTimeFlags_HasBeenRounded), c.rounded) << c.seconds;
  }
}

TEST(MediaTime, SpecialInputs) {
  EXPECT_TRUE(MediaTimeMake(kMax, 1000).isNumeric());
  EXPECT_FALSE(MediaTimeMake(5, 0).isValid());
  EXPECT_FALSE(MediaTimeMake(5, -600).isValid());
  EXPECT_FALSE(MediaTimeMakeWithSeconds(std::nan(""), 1000).isValid());
  EXPECT_FALSE(MediaTimeMakeWithSeconds(1.0, 0).isValid());
  EXPECT_TRUE(MediaTimeMakeWithSeconds(INFINITY, 1000).isPositiveInfinity());
  EXPECT_TRUE(MediaTimeMakeWithSeconds(-INFINITY, 1000).isNegativeInfinity());
  EXPECT_TRUE(MediaTimeMakeWithSeconds(1e300, 1000).isPositiveInfinity());
  EXPECT_TRUE(MediaTimeMakeWithSeconds(-1e300, 1000).isNegativeInfinity());
}

TEST(MediaTime, SecondsOfEveryKindOfTime) {
  const struct {
    const char* name;
    MediaTime time;
    double seconds;
  } cases[] = {
      {"zero", kMediaTimeZero, 0.0},
      {"ms", T(1500, 1000), 1.5},
      {"ntsc", T(1001, 30000), 1001.0 / 30000.0},
      {"negative", T(-3, 2), -1.5},
      {"cleared mark", MediaTime_ClearedMark(), -1.0},
      {"invalid", kMediaTimeInvalid, 0.0},
      {"indefinite", kMediaTimeIndefinite, 0.0},
      {"+inf", kMediaTimePositiveInfinity, INFINITY},
      {"-inf", kMediaTimeNegativeInfinity, -INFINITY},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(MediaTimeGetSeconds(c.time), c.seconds) << c.name;
}

TEST(MediaTime, CompareOrdersNumbersAndSpecialTimes) {
  const struct {
    const char* name;
    MediaTime a, b;
    int32_t result;
  } cases[] = {
      {"same scale", T(1, 1000), T(2, 1000), -1},
      {"other scales equal", T(1, 2), T(500, 1000), 0},
      {"other scales greater", T(1001, 30000), T(33, 1000), 1},
      {"huge values exact", T(kMax, 1), T(kMax - 1, 1), 1}, {"huge against scaled", T(kMax, 1000), T(kMax, 1001), 1},
      {"negative", T(-1, 1), T(0, 1), -1},
      {"cleared mark before the start", MediaTime_ClearedMark(), T(0, 1000), -1},
      {"-inf below numbers", kMediaTimeNegativeInfinity, T(std::numeric_limits<int64_t>::min(), 1), -1},
      {"+inf above numbers", kMediaTimePositiveInfinity, T(kMax, 1), 1},
      {"+inf below indefinite", kMediaTimePositiveInfinity, kMediaTimeIndefinite, -1},
      {"+inf equal", kMediaTimePositiveInfinity, kMediaTimePositiveInfinity, 0},
      {"invalid above numbers", kMediaTimeInvalid, T(1000000, 1), 1},
      {"invalid above indefinite", kMediaTimeInvalid, kMediaTimeIndefinite, 1},
      {"invalid equal", kMediaTimeInvalid, MediaTime{}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MediaTimeCompare(c.a, c.b), c.result) << c.name;
    EXPECT_EQ(MediaTimeCompare(c.b, c.a), -c.result) << c.name << " (swapped)";
  }
}

TEST(MediaTime, AddAndSubtract) {
  const struct {
    const char* name;
    MediaTime a, b;
    MediaTime sum, difference;
  } cases[] = {
      {"same scale", T(1500, 1000), T(250, 1000), T(1750, 1000), T(1250, 1000)},
      {"common scale", T(1, 2), T(1, 3), T(5, 6), T(1, 6)},
      {"ms and ntsc", T(1000, 1000), T(1001, 30000), T(31001, 30000), T(28999, 30000)},
      {"cleared mark", MediaTime_ClearedMark(), T(1, 1), kMediaTimeZero, T(-2, 1)},
      {"inf plus number", kMediaTimePositiveInfinity, T(5, 1), kMediaTimePositiveInfinity, kMediaTimePositiveInfinity},
      {"number and -inf", T(5, 1), kMediaTimeNegativeInfinity, kMediaTimeNegativeInfinity, kMediaTimePositiveInfinity},
      {"+inf and +inf", kMediaTimePositiveInfinity, kMediaTimePositiveInfinity, kMediaTimePositiveInfinity, kMediaTimeInvalid},
      {"+inf and -inf", kMediaTimePositiveInfinity, kMediaTimeNegativeInfinity, kMediaTimeInvalid, kMediaTimePositiveInfinity},
      {"indefinite", kMediaTimeIndefinite, T(5, 1), kMediaTimeIndefinite, kMediaTimeIndefinite},
      {"invalid", kMediaTimeInvalid, T(5, 1), kMediaTimeInvalid, kMediaTimeInvalid},
      {"overflow", T(kMax, 1), T(1, 1), kMediaTimePositiveInfinity, T(kMax - 1, 1)},
  };
  for (const auto& c : cases) {
    const MediaTime sum = MediaTimeAdd(c.a, c.b);
    const MediaTime difference = MediaTimeSubtract(c.a, c.b);
    EXPECT_EQ(MediaTimeCompare(sum, c.sum), 0) << c.name << ": sum " << D(sum);
    EXPECT_EQ(MediaTimeCompare(difference, c.difference), 0) << c.name << ": difference " << D(difference);
    EXPECT_EQ(sum.isValid(), c.sum.isValid()) << c.name;
  }
  // The common timescale of exact numbers is their least common multiple, so nothing is rounded.
  const MediaTime sum = MediaTimeAdd(T(1, 2), T(1, 3));
  EXPECT_EQ(sum.timescale, 6);
  EXPECT_FALSE(sum.flags & kMediaTimeFlags_HasBeenRounded);
}

TEST(MediaTime, MillisOfATimeRoundToTheNearestMillisecond) {
  const struct {
    MediaTime time;
    int64_t millis;
  } cases[] = {
      {T(1001, 30000), 33}, {T(1, 2000), 1}, {T(-1, 2000), -1}, {MediaTime_ClearedMark(), -1000},
      {kMediaTimeInvalid, 0}, {kMediaTimePositiveInfinity, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(MediaTime_Millis(c.time), c.millis) << D(c.time);
}
