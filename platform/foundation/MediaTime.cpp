#include "platform/foundation/MediaTime.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

const MediaTime kMediaTimeZero{0, 1, kMediaTimeFlags_Valid, 0};
const MediaTime kMediaTimeInvalid{0, 0, 0, 0};
const MediaTime kMediaTimePositiveInfinity{0, 0, kMediaTimeFlags_Valid | kMediaTimeFlags_PositiveInfinity, 0};
const MediaTime kMediaTimeNegativeInfinity{0, 0, kMediaTimeFlags_Valid | kMediaTimeFlags_NegativeInfinity, 0};
const MediaTime kMediaTimeIndefinite{0, 0, kMediaTimeFlags_Valid | kMediaTimeFlags_Indefinite, 0};
const MediaTimeRange kMediaTimeRangeZero{kMediaTimeZero, kMediaTimeZero};
const MediaTimeRange kMediaTimeRangeInvalid{kMediaTimeInvalid, kMediaTimeInvalid};

namespace {

using Wide = __int128;

// Rounds num/den half away from zero.
Wide divRound(Wide num, Wide den) {
  if (den < 0) {
    num = -num;
    den = -den;
  }
  if (num >= 0) return (num + den / 2) / den;
  return -((-num + den / 2) / den);
}

MediaTime fromWide(Wide value, int32_t timescale, bool rounded) {
  if (value > std::numeric_limits<int64_t>::max()) return kMediaTimePositiveInfinity;
  if (value < std::numeric_limits<int64_t>::min()) return kMediaTimeNegativeInfinity;
  MediaTime t{static_cast<int64_t>(value), timescale, kMediaTimeFlags_Valid, 0};
  if (rounded) t.flags |= kMediaTimeFlags_HasBeenRounded;
  return t;
}

// A common timescale for two numeric times: their least common multiple when it fits, else the larger.
int32_t commonTimescale(int32_t a, int32_t b) {
  if (a == b) return a;
  const int64_t lcm = std::lcm<int64_t>(a, b);
  if (lcm <= kMediaTimeMaxTimescale) return static_cast<int32_t>(lcm);
  return std::max(a, b);
}

Wide rescaled(const MediaTime& t, int32_t timescale, bool* rounded) {
  if (t.timescale == timescale) return t.value;
  const Wide num = static_cast<Wide>(t.value) * timescale;
  const Wide result = divRound(num, t.timescale);
  if (rounded && result * t.timescale != num) *rounded = true;
  return result;
}

MediaTime addSigned(const MediaTime& a, const MediaTime& b, int sign) {
  if (!a.isValid() || !b.isValid()) return kMediaTimeInvalid;
  if (a.isIndefinite() || b.isIndefinite()) return kMediaTimeIndefinite;
  const bool aPos = a.isPositiveInfinity(), aNeg = a.isNegativeInfinity();
  bool bPos = b.isPositiveInfinity(), bNeg = b.isNegativeInfinity();
  if (sign < 0) std::swap(bPos, bNeg);
  if ((aPos && bNeg) || (aNeg && bPos)) return kMediaTimeInvalid;
  if (aPos || bPos) return kMediaTimePositiveInfinity;
  if (aNeg || bNeg) return kMediaTimeNegativeInfinity;
  const int32_t ts = commonTimescale(a.timescale, b.timescale);
  bool rounded = (a.flags | b.flags) & kMediaTimeFlags_HasBeenRounded;
  const Wide sum = rescaled(a, ts, &rounded) + sign * rescaled(b, ts, &rounded);
  return fromWide(sum, ts, rounded);
}

}  // namespace

QString MediaTime::description() const {
  if (!isValid()) return QStringLiteral("{INVALID}");
  if (isPositiveInfinity()) return QStringLiteral("{+INFINITY}");
  if (isNegativeInfinity()) return QStringLiteral("{-INFINITY}");
  if (isIndefinite()) return QStringLiteral("{INDEFINITE}");
  return QStringLiteral("{%1/%2 = %3}").arg(value).arg(timescale).arg(MediaTimeGetSeconds(*this), 0, 'f', 3);
}

MediaTime MediaTimeMake(int64_t value, int32_t timescale) {
  if (timescale <= 0) return kMediaTimeInvalid;
  return MediaTime{value, timescale, kMediaTimeFlags_Valid, 0};
}

MediaTime MediaTimeMakeWithSeconds(double seconds, int32_t preferredTimescale) {
  if (std::isnan(seconds) || preferredTimescale <= 0) return kMediaTimeInvalid;
  if (std::isinf(seconds)) return seconds > 0 ? kMediaTimePositiveInfinity : kMediaTimeNegativeInfinity;
  const long double ticks = std::roundl(static_cast<long double>(seconds) * preferredTimescale);
  if (ticks > static_cast<long double>(std::numeric_limits<int64_t>::max())) return kMediaTimePositiveInfinity;
  if (ticks < static_cast<long double>(std::numeric_limits<int64_t>::min())) return kMediaTimeNegativeInfinity;
  MediaTime t = MediaTimeMake(static_cast<int64_t>(ticks), preferredTimescale);
  if (static_cast<long double>(seconds) * preferredTimescale != ticks) t.flags |= kMediaTimeFlags_HasBeenRounded;
  return t;
}

