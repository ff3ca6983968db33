// The driver of the legacy conversion: runs the progress window, under which the new package is put in
// place and the old folder removed.

#include "app/VLConvertLegacySessionWC.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "session/VLDocument.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/SysErrno.h"
#include "platform/foundation/Fmt.h"
#include "platform/gui/DialogRunner.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/system/ProcessIdentity.h"

#include <QCoreApplication>
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
constexpr int kAlertOldFolderKept = 20054;

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
const QString kStagingPattern = QStringLiteral("\\..+\\.%1\\.converting-([0-9]+-[0-9]+)");

// The number of a copy as unique names write it ("_1", "_2", ...; Fmt's "%d"): no leading zero, above 0.
bool U_IsCopyNumber(const QString& digits) {
  bool ok = false;
  const int n = digits.toInt(&ok);
  return ok && n > 0 && QString::number(n) == digits;
}

// Removes the folders in `folder` whose names match `pattern` when the run that made them has ended: its
// first group must be a tag exactly as a run writes it (Process_RunTagHasEnded), and a second group, when
// the pattern has one and it matched, the number of a copy. Only real folders of this user on the
// folder's own mount go, and nothing is followed into another file system (SafeFile_RemoveOwnFolder).
void U_RemoveMatchingLeftovers(const QString& folder, const QRegularExpression& pattern) {
  const QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
  for (const QString& name : names) {
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch()) continue;
    if (pattern.captureCount() >= 2 && match.hasCaptured(2) && !U_IsCopyNumber(match.captured(2))) continue;
    if (!Process_RunTagHasEnded(match.captured(1))) continue;
    const QString path = QDir(folder).filePath(name);
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || info.st_uid != ::geteuid()) continue;
    ZRNLogger_Log(QStringLiteral("removing %@, left by a conversion that did not end"), path);
    if (const int error = SafeFile_RemoveOwnFolder(path); error != 0)
      ZRNLogger_Log(QStringLiteral("ATT: %@ could not be removed: %@"), path, Sys_ErrnoText(error));
  }
}

