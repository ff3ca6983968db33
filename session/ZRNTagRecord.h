#pragma once
// Tag records: one dictionary per mark in a session document's tag list, stored under "tags" in the
// settings file. Every record holds "tagTitle" naming its kind:
//   "inPoint" / "outPoint"  + "tagMillis"                          (at most one of each)
//   "matchPeriod"           + the period keys of ZRNMatchPeriod     (at most one per "periodID")
//   "teamGoal"              + the goal keys of ZRNGoalTag           (any number, in the order added)
// Times are signed 64-bit milliseconds from the start of the recorded movie; -1 means not set.
// Also here: the typed reads of values that come out of a settings file, where a value of the wrong
// type counts as absent.

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <cstdint>

class ZRNMatchPeriod;
class ZRNGoalTag;

inline const QString kTagRecord_TitleKey = QStringLiteral("tagTitle");
inline const QString kTagRecord_MillisKey = QStringLiteral("tagMillis");
inline const QString kTagRecord_InPoint = QStringLiteral("inPoint");
inline const QString kTagRecord_OutPoint = QStringLiteral("outPoint");
inline const QString kTagRecord_MatchPeriod = QStringLiteral("matchPeriod");
inline const QString kTagRecord_TeamGoal = QStringLiteral("teamGoal");

// {"tagTitle": title, "tagMillis": millis} for "inPoint" and "outPoint".
QVariantMap TagRecord_MakePoint(const QString& title, int64_t millis);
// The period's dictionary with "tagTitle" "matchPeriod".
QVariantMap TagRecord_MakePeriod(const ZRNMatchPeriod& period);
// The goal's dictionary with "tagTitle" "teamGoal".
QVariantMap TagRecord_MakeGoal(const ZRNGoalTag& goal);
// The record's "tagTitle", empty when it has none (or not a string).
QString TagRecord_Title(const QVariantMap& record);

// A number (integer, real or boolean) read as a signed 64-bit integer, reals truncated toward zero.
// False, leaving *out alone, for an absent value, another type, or a real outside the 64-bit range.
bool Settings_ReadInteger(const QVariant& value, int64_t* out);
// A stored mark time in whole milliseconds: integers as they are, reals rounded to the nearest
// millisecond. False, leaving *out alone, for anything else and for times beyond +-kTagRecord_MaxMillis,
// which count as absent rather than be bent into range.
bool TagRecord_ReadMillis(const QVariant& value, int64_t* out);
// The largest time a mark can hold: every whole millisecond up to it has an exact double (the player's
// seconds), and it is still over 285000 years.
inline constexpr int64_t kTagRecord_MaxMillis = (int64_t(1) << 53) - 1;

// A number (integer, real or boolean) read as a double.
bool Settings_ReadDouble(const QVariant& value, double* out);
// A number or boolean read as a boolean (non-zero is true).
bool Settings_ReadBool(const QVariant& value, bool* out);
// A string.
bool Settings_ReadString(const QVariant& value, QString* out);
