// The driver of the legacy conversion: runs the progress window, under which the new package is put in
// place and the old folder removed.

#include "app/VLConvertLegacySessionWC.h"

#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "session/VLDocument.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/SysErrno.h"
#include "platform/foundation/Fmt.h"
#include "platform/gui/DialogRunner.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/system/ProcessIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// An item at the path, a dangling link included.
bool U_ItemExists(const QString& path) {
  struct stat info;
  return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool U_SyncPath(const QString& path, QString* error) {
  const int failure = SafeFile_SyncPath(path);
  if (failure != 0) *error = Fmt(QStringLiteral("%@ could not be written to disk: %@"), path, Sys_ErrnoText(failure));
  return failure == 0;
}

// Copies the folder's files and sub-folders into the existing empty folder `to`. Links are not copied:
// a package of ours holds none.
bool U_CopyFolderContents(const QString& from, const QString& to, const std::atomic<bool>* stop, QString* error) {
  const QFileInfoList entries = QDir(from).entryInfoList(
      QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
  for (const QFileInfo& entry : entries) {
    const QString target = QDir(to).filePath(entry.fileName());
    if (entry.isSymLink()) {
      ZRNLogger_Log(QStringLiteral("ATT: link %@ not copied into the session package"), entry.filePath());
      continue;
    }
    if (entry.isDir()) {
      if (::mkdir(QFile::encodeName(target).constData(), 0777) != 0) {
        *error = Fmt(QStringLiteral("%@ could not be created: %@"), target, Sys_ErrnoText(errno));
        return false;
      }
      if (!U_CopyFolderContents(entry.filePath(), target, stop, error) || !U_SyncPath(target, error)) return false;
    } else if (const int failure = SafeFile_CopyNew(entry.filePath(), target, 0666, stop); failure != 0) {
      *error = Fmt(QStringLiteral("%@ could not be copied: %@"), entry.filePath(), Sys_ErrnoText(failure));
      return false;
    }
  }
  return true;
}

// The package's movie opens: it has a picture track and a length.
bool U_PackageMovieOpens(const QString& package) {
  const QFileInfoList movies =
      QDir(package).entryInfoList({kVLMovieBaseName + QStringLiteral(".*")}, QDir::Files | QDir::NoSymLinks);
  for (const QFileInfo& movie : movies) {
    const AssetRef asset = Asset::assetWithPath(movie.filePath());
    if (asset && asset->isPlayable() && !asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo)).isEmpty() &&
        asset->duration() > kMediaTimeZero)
      return true;
  }
  return false;
}

// Moves `from` to `to` unless an item appeared there meanwhile.
bool U_RenameNoReplace(const QString& from, const QString& to, QString* error) {
  const int failure = SafeFile_MoveNoReplace(from, to);
  if (failure == 0) return true;
  *error = failure == EEXIST
               ? Fmt(QStringLiteral("A session package named \"%@\" already exists."), QFileInfo(to).fileName())
               : Fmt(QStringLiteral("%@ could not be put in place: %@"), to, Sys_ErrnoText(failure));
  return false;
}

// A copy on its way into place is named after its target and the run that makes it.
QString U_StagingPrefix(const QString& targetName) { return Fmt(QStringLiteral(".%@.converting-"), targetName); }
// Any such copy, whatever its target: the pattern's first group is the run's tag. Patterns of names
// that decide what is removed match whole names only (anchored: "$" would also match before a final
// line feed, and a folder of that name is not ours).
const QString kStagingPattern = QStringLiteral("\\..+\\.%1\\.converting-(\\d+-\\d+)");

// Removes the folders in `folder` whose names match `pattern` (its first group the tag of the run that
// made them) when that run has ended. Links and files of such names are not ours.
void U_RemoveMatchingLeftovers(const QString& folder, const QRegularExpression& pattern) {
  const QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
  for (const QString& name : names) {
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch() || Process_RunTagIsAlive(match.captured(1))) continue;
    const QString path = QDir(folder).filePath(name);
    ZRNLogger_Log(QStringLiteral("removing %@, left by a conversion that did not end"), path);
    if (!QDir(path).removeRecursively()) ZRNLogger_Log(QStringLiteral("ATT: %@ could not be removed"), path);
  }
}

// Removes the folders in `folder` whose names are `prefix` followed by the tag of a run that has ended
// (an optional "_<n>" after the tag, as unique names get).
void U_RemoveLeftoversOfEndedRuns(const QString& folder, const QString& prefix, const QString& suffix) {
  U_RemoveMatchingLeftovers(folder, QRegularExpression(QRegularExpression::anchoredPattern(
                                        QStringLiteral("%1(\\d+-\\d+)(_\\d+)?%2")
                                            .arg(QRegularExpression::escape(prefix), QRegularExpression::escape(suffix)))));
}

// A copy on its way into place stands beside the old folder, wherever that is. So that the next start
// finds it when this run is killed meanwhile, the folder is noted first, in a file named by the run's tag.
QString U_StagingNotesFolder() {
  return QDir(StandardLocations::applicationSupportPath()).filePath(QStringLiteral("ConversionsUnderway"));
}

// Without the note the conversion goes on all the same; only a kill would then leave the copy behind.
void U_NoteStagingFolder(const QString& folder) {
  const QString notes = U_StagingNotesFolder();
  QString error;
  if (!QDir().mkpath(notes) || !SafeFile_Replace(QDir(notes).filePath(Process_RunTag()), folder.toUtf8(), &error))
    ZRNLogger_Log(QStringLiteral("ATT: the copy beside %@ could not be noted in %@: %@"), folder, notes, error);
}