// Removes the folders in `folder` whose names are `prefix` followed by the tag of a run that has ended,
// then `suffix`; with `numberedCopies` also those with "_<n>" between tag and suffix, as unique names get.
void U_RemoveLeftoversOfEndedRuns(const QString& folder, const QString& prefix, const QString& suffix,
                                  bool numberedCopies) {
  U_RemoveMatchingLeftovers(folder, QRegularExpression(QRegularExpression::anchoredPattern(
                                        QStringLiteral("%1([0-9]+-[0-9]+)%3%2")
                                            .arg(QRegularExpression::escape(prefix), QRegularExpression::escape(suffix),
                                                 numberedCopies ? QStringLiteral("(?:_([0-9]+))?") : QString()))));
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
  const QRegularExpression staging(
      QRegularExpression::anchoredPattern(kStagingPattern.arg(QRegularExpression::escape(kVLPackageExtension))));
  for (const QString& tag : QDir(notes).entryList(QDir::Files | QDir::Hidden)) {
    if (!Process_RunTagHasEnded(tag)) continue;
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

LegacyReadFile U_ReadFileAsItStands(const QString& path, const struct stat& info) {
  return {path, static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino), static_cast<qint64>(info.st_size),
          static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

bool U_SameFile(const LegacyReadFile& a, const LegacyReadFile& b) {
  return a.size >= 0 && a.device == b.device && a.inode == b.inode && a.size == b.size && a.modifiedNs == b.modifiedNs;
}

// Removes a file that was read (or the link it was read through) while it is still that item, unchanged;
// through its folder opened without following a link, so a link put in place of the folder leads nowhere.
void U_RemoveReadFile(const LegacyReadFile& file) {
  const QFileInfo info(file.path);
  const int folder = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return;
  const QByteArray name = QFile::encodeName(info.fileName());
  struct stat now;
  if (::fstatat(folder, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && (S_ISREG(now.st_mode) || S_ISLNK(now.st_mode)) &&
      U_SameFile(file, U_ReadFileAsItStands(file.path, now))) {
    if (::unlinkat(folder, name.constData(), 0) != 0)
      ZRNLogger_Log(QStringLiteral("ATT: %@ could not be removed: %@"), file.path, Sys_ErrnoText(errno));
  } else {
    ZRNLogger_Log(QStringLiteral("ATT: %@ is no longer the file that was converted: it stays"), file.path);
  }
  ::close(folder);
}

// What is left in the old folder, as paths below it (the segments folder by its items).
QStringList U_LeftInFolder(const QString& folder) {
  QStringList left;
  const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
  for (const QFileInfo& entry : QDir(folder).entryInfoList(all, QDir::Name)) {
    const QStringList inside = entry.fileName() == QStringLiteral("segments") && entry.isDir() && !entry.isSymLink()
                                   ? QDir(entry.filePath()).entryList(all, QDir::Name)
                                   : QStringList();
    if (inside.isEmpty()) left << entry.fileName();
    for (const QString& name : inside) left << entry.fileName() + QLatin1Char('/') + name;
  }
  return left;
}

// Once its content lives on in the new package, the old folder gives up what the conversion read: its
// settings files and segments, each while still the file that was read, and the folders among the
// segments that hold nothing. The folder itself goes when nothing else is left in it; whatever else it
// holds (the user's notes or folders, hidden files, a file changed since) was not read and stays with
// it, and its paths below the folder are answered. A folder reached through a link loses only the link:
// what it points to was never ours to delete.
QStringList U_RemoveLegacyFolder(const QString& folder, const QList<LegacyReadFile>& readFiles) {
  if (QFileInfo(folder).isSymLink()) {
    if (!QFile::remove(folder)) ZRNLogger_Log(QStringLiteral("ATT: the link %@ could not be removed"), folder);
    return {};
  }
  for (const LegacyReadFile& file : readFiles) U_RemoveReadFile(file);
  const QString segments = QDir(folder).filePath(QStringLiteral("segments"));
  // rmdir takes a folder only when it is empty, and never a link.
  for (const QString& name : QDir(segments).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks))
    ::rmdir(QFile::encodeName(QDir(segments).filePath(name)).constData());
  ::rmdir(QFile::encodeName(segments).constData());
  if (::rmdir(QFile::encodeName(folder).constData()) == 0 || !U_ItemExists(folder)) return {};
  const QStringList kept = U_LeftInFolder(folder);
  ZRNLogger_Log(QStringLiteral("the old session folder %@ stays with what the conversion did not read: %@"), folder,
                kept.join(QStringLiteral(", ")));
  return kept;
}

// Tells that the old folder stayed, and with what (the first few of its items when there are many).
void U_TellFolderKept(const QString& folder, const QStringList& kept) {
  constexpr qsizetype kListed = 10;
  QString list = kept.mid(0, kListed).join(QLatin1Char('\n'));
  if (kept.size() > kListed)
    list += QLatin1Char('\n') + Fmt(QCoreApplication::translate("Localizable", "and %@ more"),
                                    QString::number(kept.size() - kListed));
  Alert_ShowAlertWithID(kAlertOldFolderKept, QFileInfo(folder).fileName(), list);
}

// The package an old folder becomes: its name with the package's extension, beside it.
QString U_PackagePathFor(const QString& legacyFolder) {
  const QFileInfo legacy(legacyFolder);
  return QDir(legacy.absolutePath()).filePath(legacy.completeBaseName() + QLatin1Char('.') + kVLPackageExtension);
}
}  // namespace

void Legacy_RemoveLeftovers() {
  U_RemoveLeftoversOfEndedRuns(StandardLocations::tempPath(), kLegacy_TemporaryPackagePrefix,
                               QLatin1Char('.') + kVLPackageExtension, true);
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

LegacyReadFile Legacy_NoteReadFile(const QString& path) {
  struct stat info;
  if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return {path};
  return U_ReadFileAsItStands(path, info);
}

bool Legacy_PutPackageInPlace(const QString& package, const QString& legacyFolder,
                              const QList<LegacyReadFile>& readFiles, LegacyConversionControl& control,
                              QString* error) {
  const QString target = U_PackagePathFor(legacyFolder);
  if (!Legacy_CopyPackageIntoPlace(package, target, error, &control)) return false;
  control.setInPlace();
  ZRNLogger_Log(QStringLiteral("old session converted into %@"), target);
  control.setKeptInOldFolder(U_RemoveLegacyFolder(legacyFolder, readFiles));
  U_RemoveTemporaryPackage(package);
  return true;
}

bool Legacy_ConvertSession(const QUrl& folderURL, const std::function<QWidget*()>& openConverted) {
  const QString folder = QDir::cleanPath(folderURL.toLocalFile());
  ZRNLogger_Log(QStringLiteral("converting old session %@"), folder);
  // What a killed conversion left: its temporary package, and a copy on its way to this target.
  Legacy_RemoveLeftovers();
  const QFileInfo target(U_PackagePathFor(folder));
  U_RemoveLeftoversOfEndedRuns(target.absolutePath(), U_StagingPrefix(target.fileName()), QString(), false);

  VLConvertLegacySessionWC controller;
  controller.setOpenConverted(openConverted);
  controller.setUpFor(QUrl::fromLocalFile(folder));
  Gui_RunApplicationModal(&controller);
  // A failure was told while the window was up; an abort or a quit ends quietly.
  controller.U_StopWork();
  const std::shared_ptr<VLDocument> document = controller.vlDocument();
  U_RemoveTemporaryPackage(document ? document->docURL().toLocalFile() : QString());
  controller.close();
  // Over the converted session's window: the old folder stayed with what was not part of the session.
  if (controller.conversionInPlace() && !controller.keptInOldFolder().isEmpty())
    U_TellFolderKept(folder, controller.keptInOldFolder());
  return controller.conversionInPlace();
}