double MediaTimeGetSeconds(const MediaTime& t) {
  if (t.isPositiveInfinity()) return std::numeric_limits<double>::infinity();
  if (t.isNegativeInfinity()) return -std::numeric_limits<double>::infinity();
  if (!t.isNumeric() || t.timescale <= 0) return 0.0;
  return static_cast<double>(t.value) / static_cast<double>(t.timescale);
}

MediaTime MediaTimeConvertScale(const MediaTime& t, int32_t timescale) {
  if (!t.isNumeric() || timescale <= 0) return t;
  bool rounded = t.flags & kMediaTimeFlags_HasBeenRounded;
  const Wide v = rescaled(t, timescale, &rounded);
  return fromWide(v, timescale, rounded);
}

int32_t MediaTimeCompare(const MediaTime& a, const MediaTime& b) {
  const bool av = a.isValid(), bv = b.isValid();
  // An invalid time (an all-zero one, say) compares later than every valid time, so a "latest end"
  // search is not changed by a player that has no item yet.
  if (!av || !bv) return av == bv ? 0 : (av ? -1 : 1);
  // Order of the special times: -inf < numbers < +inf < indefinite < invalid.
  auto rank = [](const MediaTime& t) {
    if (t.isNegativeInfinity()) return 0;
    if (t.isPositiveInfinity()) return 2;
    if (t.isIndefinite()) return 3;
    return 1;
  };
  const int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra != 1) return 0;
  const Wide left = static_cast<Wide>(a.value) * b.timescale;
  const Wide right = static_cast<Wide>(b.value) * a.timescale;
  return left < right ? -1 : (left > right ? 1 : 0);
}

MediaTime MediaTimeAdd(const MediaTime& a, const MediaTime& b) { return addSigned(a, b, 1); }
MediaTime MediaTimeSubtract(const MediaTime& a, const MediaTime& b) { return addSigned(a, b, -1); }

MediaTime MediaTimeMultiplyByFloat64(const MediaTime& t, double multiplier) {
  if (!t.isNumeric()) return t;
  const long double v = std::roundl(static_cast<long double>(t.value) * multiplier);
  if (v > static_cast<long double>(std::numeric_limits<int64_t>::max())) return kMediaTimePositiveInfinity;
  if (v < static_cast<long double>(std::numeric_limits<int64_t>::min())) return kMediaTimeNegativeInfinity;
  return MediaTimeMake(static_cast<int64_t>(v), t.timescale);
}

MediaTime MediaTimeMinimum(const MediaTime& a, const MediaTime& b) {
  if (!a.isValid()) return b;
  if (!b.isValid()) return a;
  return MediaTimeCompare(a, b) <= 0 ? a : b;
}

MediaTime MediaTimeMaximum(const MediaTime& a, const MediaTime& b) {
  if (!a.isValid()) return b;
  if (!b.isValid()) return a;
  return MediaTimeCompare(a, b) >= 0 ? a : b;
}

MediaTime MediaTimeAbsoluteValue(const MediaTime& t) {
  if (t.isNegativeInfinity()) return kMediaTimePositiveInfinity;
  if (!t.isNumeric() || t.value >= 0) return t;
  MediaTime r = t;
  r.value = -t.value;
  return r;
}

MediaTime MediaTime_ClearedMark() { return MediaTimeMake(-1, 1); }

int64_t MediaTime_Millis(const MediaTime& t) {
  if (!t.isNumeric()) return 0;
  return static_cast<int64_t>(divRound(static_cast<Wide>(t.value) * 1000, t.timescale));
}

bool MediaTimeRange::isValid() const {
  return start.isValid() && duration.isValid() && duration.epoch == 0 && MediaTimeCompare(duration, kMediaTimeZero) >= 0;
}

bool MediaTimeRange::isEmpty() const { return isValid() && MediaTimeCompare(duration, kMediaTimeZero) == 0; }

bool MediaTimeRange::containsTime(const MediaTime& t) const {
  return isValid() && MediaTimeCompare(t, start) >= 0 && MediaTimeCompare(t, end()) < 0;
}

QString MediaTimeRange::description() const {
  return QStringLiteral("{start %1, duration %2}").arg(start.description(), duration.description());
}

MediaTimeRange MediaTimeRangeMake(const MediaTime& start, const MediaTime& duration) {
  if (!start.isValid() || !duration.isValid()) return kMediaTimeRangeInvalid;
  return MediaTimeRange{start, duration};
}

MediaTimeRange MediaTimeRangeFromTimeToTime(const MediaTime& start, const MediaTime& end) {
  return MediaTimeRangeMake(start, MediaTimeSubtract(end, start));
}

MediaTimeRange MediaTimeRangeGetIntersection(const MediaTimeRange& a, const MediaTimeRange& b) {
  if (!a.isValid() || !b.isValid()) return kMediaTimeRangeInvalid;
  const MediaTime start = MediaTimeMaximum(a.start, b.start);
  const MediaTime end = MediaTimeMinimum(a.end(), b.end());
  if (MediaTimeCompare(end, start) <= 0) return MediaTimeRange{start, kMediaTimeZero};
  return MediaTimeRangeFromTimeToTime(start, end);
}
