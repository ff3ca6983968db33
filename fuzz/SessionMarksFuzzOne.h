#pragma once
// One input of the session-marks fuzzer, shared by the libFuzzer target and the corpus replay test.
//
// Any bytes as a settings file, loaded the way the playback window loads it: the document, then its
// marks. The marks must keep their rules (an in point before its out point, one record per point, one
// period per number), and opening the saved session again must give the very same marks and the very
// same file: a mark never moves or changes between two opens. Answers false when one of these fails.

#include "common/ZRNJSONBridge.h"
#include "session/VLDocument.h"
#include "session/VLSessionMarks.h"
#include "session/ZRNTagRecord.h"

#include <QSet>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fuzz_marks {

struct Opened {
  std::shared_ptr<VLDocument> document = std::make_shared<VLDocument>();
  VLSessionMarks marks{document};
  QByteArray saved;
};

inline void open(Opened& session, const QVariantMap& settings) {
  session.document->loadFromDictionary(settings);
  session.marks.loadTags(settings.value(QStringLiteral("tags")).toList());
  session.saved = JSON_CFDataFromCF(session.document->dictionaryToSave());
}

inline bool keepsItsRules(const Opened& session) {
  const int64_t in = session.marks.inTimeMillis(), out = session.marks.outTimeMillis();
  if (in >= 0 && out >= 0 && in >= out) return false;
  int inRecords = 0, outRecords = 0;
  for (const QVariantMap& record : session.document->tagsArray()) {
    int64_t millis = 0;
    if (!TagRecord_ReadMillis(record.value(kTagRecord_MillisKey), &millis)) continue;
    const QString title = TagRecord_Title(record);
    if (title == kTagRecord_InPoint && ++inRecords > 1) return false;
    if (title == kTagRecord_OutPoint && ++outRecords > 1) return false;
  }
  QSet<int64_t> periodIDs;
  for (const ZRNMatchPeriod& period : session.marks.matchPeriods()) periodIDs.insert(period.periodID());
  return periodIDs.size() == session.marks.matchPeriods().size();
}

}  // namespace fuzz_marks

inline bool Fuzz_SessionMarksOne(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QVariant tree = JSON_CFFromJSONData(bytes);
  if (tree.metaType().id() != QMetaType::QVariantMap) return true;
  fuzz_marks::Opened first;
  fuzz_marks::open(first, tree.toMap());
  if (!fuzz_marks::keepsItsRules(first)) return false;
  const QVariant reread = JSON_CFFromJSONData(first.saved);
  if (reread.metaType().id() != QMetaType::QVariantMap) return false;
  fuzz_marks::Opened second;
  fuzz_marks::open(second, reread.toMap());
  return fuzz_marks::keepsItsRules(second) && second.saved == first.saved &&
         second.marks.inTimeMillis() == first.marks.inTimeMillis() &&
         second.marks.outTimeMillis() == first.marks.outTimeMillis() &&
         second.marks.teamGoals().size() == first.marks.teamGoals().size() &&
         second.marks.matchPeriods().size() == first.marks.matchPeriods().size();
}