void U_ForgetStagingFolder() {
  const QString notes = U_StagingNotesFolder();
  QFile::remove(QDir(notes).filePath(Process_RunTag()));
  QDir().rmdir(notes);
}

// The copies on their way into place that runs which have ended noted, and their notes.
void U_RemoveStagingOfEndedRuns() {
  const QString notes = U_StagingNotesFolder();
  const QRegularExpression tagName(QRegularExpression::anchoredPattern(QStringLiteral("\\d+-\\d+")));
  const QRegularExpression staging(
      QRegularExpression::anchoredPattern(kStagingPattern.arg(QRegularExpression::escape(kVLPackageExtension))));
  for (const QString& tag : QDir(notes).entryList(QDir::Files | QDir::Hidden)) {
    if (!tagName.match(tag).hasMatch() || Process_RunTagIsAlive(tag)) continue;
    QByteArray folder;
    QString error;
    if (SafeFile_ReadRegular(QDir(notes).filePath(tag), 64 * 1024, &folder, &error))
      U_RemoveMatchingLeftovers(QString::fromUtf8(folder), staging);
    QFile::remove(QDir(notes).filePath(tag));
  }
  QDir().rmdir(notes);
}

void U_RemoveTemporaryPackage(const QString& path) {
  if (path.isEmpty() || !U_ItemExists(path)) return;
  if (!QDir(path).removeRecursively()) ZRNLogger_Log(QStringLiteral("ATT: %@ could not be removed"), path);
}

// The old folder goes once its content lives on in the new package. A folder reached through a link
// loses only the link: what it points to was never ours to delete.
void U_RemoveLegacyFolder(const QString& folder) {
  const bool removed = QFileInfo(folder).isSymLink() ? QFile::remove(folder) : QDir(folder).removeRecursively();
  if (!removed) ZRNLogger_Log(QStringLiteral("ATT: the old session folder %@ could not be removed completely"), folder);
}

// The package an old folder becomes: its name with the package's extension, beside it.
QString U_PackagePathFor(const QString& legacyFolder) {
  const QFileInfo legacy(legacyFolder);
  return QDir(legacy.absolutePath()).filePath(legacy.completeBaseName() + QLatin1Char('.') + kVLPackageExtension);
}
}  // namespace

void Legacy_RemoveLeftovers() {
  U_RemoveLeftoversOfEndedRuns(StandardLocations::tempPath(), kLegacy_TemporaryPackagePrefix,
                               QLatin1Char('.') + kVLPackageExtension);
  U_RemoveStagingOfEndedRuns();
}

bool Legacy_CopyPackageIntoPlace(const QString& package, const QString& target, QString* error,
                                 LegacyConversionControl* control) {
  if (U_ItemExists(target)) {
    *error = Fmt(QStringLiteral("A session package named \"%@\" already exists."), QFileInfo(target).fileName());
    return false;
  }
  const QFileInfo place(target);
  const QString staging =
      QDir(place.absolutePath()).filePath(U_StagingPrefix(place.fileName()) + Process_RunTag());
  U_NoteStagingFolder(place.absolutePath());
  if (::mkdir(QFile::encodeName(staging).constData(), 0777) != 0) {
    *error = Fmt(QStringLiteral("%@ could not be created: %@"), staging, Sys_ErrnoText(errno));
    U_ForgetStagingFolder();
    return false;
  }
  bool ok = U_CopyFolderContents(package, staging, control ? control->abortFlag() : nullptr, error);
  if (ok && !U_PackageMovieOpens(staging)) {
    *error = QStringLiteral("The joined movie cannot be opened.");
    ok = false;
  }
  if (ok) {
    File_SetIsPackage(staging);
    File_SetHiddenExtension(staging);
    ok = U_SyncPath(staging, error);
  }
  if (ok && control && !control->commit()) {
    *error = QStringLiteral("The conversion was aborted.");
    ok = false;
  }
  ok = ok && U_RenameNoReplace(staging, target, error);
  if (!ok) QDir(staging).removeRecursively();
  U_ForgetStagingFolder();
  if (!ok) return false;
  QString ignored;
  U_SyncPath(place.absolutePath(), &ignored);
  return true;
}

bool Legacy_PutPackageInPlace(const QString& package, const QString& legacyFolder, LegacyConversionControl& control,
                              QString* error) {
  const QString target = U_PackagePathFor(legacyFolder);
  if (!Legacy_CopyPackageIntoPlace(package, target, error, &control)) return false;
  control.setInPlace();
  ZRNLogger_Log(QStringLiteral("old session converted into %@"), target);
  U_RemoveLegacyFolder(legacyFolder);
  U_RemoveTemporaryPackage(package);
  return true;
}

bool Legacy_ConvertSession(const QUrl& folderURL, const std::function<QWidget*()>& openConverted) {
  const QString folder = QDir::cleanPath(folderURL.toLocalFile());
  ZRNLogger_Log(QStringLiteral("converting old session %@"), folder);
  // What a killed conversion left: its temporary package, and a copy on its way to this target.
  Legacy_RemoveLeftovers();
  const QFileInfo target(U_PackagePathFor(folder));
  U_RemoveLeftoversOfEndedRuns(target.absolutePath(), U_StagingPrefix(target.fileName()), QString());

  VLConvertLegacySessionWC controller;
  controller.setOpenConverted(openConverted);
  controller.setUpFor(QUrl::fromLocalFile(folder));
  Gui_RunApplicationModal(&controller);
  // A failure was told while the window was up; an abort or a quit ends quietly.
  controller.U_StopWork();
  const std::shared_ptr<VLDocument> document = controller.vlDocument();
  U_RemoveTemporaryPackage(document ? document->docURL().toLocalFile() : QString());
  controller.close();
  return controller.conversionInPlace();
}
