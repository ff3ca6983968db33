#pragma once
// Short texts of durations and dates: clock strings of seconds, milliseconds and media times for the
// transport bars, export jobs and score titles; compact date and time stamps for file names; date
// stamps for log folders.
//
// A media time counts as 0 seconds unless it is numeric (valid and finite). Seconds s become whole
// seconds n = trunc(s + 0.5); the clock strings of seconds use trunc(|s + 0.5|) with a "-" in front
// when s + 0.5 < 0. Hours = n / 3600, minutes = n / 60 - 60 * hours, seconds = n - 60 * (n / 60).

#include "platform/foundation/MediaTime.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

// --- durations and dates of a given moment ---

// compactStringWithSeconds of the time's seconds.
QString compactStringWithCMTime(const MediaTime& time);
// stringWithSeconds of the time's seconds.
QString stringWithCMTime(const MediaTime& time);
// compactStringWithSeconds of millis / 1000.
QString stringWithMillis(int64_t millis);
// "mm:ss" below one hour, else "hh:mm:ss"; "-" in front when negative.
QString compactStringWithSeconds(double seconds);
// Always "hh:mm:ss"; "-" in front when negative.
QString stringWithSeconds(double seconds);
// The time left until max as "-hh:mm:ss" (a count-down) when max is a positive numeric time; else
// the time itself as "hh:mm:ss".
QString stringWithCMTimeLeft(const MediaTime& time, const MediaTime& max);
// The current local time of day as "hhmmss".
QString timeAsString();
// The date's local time of day as "hhmmss", or "hhmm" without seconds.
QString timeAsStringForDate(const QDateTime& date, bool withSeconds);
// The date's local calendar date as "yymmdd".
QString dateAsStringForDate(const QDateTime& date);
// "m<sep>ss" below one hour, else "h<sep>mm<sep>ss".
QString cmtimeAsTimeStamp(const MediaTime& time, const QString& separator);

// --- stamps of the current moment (the moment can be given, for repeatable results) ---

// UTC "yyyymmdd".
QString todayReverseString(const QDateTime& now = QDateTime::currentDateTime());
// Local "hh:mm:ss".
QString timeStamp(const QDateTime& now = QDateTime::currentDateTime());
// UTC "hh:mm:ss".
QString timeStampUTC(const QDateTime& now = QDateTime::currentDateTime());
// Local "yyyy_mm_dd hh.mm.ss".
QString fileDateTimeStampString(const QDateTime& now = QDateTime::currentDateTime());
// UTC "yyyy_mm_dd hh.mm.ss".
QString fileDateTimeStampStringUTC(const QDateTime& now = QDateTime::currentDateTime());
