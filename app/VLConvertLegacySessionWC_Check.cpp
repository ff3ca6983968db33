#include "app/VLConvertLegacySessionWC_Check.h"

#include "common/ZRNLogger.h"
#include "platform/foundation/Fmt.h"
#include "platform/media/export/MovieSalvage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>

// The name of the first segment whose pictures the joined movie's picture track does not take.
QString U_SegmentLeftOut(const MutableCompositionRef& composition, const QList<LegacySegmentCheck>& checks) {
  QSet<QString> joined;
  const QList<AssetTrackRef> tracks =
      composition ? composition->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo)) : QList<AssetTrackRef>();
  if (!tracks.isEmpty())
    for (const AssetTrackSegment& piece : tracks.first()->segments())
      if (!piece.empty) joined.insert(QFileInfo(piece.sourcePath).absoluteFilePath());
  for (const LegacySegmentCheck& check : checks)
    if (!joined.contains(QFileInfo(check.readFrom).absoluteFilePath())) return check.name;
  return {};
}

// Where each segment's pictures begin in the joined movie (seconds), in the order of the checks.
QList<double> U_SegmentStarts(const MutableCompositionRef& composition, const QList<LegacySegmentCheck>& checks) {
  QList<double> starts;
  const QList<AssetTrackRef> tracks =
      composition ? composition->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo)) : QList<AssetTrackRef>();
  const QList<AssetTrackSegment> pieces = tracks.isEmpty() ? QList<AssetTrackSegment>() : tracks.first()->segments();
  for (const LegacySegmentCheck& check : checks) {
    double start = -1.0;
    for (const AssetTrackSegment& piece : pieces)
      if (!piece.empty && QFileInfo(piece.sourcePath).absoluteFilePath() == QFileInfo(check.readFrom).absoluteFilePath()) {
        start = MediaTimeGetSeconds(piece.timeMapping.target.start);
        break;
      }
    starts.append(start);
  }
  return starts;
}

// Empty when the joined movie holds as many pictures of each segment as were read from it; otherwise
// why not, naming the first segment that falls short.
namespace {

QString U_CheckJoinedMovie(const QString& movie, const QList<LegacySegmentCheck>& checks, const QList<double>& starts,
                           const std::atomic<bool>* stop) {
  std::vector<double> times;
  QString error;
  if (!Movie_PictureTimes(movie, &times, &error, stop))
    return Fmt(QCoreApplication::translate("Localizable", "The joined movie cannot be read: %@"), error);
  // A picture belongs to the last segment that starts at or before it (a millisecond of rounding aside).
  QList<int64_t> held(checks.size(), 0);
  for (const double t : times) {
    qsizetype owner = 0;
    for (qsizetype i = 0; i < starts.size(); ++i)
      if (starts[i] >= 0.0 && starts[i] <= t + 0.001) owner = i;
    if (!held.isEmpty()) ++held[owner];
  }
  for (qsizetype i = 0; i < checks.size(); ++i) {
    if (held[i] == checks[i].pictures) continue;
    return Fmt(QCoreApplication::translate("Localizable",
                                           "The joined movie holds %@ of the %@ pictures of the segment \"%@\"."),
               QString::number(held[i]), QString::number(checks[i].pictures), checks[i].name);
  }
  return {};
}

}  // namespace

// On the importer queue, once the export has completed: the joined movie must hold every picture read
// from each segment before the package is put in place and the old folder goes. Empty when the session
// stands converted, else why not; an abort ends it at the next packet or block of bytes.
QString U_FinishConversion(const LegacyFinishWork& work, LegacyConversionControl& control) {
  QString failure = U_CheckJoinedMovie(work.movie, work.checks, work.starts, control.abortFlag());
  // The whole copies of segments cut short are done with; they are no part of the session.
  if (!work.package.isEmpty()) QDir(QDir(work.package).filePath(kLegacy_RepairFolderName)).removeRecursively();
  if (control.aborted()) return failure;
  if (!failure.isEmpty()) {
    ZRNLogger_Log(QStringLiteral("ERR: %@"), failure);
    return failure;
  }
  int64_t pictures = 0;
  for (const LegacySegmentCheck& check : work.checks) pictures += check.pictures;
  ZRNLogger_Log(QStringLiteral("the joined movie holds all %ld pictures of the %ld segments"), static_cast<long>(pictures),
                static_cast<long>(work.checks.size()));
  Legacy_PutPackageInPlace(work.package, work.legacyFolder, work.readFiles, control, &failure);
  return failure;
}
