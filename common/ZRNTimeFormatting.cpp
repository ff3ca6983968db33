#include "common/ZRNTimeFormatting.h"

#include <cmath>

namespace {

double secondsOf(const MediaTime& time) { return time.isNumeric() ? MediaTimeGetSeconds(time) : 0.0; }

// Truncation toward zero; out-of-range values are clamped so the conversion stays defined.
long wholePart(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775807.0) return 9223372036854775807L;
  if (x <= -9223372036854775808.0) return static_cast<long>(-9223372036854775807L - 1);
  return static_cast<long>(x);
}

struct Clock {
  long hours, minutes, seconds;
};

Clock clockOf(long n) { return {n / 3600, n / 60 - 60 * (n / 3600), n - 60 * (n / 60)}; }

// The clock of s for the seconds strings: magnitude of s + 0.5, and its sign.
long clockSeconds(double s, bool* negative) {
  const double rounded = s + 0.5;
  *negative = rounded < 0;
  return wholePart(std::fabs(rounded));
}

QString hms(const char* sign, long n) {
  const Clock c = clockOf(n);
  return QString::asprintf("%s%02ld:%02ld:%02ld", sign, c.hours, c.minutes, c.seconds);
}

}  // namespace

QString compactStringWithCMTime(const MediaTime& time) { return compactStringWithSeconds(secondsOf(time)); }

QString stringWithCMTime(const MediaTime& time) { return stringWithSeconds(secondsOf(time)); }

QString stringWithMillis(int64_t millis) { return compactStringWithSeconds(static_cast<double>(millis) / 1000.0); }

QString compactStringWithSeconds(double seconds) {
  bool negative = false;
  const long n = clockSeconds(seconds, &negative);
  const char* sign = negative ? "-" : "";
  if (n < 3600) {
    const Clock c = clockOf(n);
    return QString::asprintf("%s%02ld:%02ld", sign, c.minutes, c.seconds);
  }
  return hms(sign, n);
}

QString stringWithSeconds(double seconds) {
  bool negative = false;
  const long n = clockSeconds(seconds, &negative);
  return hms(negative ? "-" : "", n);
}

QString stringWithCMTimeLeft(const MediaTime& time, const MediaTime& max) {
  const double maxS = max.isNumeric() ? MediaTimeGetSeconds(max) : 0.0;
  double left;
  if (max.isNumeric() && maxS > 0)
    left = time.isNumeric() ? maxS - MediaTimeGetSeconds(time) : 0.0;
  else
    left = secondsOf(time);
  // Not made absolute: a time past max gives negative minutes and seconds.
  const long n = wholePart(left + 0.5);
  return hms(maxS > 0 && n != 0 ? "-" : "", n);
}

QString timeAsString() { return timeAsStringForDate(QDateTime::currentDateTime(), true); }

QString timeAsStringForDate(const QDateTime& date, bool withSeconds) {
  const QTime t = date.toLocalTime().time();
  if (withSeconds) return QString::asprintf("%.2d%.2d%.2d", t.hour(), t.minute(), t.second());
  return QString::asprintf("%.2d%.2d", t.hour(), t.minute());
}

QString dateAsStringForDate(const QDateTime& date) {
  const QDate d = date.toLocalTime().date();
  return QString::asprintf("%.2d%.2d%.2d", d.year() % 100, d.month(), d.day());
}

QString cmtimeAsTimeStamp(const MediaTime& time, const QString& separator) {
  const long n = wholePart(secondsOf(time) + 0.5);
  const Clock c = clockOf(n);
  if (n < 3600) return QString::asprintf("%ld", c.minutes) + separator + QString::asprintf("%02ld", c.seconds);
  return QString::asprintf("%ld", c.hours) + separator + QString::asprintf("%02ld", c.minutes) + separator +
         QString::asprintf("%02ld", c.seconds);
}

QString todayReverseString(const QDateTime& now) {
  const QDate d = now.toUTC().date();
  return QString::asprintf("%04d%02d%02d", d.year(), d.month(), d.day());
}

QString timeStamp(const QDateTime& now) {
  const QTime t = now.toLocalTime().time();
  return QString::asprintf("%02d:%02d:%02d", t.hour(), t.minute(), t.second());
}

QString timeStampUTC(const QDateTime& now) {
  const QTime t = now.toUTC().time();
  return QString::asprintf("%02d:%02d:%02d", t.hour(), t.minute(), t.second());
}

namespace {
QString fileStamp(const QDateTime& at) {
  const QDate d = at.date();
  const QTime t = at.time();
  return QString::asprintf("%04d_%02d_%02d %02d.%02d.%02d", d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}
}  // namespace

QString fileDateTimeStampString(const QDateTime& now) { return fileStamp(now.toLocalTime()); }

QString fileDateTimeStampStringUTC(const QDateTime& now) { return fileStamp(now.toUTC()); }
