#pragma once
// The joined movie's check and the copy into place that end an old session's conversion, run on the
// importer queue once the export has completed.

#include "app/VLConvertLegacySessionWC.h"
#include "platform/media/asset/Composition.h"

#include <QList>
#include <QString>

#include <atomic>

// Where the joined movie's picture track takes its segments from.
QString U_SegmentLeftOut(const MutableCompositionRef& composition, const QList<LegacySegmentCheck>& checks);
QList<double> U_SegmentStarts(const MutableCompositionRef& composition, const QList<LegacySegmentCheck>& checks);

// What the read-back of the joined movie and the copy into place need, taken on the main thread.
struct LegacyFinishWork {
  QString movie;
  QList<LegacySegmentCheck> checks;
  QList<double> starts;
  QString package;
  QString legacyFolder;
  QList<LegacyReadFile> readFiles;
};

QString U_FinishConversion(const LegacyFinishWork& work, LegacyConversionControl& control);
