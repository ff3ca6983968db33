#pragma once
// A rational media time: value / timescale seconds, with flags for validity and the special times.

#include <QString>

#include <cstdint>

enum MediaTimeFlags : uint32_t {
  kMediaTimeFlags_Valid = 1u << 0,
  kMediaTimeFlags_HasBeenRounded = 1u << 1,
  kMediaTimeFlags_PositiveInfinity = 1u << 2,
  kMediaTimeFlags_NegativeInfinity = 1u << 3,
  kMediaTimeFlags_Indefinite = 1u << 4,
  // The flags that make a time something other than a plain number.
  kMediaTimeFlags_ImpliedValueFlagsMask =
      kMediaTimeFlags_PositiveInfinity | kMediaTimeFlags_NegativeInfinity | kMediaTimeFlags_Indefinite,
};

struct MediaTime {
  int64_t value = 0;
  int32_t timescale = 0;
  uint32_t flags = 0;
  int64_t epoch = 0;

  bool isValid() const { return flags & kMediaTimeFlags_Valid; }
  bool isPositiveInfinity() const { return isValid() && (flags & kMediaTimeFlags_PositiveInfinity); }
  bool isNegativeInfinity() const { return isValid() && (flags & kMediaTimeFlags_NegativeInfinity); }
  bool isIndefinite() const { return isValid() && (flags & kMediaTimeFlags_Indefinite); }
  // Valid and neither infinite nor indefinite: (flags & 0x1D) == 1.
  bool isNumeric() const { return (flags & (kMediaTimeFlags_Valid | kMediaTimeFlags_ImpliedValueFlagsMask)) == kMediaTimeFlags_Valid; }
  QString description() const;
};

inline constexpr int32_t kMediaTimeMaxTimescale = 0x7fffffff;

extern const MediaTime kMediaTimeZero;
extern const MediaTime kMediaTimeInvalid;
extern const MediaTime kMediaTimePositiveInfinity;
extern const MediaTime kMediaTimeNegativeInfinity;
extern const MediaTime kMediaTimeIndefinite;

MediaTime MediaTimeMake(int64_t value, int32_t timescale);
// Seconds rounded to the nearest tick of the preferred timescale.
MediaTime MediaTimeMakeWithSeconds(double seconds, int32_t preferredTimescale);
// 0.0 for an invalid or indefinite time, +/- infinity for the infinities.
double MediaTimeGetSeconds(const MediaTime& t);
// The time with another timescale, rounded half away from zero; special times pass unchanged.
MediaTime MediaTimeConvertScale(const MediaTime& t, int32_t timescale);
// -1, 0 or 1. Order: -inf < numbers < +inf < indefinite < invalid; invalid times equal each other.
int32_t MediaTimeCompare(const MediaTime& a, const MediaTime& b);
MediaTime MediaTimeAdd(const MediaTime& a, const MediaTime& b);
MediaTime MediaTimeSubtract(const MediaTime& a, const MediaTime& b);
MediaTime MediaTimeMultiplyByFloat64(const MediaTime& t, double multiplier);
MediaTime MediaTimeMinimum(const MediaTime& a, const MediaTime& b);
MediaTime MediaTimeMaximum(const MediaTime& a, const MediaTime& b);
MediaTime MediaTimeAbsoluteValue(const MediaTime& t);
// The "not set" mark the session model uses: -1 at timescale 1.
MediaTime MediaTime_ClearedMark();
// Milliseconds of a numeric time (rounded to the nearest millisecond), 0 otherwise.
int64_t MediaTime_Millis(const MediaTime& t);

inline bool operator==(const MediaTime& a, const MediaTime& b) { return MediaTimeCompare(a, b) == 0; }
inline bool operator!=(const MediaTime& a, const MediaTime& b) { return MediaTimeCompare(a, b) != 0; }
inline bool operator<(const MediaTime& a, const MediaTime& b) { return MediaTimeCompare(a, b) < 0; }
inline bool operator<=(const MediaTime& a, const MediaTime& b) { return MediaTimeCompare(a, b) <= 0; }
inline bool operator>(const MediaTime& a, const MediaTime& b) { return MediaTimeCompare(a, b) > 0; }
inline bool operator>=(const MediaTime& a, const MediaTime& b) { return MediaTimeCompare(a, b) >= 0; }
inline MediaTime operator+(const MediaTime& a, const MediaTime& b) { return MediaTimeAdd(a, b); }
inline MediaTime operator-(const MediaTime& a, const MediaTime& b) { return MediaTimeSubtract(a, b); }

// A range of media time: start and duration.
struct MediaTimeRange {
  MediaTime start;
  MediaTime duration;

  MediaTime end() const { return MediaTimeAdd(start, duration); }
  bool isValid() const;
  bool isEmpty() const;
  bool containsTime(const MediaTime& t) const;
  QString description() const;
};

extern const MediaTimeRange kMediaTimeRangeZero;
extern const MediaTimeRange kMediaTimeRangeInvalid;

MediaTimeRange MediaTimeRangeMake(const MediaTime& start, const MediaTime& duration);
MediaTimeRange MediaTimeRangeFromTimeToTime(const MediaTime& start, const MediaTime& end);
MediaTimeRange MediaTimeRangeGetIntersection(const MediaTimeRange& a, const MediaTimeRange& b);
inline bool operator==(const MediaTimeRange& a, const MediaTimeRange& b) {
  return a.start == b.start && a.duration == b.duration;
}
