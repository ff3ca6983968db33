#include "common/ZRNTimeFormatting.h"

#include "support/ScopedTimeZone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

MediaTime S(double seconds) { return MediaTimeMakeWithSeconds(seconds, 1000); }

struct Case {
  const char* name;
  std::function<QString()> make;
  const char* expected;
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(c.make().toStdString(), c.expected) << c.name;
}

}  // namespace

TEST(TimeFormatting, ClockStringsOfDurations) {
  check({
      {"compact 59.4", [] { return compactStringWithSeconds(59.4); }, "00:59"},
      {"compact 59.5 rounds up", [] { return compactStringWithSeconds(59.5); }, "01:00"},
      {"compact 3599.5 reaches the hour", [] { return compactStringWithSeconds(3599.5); }, "01:00:00"},
      {"compact -0.3 rounds to zero", [] { return compactStringWithSeconds(-0.3); }, "00:00"},
      {"compact -0.6 keeps its sign", [] { return compactStringWithSeconds(-0.6); }, "-00:00"},
      {"compact -3725", [] { return compactStringWithSeconds(-3725); }, "-01:02:04"},
      {"compact NaN", [] { return compactStringWithSeconds(std::nan("")); }, "00:00"},
      {"full 59.5", [] { return stringWithSeconds(59.5); }, "00:01:00"},
      {"full -2", [] { return stringWithSeconds(-2); }, "-00:00:01"},
      {"millis 90500", [] { return stringWithMillis(90500); }, "01:31"},
      {"invalid media time", [] { return compactStringWithCMTime(kMediaTimeInvalid); }, "00:00"},
      {"infinite media time", [] { return stringWithCMTime(kMediaTimePositiveInfinity); }, "00:00:00"},
  });
}

TEST(TimeFormatting, TimeLeftCountsDownOnlyAgainstAPositiveMax) {
  check({
      {"10 of 70", [] { return stringWithCMTimeLeft(S(10), S(70)); }, "-00:01:00"},
      {"69.4 of 70 leaves a second", [] { return stringWithCMTimeLeft(S(69.4), S(70)); }, "-00:00:01"},
      {"69.6 of 70 leaves nothing", [] { return stringWithCMTimeLeft(S(69.6), S(70)); }, "00:00:00"},
      {"invalid max", [] { return stringWithCMTimeLeft(S(5), kMediaTimeInvalid); }, "00:00:05"},
      {"zero max", [] { return stringWithCMTimeLeft(S(3725), kMediaTimeZero); }, "01:02:05"},
  });
}

TEST(TimeFormatting, TimeStampsWithSeparators) {
  check({
      {"65 s", [] { return cmtimeAsTimeStamp(S(65), QStringLiteral(".")); }, "1.05"},
      {"3725 s", [] { return cmtimeAsTimeStamp(S(3725), QStringLiteral("-")); }, "1-02-05"},
      {"59.5 s", [] { return cmtimeAsTimeStamp(S(59.5), QStringLiteral(".")); }, "1.00"},
  });
}

TEST(TimeFormatting, DatesOfAGivenMomentInLocalTimeAndUTC) {
  // Two hours east of UTC: 23:30 UTC on 5 March is already 6 March locally.
  const ScopedTimeZone zone("XST-2");
  const QDateTime late(QDate(2024, 3, 5), QTime(23, 30, 15, 999), Qt::UTC);
  const QDateTime morning(QDate(2024, 3, 5), QTime(9, 5, 7), Qt::LocalTime);
  check({
      {"date 5 March 2024", [&] { return dateAsStringForDate(morning); }, "240305"},
      {"date is local", [&] { return dateAsStringForDate(late); }, "240306"},
      {"time with seconds", [&] { return timeAsStringForDate(morning, true); }, "090507"},
      {"today is UTC", [&] { return todayReverseString(late); }, "20240305"},
      {"file stamp local", [&] { return fileDateTimeStampString(late); }, "2024_03_06 01.30.15"},
      {"file stamp UTC", [&] { return fileDateTimeStampStringUTC(late); }, "2024_03_05 23.30.15"},
  });
}
