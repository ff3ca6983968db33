#pragma once
// The marks of one session and their rules: the in and out points, the match periods and the goals of
// both teams. Each change is kept in step with the tag list of the session document (see
// ZRNTagRecord.h); without a document the marks change alone. Times are milliseconds from the start of
// the recorded movie, -1 meaning not set. Nothing here writes a file or touches a view: whoever shows
// the marks reads them back after a change and saves the document.

#include "session/VLDocument.h"
#include "session/ZRNGoalTag.h"
#include "session/ZRNMatchPeriod.h"

#include <QList>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <optional>

class VLSessionMarks {
 public:
  VLSessionMarks() = default;
  explicit VLSessionMarks(std::shared_ptr<VLDocument> document) : m_document(std::move(document)) {}

  std::shared_ptr<VLDocument> document() const { return m_document; }
  void setDocument(std::shared_ptr<VLDocument> document) { m_document = std::move(document); }

  int64_t inTimeMillis() const { return m_inTimeMillis; }
  int64_t outTimeMillis() const { return m_outTimeMillis; }
  const QList<ZRNMatchPeriod>& matchPeriods() const { return m_matchPeriods; }
  const QList<ZRNGoalTag>& teamGoals() const { return m_teamGoals; }

  // In and out points. A new point wins over the other one when they would not leave a clip between
  // them: an in point clears an out point at or before it, an out point an in point at or after it.
  void setInPoint(int64_t millis);
  void setOutPoint(int64_t millis);
  void clearInPoint();
  void clearOutPoint();
  // Both points at once, with no order rule: in at the start, out the duration later but not past the
  // movie's end. True when the out point was held to the end.
  bool setSelection(int64_t startMillis, int64_t durationMillis, int64_t movieEndMillis);
  // Forgets both points and leaves the tag list alone, as for a window that opens another movie.
  void forgetInOutPoints();

  // Periods. A new start clears an end at or before it; a new end clears a start at or after it.
  // The last period of that number, added (with neither time set) when there is none.
  ZRNMatchPeriod& periodWithID(int64_t periodID);
  void setPeriodStart(int64_t periodID, int64_t millis);
  void setPeriodEnd(int64_t periodID, int64_t millis);

  // Goals are never replaced: each one is a new record, in the order scored.
  void addGoal(int64_t team, int64_t millis);

  // Puts a record in the tag list in place of the one it replaces: the in point, the out point, or the
  // period of the same number (any period when the record has no number). Goals replace nothing. The
  // record goes to the end of the list; without add the old one only goes.
  void updateUniqueTag(const QVariantMap& record, bool add);

  // Takes the marks of a saved tag list. The in and out points are set again by their rules, so their
  // records move to the end of the document's list (and a stored pair in the wrong order loses one of
  // them); periods and goals come back as they were saved. True when the document's list was touched.
  bool loadTags(const QVariantList& tags);

  // Where "previous mark" and "next mark" go from nowMillis in a movie that ends at endMillis, from the
  // timed records of the document's list (the in and out points); nothing when the player stays.
  // Previous: the nearest record before now, or the start. Next: the nearest after now, or the end
  // when there is none; a nearest mark beyond the end leaves the player where it is.
  std::optional<int64_t> previousMarkMillis(int64_t nowMillis, int64_t endMillis) const;
  std::optional<int64_t> nextMarkMillis(int64_t nowMillis, int64_t endMillis) const;

 private:
  void U_RemoveTag(const QString& title);

  std::shared_ptr<VLDocument> m_document;
  int64_t m_inTimeMillis = -1;
  int64_t m_outTimeMillis = -1;
  QList<ZRNMatchPeriod> m_matchPeriods;
  QList<ZRNGoalTag> m_teamGoals;
};
