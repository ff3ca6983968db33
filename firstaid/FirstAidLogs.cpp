#include "firstaid/FirstAidLogs.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "common/ZRNSystemFunctions.h"
#include "firstaid/CrashLock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/SysErrno.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/ZipFile.h"
#include "platform/system/CrashReport.h"
#include "platform/system/ProcessIdentity.h"
#include "platform/system/Workspace.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QGuiApplication>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VELMORA_SUPPORT_ADDRESS
#define VELMORA_SUPPORT_ADDRESS "support@velmora.org"
#endif

extern char** environ;

namespace {
const QString kDebugLogsName = QStringLiteral("Debug_Logs");
constexpr int kArchiveLevel = 9;
// How many day folders of debug logs are kept.
constexpr int kKeptLogDays = 7;
// Larger files go into the archive in pieces of this size.
constexpr qint64 kCopyChunk = 1 << 20;
constexpr int kJournalTimeoutMs = 5000;
constexpr qint64 kJournalMaxBytes = 8 << 20;
// Where the saved logs are, or why they are not where they should be.
constexpr int kAlertLogsSaved = 20040;
constexpr int kAlertLogsKeptInTemporaryFolder = 20041;
constexpr int kAlertLogsNotSaved = 20042;
// The crash report's e-mail that no mail program took, without and with the logs saved instead.
constexpr int kAlertMailNotPrepared = 20048;
constexpr int kAlertMailNotPreparedLogsSaved = 20049;

QString hyphens(int count) { return QString(count, QLatin1Char('-')); }

// The eleven interface-state keys that say nothing about a problem.
const QStringList& reportHiddenKeys() {
  static const QStringList keys = {
      QStringLiteral("NSWindow Frame SUUpdateAlert"), QStringLiteral("NSWindow Frame ZRNFirstAid"),
      QStringLiteral("NSNavPanelExpandedSizeForOpenMode"), QStringLiteral("NSWindow Frame ZRNVLPlaybackWindow"),
      QStringLiteral("NSNavPanelExpandedSizeForSaveMode"), QStringLiteral("SUSendProfileInfo"),
      QStringLiteral("NSNavPanelExpandedStateForSaveMode"), QStringLiteral("NSNavLastUserSetHideExtensionButtonState"),
      QStringLiteral("NSWindow Frame ZRNLivePreviewW"), QStringLiteral("NSWindow Frame NSNavPanelAutosaveName"),
      QStringLiteral("NSSplitView Subview Frames CaptureWindow_MainSplitter")};
  return keys;
}

// Opens a plain file (never a link, a device or a pipe someone left there). The kind is checked on the
// opened file, so a pipe swapped in after a look at the name cannot hold the reader up.
bool openPlainFile(QFile& file, const QString& path) {
  return !QFileInfo(path).isSymLink() && SafeFile_OpenForReading(file, path);
}

QString readText(const QString& path, bool* ok = nullptr) {
  QFile file;
  const bool opened = openPlainFile(file, path);
  if (ok) *ok = opened;
  return opened ? QString::fromUtf8(file.readAll()) : QString();
}

// One report section: each report's text, separated by a rule, or the "none found" line.
QString reportSection(const QString& folder, const QStringList& names, const QString& noneFound) {
  QString section;
  bool first = true;
  for (const QString& name : names) {
    bool ok = false;
    const QString text = readText(folder + QLatin1Char('/') + name, &ok);
    if (!ok) continue;
    if (!first) section += hyphens(100) + QStringLiteral("\n\n");
    section += text;
    first = false;
  }
  if (names.isEmpty()) section = noneFound;
  return section + hyphens(100) + QStringLiteral("\n\n");
}

// Writes one entry from a file in pieces: the entry exists only for a plain, readable, non-empty file.
// Answers whether an entry was written.
bool writeFileEntry(ZipFile& zip, const QString& entryName, const QString& path, bool skipEmpty) {
  QFile file;
  const bool readable = openPlainFile(file, path);
  if (skipEmpty && (!readable || file.size() == 0)) return false;
  auto stream = zip.writeFileInZipWithName(entryName, kArchiveLevel);
  while (readable) {
    const QByteArray chunk = file.read(kCopyChunk);
    if (chunk.isEmpty()) break;
    stream->writeData(chunk);
  }
  stream->finishedWriting();
  return true;
}

void writeDataEntry(ZipFile& zip, const QString& entryName, const QByteArray& data) {
  auto stream = zip.writeFileInZipWithName(entryName, kArchiveLevel);
  stream->writeData(data);
  stream->finishedWriting();
}

// The system's reason behind a failed zip call, when it is one that says what went wrong with the disk.
QString diskReason(int error) {
  switch (error) {
    case ENOSPC: case EDQUOT: case EFBIG: case EIO: case EROFS: case EACCES: case EPERM:
      return QStringLiteral(": ") + Sys_ErrnoText(error);
    default:
      return {};
  }
}

// The closed archive is on disk, not empty, and reads back with every entry written into it. Empty when
// it is, else why not.
QString checkArchive(const QString& path, int entries) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return Fmt(QStringLiteral("the archive cannot be opened again: %@"), Sys_ErrnoText(errno));
  struct stat info {};
  const bool synced = ::fsync(fd) == 0;
  const int syncError = errno;
  const bool stated = ::fstat(fd, &info) == 0;
  ::close(fd);
  if (!synced) return Fmt(QStringLiteral("the archive could not be written to disk: %@"), Sys_ErrnoText(syncError));
  if (!stated || info.st_size <= 0) return QStringLiteral("the archive is empty");
  try {
    ZipFile reread(path, ZipFile::ZipFileModeUnzip);
    const quint64 found = reread.numFilesInZip();
    reread.close();
    if (found != quint64(entries))
      return Fmt(QStringLiteral("the archive holds %ld of its %ld entries"), long(found), long(entries));
  } catch (const ZipException& e) {
    return QStringLiteral("the archive cannot be read back: ") + e.reason();
  }
  return {};
}

// Copies the archive into `target` through a hidden name beside it: written, synced and checked to have
// every byte before it takes its name. Empty when it stands whole, else why not (nothing is left).
QString copyArchive(const QString& archive, const QString& target) {
  const QFileInfo place(target);
  const QString part = place.absolutePath() + Fmt(QStringLiteral("/.%@.%ld.part"), place.fileName(), long(::getpid()));
  int error = SafeFile_CopyNew(archive, part, 0644);
  if (error == 0) {
    error = SafeFile_MoveNoReplace(part, target);
    if (error != 0) ::unlink(QFile::encodeName(part).constData());
  }
  if (error == 0) return {};
  return Fmt(QStringLiteral("%@ could not be written: %@"), target, Sys_ErrnoText(error));
}

// Puts the archive under the first free name for the archive in the folder; *target gets the path.
// Empty when it is there whole and the temporary one is gone, else why not (the temporary one stays).
QString putArchiveInFolder(const QString& archive, const QString& folder, QString* target) {
  const QString name = File_UniqueFileName(folder, kFirstAid_ArchiveName);
  if (name.isEmpty()) return Fmt(QStringLiteral("there is no free name for it in %@"), folder);
  *target = folder + QLatin1Char('/') + name;
  // On the same file system one rename puts it there whole.
  const int moved = SafeFile_MoveNoReplace(archive, *target);
  if (moved != 0 && moved != EXDEV) return Fmt(QStringLiteral("%@ could not be written: %@"), folder, Sys_ErrnoText(moved));
  if (moved == EXDEV) {
    const QString failure = copyArchive(archive, *target);
    if (!failure.isEmpty()) return failure;
    QFile::remove(archive);
  }
  SafeFile_SyncPath(folder);
  return {};
}

QByteArray prefsPlistBytes() {
  UserDefaults::standard().synchronize();
  const QString temp = StandardLocations::tempPath() + QStringLiteral("/pref_plist.tmp");
  QByteArray bytes;
  if (PropertyList_WriteFile(temp, File_InterfaceDefaultsKeys(), PropertyListFormat::XML)) {
    QFile file(temp);
    if (file.open(QIODevice::ReadOnly)) bytes = file.readAll();
  }
  QFile::remove(temp);
  return bytes;
}

QMutex gMailtoMutex;
QUrl gLastMailtoURL;
}  // namespace

bool FirstAid_InstallCrashReporter() {
  return CrashReport_Install(FirstAid_UserDiagnosticReportsPath(), kFirstAid_ExecutableName,
                             QStringLiteral(VELMORA_VERSION_STRING));
}

QString FirstAid_UserDiagnosticReportsPath() { return StandardLocations::logsFolderPath() + QStringLiteral("/DiagnosticReports"); }

QString FirstAid_DebugLogsPath() { return StandardLocations::logsFolderPath() + QLatin1Char('/') + kDebugLogsName; }

QStringList FirstAid_FilesWithPrefixAndSuffix(const QString& executableName, const QString& folderPath,
                                              const QString& suffix) {
  QStringList found;
  if (!QFileInfo(folderPath).isDir()) return found;
  const QString prefix = executableName + QLatin1Char('_');
  const QDir folder(folderPath);
  QDirIterator it(folderPath, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString relative = folder.relativeFilePath(it.next());
    if (relative.startsWith(prefix) && relative.endsWith(suffix)) found << relative;
  }
  // The directory's own order is arbitrary here; by name, the stamped reports come oldest first, so that
  // "the last one listed" is the newest.
  found.sort();
  return found;
}

QStringList FirstAid_DebugLogDayFolders(const QString& logsFolder, const QString& debugLogsName) {
  const QString debugLogs = logsFolder + QLatin1Char('/') + debugLogsName;
  QStringList days;
  for (const QString& name : QDir(debugLogs).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
    if (name.size() == 8) days << debugLogs + QLatin1Char('/') + name;
  return days;
}

QStringList FirstAid_DebugLogFiles(const QString& logsFolder, const QString& debugLogsName) {
  QStringList files;
  for (const QString& day : FirstAid_DebugLogDayFolders(logsFolder, debugLogsName)) {
    // A day "folder" that is a link or a file is not ours to read into.
    if (!QFileInfo(day).isDir() || QFileInfo(day).isSymLink()) continue;
    const QString dayName = QFileInfo(day).fileName();
    for (const QString& name : QDir(day).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
      files << dayName + QLatin1Char('/') + name;
  }
  return files;
}

QVariantMap FirstAid_PrefsDomainWithoutKeys(const QStringList& keys) {
  QVariantMap domain = UserDefaults::standard().persistentDomain();
  for (const QString& key : keys) domain.remove(key);
  return domain;
}

QString FirstAid_SystemLogText() {
  const QString journalctl = QStandardPaths::findExecutable(QStringLiteral("journalctl"));
  const ExecutableIdentity own = Process_OwnExecutable();
  if (journalctl.isEmpty() || !own.isValid()) return {};
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(journalctl, {QStringLiteral("--user"), QStringLiteral("-b"), QStringLiteral("--no-pager"),
                             QStringLiteral("_EXE=") + own.path});
  if (!process.waitForStarted(kJournalTimeoutMs)) return {};
  QByteArray output;
  while (process.state() != QProcess::NotRunning && output.size() < kJournalMaxBytes) {
    if (!process.waitForReadyRead(kJournalTimeoutMs)) break;
    output += process.readAllStandardOutput();
  }
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished(1000);
  }
  output += process.readAllStandardOutput();
  // journalctl says "-- No entries --" when there is nothing.
  if (output.trimmed().startsWith("-- No entries --")) return {};
  return QString::fromUtf8(output.left(kJournalMaxBytes));
}

bool FirstAid_MailerCanAttach(const QString& mailerName) {
  static const QStringList attaching = {QStringLiteral("thunderbird"), QStringLiteral("evolution"), QStringLiteral("kmail")};
  if (!attaching.contains(mailerName.toLower())) return false;
  return !QStandardPaths::findExecutable(QStringLiteral("xdg-email")).isEmpty();
}

namespace {
// The name a mail program goes by when none is installed (as ZRNAppSetup::currentMailerName says).
QString U_MailerOrStandIn(const QString& installed) { return installed.isEmpty() ? QStringLiteral("Mail") : installed; }

// The report for the installed mail program (looking it up starts xdg-mime, so it is done once).
QString U_PrepareCrashLogFor(const QString& userText, bool withPrefs, const QString& installed);
}  // namespace

QString U_PrepareCrashLog(const QString& userText, bool withPrefs) {
  return U_PrepareCrashLogFor(userText, withPrefs, ZRNAppSetup::sharedAppSetup()->installedMailerName());
}

namespace {
QString U_PrepareCrashLogFor(const QString& userText, bool withPrefs, const QString& installed) {
  QString report;
  report.reserve(4096);
  const QString mailer = U_MailerOrStandIn(installed);
  // Support reads which program the user has, not the stand-in name used when there is none.
  report += QLatin1Char('\n') + hyphens(35) + QStringLiteral("Mail program:  ") +
            (installed.isEmpty() ? QStringLiteral("none") : installed) + QLatin1Char('\n');
  if (FirstAid_MailerCanAttach(mailer)) {
    // The reports and the system log travel in the attached archive.
    if (!userText.isEmpty()) report += userText + QLatin1Char('\n');
    report += QLatin1Char('\n') + hyphens(100) + QStringLiteral("\n\n");
  } else {
    if (!userText.isEmpty()) report += userText + QLatin1Char('\n') + hyphens(100) + QStringLiteral("\n\n");
    const QString reports = FirstAid_UserDiagnosticReportsPath();
    report += reportSection(reports, FirstAid_FilesWithPrefixAndSuffix(kFirstAid_ExecutableName, reports, QStringLiteral(".crash")),
                            QStringLiteral("No Crash logs found.\n"));
    // Linux writes no hang or diagnostic reports.
    report += reportSection(QString(), {}, QStringLiteral("No .hang logs found.\n"));
    report += reportSection(QString(), {}, QStringLiteral("No .diag logs found.\n"));
    report += FirstAid_SystemLogText();
    report += hyphens(100) + QStringLiteral("\n\n");
  }
  report += Sys_SystemReport();
  if (withPrefs)
    report += hyphens(50) + QStringLiteral("\n\nProgram Preferences:\n") +
              Fmt_DescribeVariant(FirstAid_PrefsDomainWithoutKeys(reportHiddenKeys())) + QStringLiteral("\n\n\n");
  return report;
}
}  // namespace

QString FirstAid_CreateCrashLogsZip(const QString& reportText, QString* failure) {
  const QString temp = StandardLocations::tempPath();
  const QString name = File_UniqueFileName(temp, kFirstAid_ArchiveName);
  QString path, why;
  int entries = 0;
  std::unique_ptr<ZipFile> zip;
  try {
    if (name.isEmpty()) throw ZipException(-43, QStringLiteral("Error in creating logs zip file"));
    path = temp + QLatin1Char('/') + name;
    zip = std::make_unique<ZipFile>(path, ZipFile::ZipFileModeCreate);
    if (!reportText.isEmpty()) {
      writeDataEntry(*zip, QStringLiteral("ksu_SystemInfo.txt"), reportText.toUtf8());
      ++entries;
    }
    const QString reports = FirstAid_UserDiagnosticReportsPath();
    for (const QString& report : FirstAid_FilesWithPrefixAndSuffix(kFirstAid_ExecutableName, reports, QStringLiteral(".crash")))
      entries += writeFileEntry(*zip, report, reports + QLatin1Char('/') + report, false) ? 1 : 0;
    const QString logs = StandardLocations::logsFolderPath();
    for (const QString& file : FirstAid_DebugLogFiles(logs, kDebugLogsName))
      entries += writeFileEntry(*zip, kDebugLogsName + QLatin1Char('/') + file, FirstAid_DebugLogsPath() + QLatin1Char('/') + file, true) ? 1 : 0;
    writeDataEntry(*zip, QStringLiteral("vl_prefs.plist"), prefsPlistBytes());
    writeDataEntry(*zip, QStringLiteral("system.log"), FirstAid_SystemLogText().toUtf8());
    entries += 2;
    zip->close();
  } catch (const ZipException& e) {
    const int error = errno;
    ZRNLogger_Log(QStringLiteral("ZipException caught: %ld - %@"), static_cast<long>(e.error()), e.reason());
    why = e.reason() + diskReason(error);
  } catch (const std::exception& e) {
    ZRNLogger_Log(QStringLiteral("Exception caught: %@ - %@"), QStringLiteral("std::exception"), QString::fromUtf8(e.what()));
    why = QString::fromUtf8(e.what());
  }
  // What was written before a failure stays a readable archive.
  zip.reset();
  if (why.isEmpty() && !path.isEmpty()) why = checkArchive(path, entries);
  if (!why.isEmpty()) ZRNLogger_Log(QStringLiteral("ERR: the crash-log archive %@ is not complete: %@"), path, why);
  if (failure) *failure = why;
  return path;
}

FirstAidSavedLogs UU_CreateCrashLogsZip() {
  FirstAidSavedLogs saved;
  const QString report = U_PrepareCrashLog(QString(), true);
  QString failure;
  saved.path = FirstAid_CreateCrashLogsZip(report, &failure);
  if (saved.path.isEmpty() || !failure.isEmpty()) {
    saved.reason = failure;
    if (saved.path.isEmpty()) saved.path = StandardLocations::tempPath();
    return saved;
  }
  QString target;
  failure = putArchiveInFolder(saved.path, StandardLocations::desktopPath(), &target);
  if (!failure.isEmpty()) {
    // The archive is whole where it is; the user is told where.
    ZRNLogger_Log(QStringLiteral("ATT: the crash logs stay in %@: %@"), saved.path, failure);
    saved.outcome = FirstAidSavedLogs::Outcome::KeptInTemporaryFolder;
    saved.reason = failure;
    return saved;
  }
  ZRNLogger_Log(QStringLiteral("crash logs saved: %@"), target);
  saved.outcome = FirstAidSavedLogs::Outcome::Saved;
  saved.path = target;
  return saved;
}

void FirstAid_TellSavedLogs(const FirstAidSavedLogs& saved) {
  switch (saved.outcome) {
    case FirstAidSavedLogs::Outcome::Saved:
      Alert_ShowAlertWithID(kAlertLogsSaved, saved.path);
      break;
    case FirstAidSavedLogs::Outcome::KeptInTemporaryFolder:
      Alert_ShowAlertWithID(kAlertLogsKeptInTemporaryFolder, saved.path, saved.reason);
      break;
    case FirstAidSavedLogs::Outcome::NotSaved:
      Alert_ShowAlertWithID(kAlertLogsNotSaved, saved.path, saved.reason);
      break;
  }
}

QString FirstAid_SupportAddress() { return QStringLiteral(VELMORA_SUPPORT_ADDRESS); }

QString FirstAid_ReportSubject() {
  return QCoreApplication::translate("Localizable", "Velmora %1 Crash Report").arg(QStringLiteral(VELMORA_VERSION_STRING));
}

QUrl FirstAid_LastMailtoURL() {
  QMutexLocker locker(&gMailtoMutex);
  return gLastMailtoURL;
}

namespace {
// A report that no mail program took is not lost: the logs are saved on the Desktop (as "Save logs"
// does) and the user is told where, to send them himself. Logs to be cleared go only once a mail
// program has taken the report, so the archive saved here still holds them.
void U_TellMailNotPrepared(const QString& reason) {
  Dispatch_GlobalAsync([reason] {
    const FirstAidSavedLogs logs = UU_CreateCrashLogsZip();
    // An archive kept in the temporary folder is whole too; one that could not be made whole is not offered.
    const QString saved = logs.outcome == FirstAidSavedLogs::Outcome::NotSaved ? QString() : logs.path;
    if (saved.isEmpty())
      Alert_ShowHandOffFailure(kAlertMailNotPrepared, FirstAid_SupportAddress(), reason);
    else
      Alert_ShowHandOffFailure(kAlertMailNotPreparedLogsSaved, FirstAid_SupportAddress(),
                               QVariantList{reason, FirstAid_SupportAddress(), saved});
  });
}

void U_ClearOlderCrashLogsIf(bool cleanUp) {
  if (cleanUp) Dispatch_GlobalAsync([] { clearOlderCrashLogs(); });
}
}  // namespace

bool emailCrashReportUsingScriptFor(const QString& mailerName, const QString& body, const QString& archivePath,
                                    bool cleanUpOnceTaken) {
  if (QStandardPaths::findExecutable(QStringLiteral("xdg-email")).isEmpty()) return false;
  const QStringList arguments = {QStringLiteral("--subject"), FirstAid_ReportSubject(), QStringLiteral("--body"), body,
                                 QStringLiteral("--attach"), archivePath, FirstAid_SupportAddress()};
  // On the main thread, which outlives xdg-email for as long as it waits for the mail program; its exit
  // status says whether the mail program took the report.
  Dispatch_MainAsync([mailerName, arguments, cleanUpOnceTaken] {
    Workspace_ComposeMail(arguments, qApp, [mailerName, cleanUpOnceTaken](bool taken, const QString& reason) {
      ZRNLogger_Log(QStringLiteral("crash report to %@ through xdg-email: %@"), mailerName,
                    taken ? QStringLiteral("handed over") : reason);
      if (taken) U_ClearOlderCrashLogsIf(cleanUpOnceTaken);
      else U_TellMailNotPrepared(reason);
    });
  });
  return true;
}

QUrl UU_EmailOurCrashLogs(const QString& userText, bool cleanUp) {
  const QString installed = ZRNAppSetup::sharedAppSetup()->installedMailerName();
  const QString report = U_PrepareCrashLogFor(userText, true, installed);
  const QString mailer = U_MailerOrStandIn(installed);
  QUrl archiveURL;
  if (FirstAid_MailerCanAttach(mailer)) {
    const QString archive = FirstAid_CreateCrashLogsZip(QString());
    if (!emailCrashReportUsingScriptFor(mailer, report, archive, cleanUp))
      U_TellMailNotPrepared(QStringLiteral("xdg-email is not installed."));
    archiveURL = QUrl::fromLocalFile(archive);
  } else {
    const QByteArray subject = QUrl::toPercentEncoding(FirstAid_ReportSubject());
    const QByteArray body = QUrl::toPercentEncoding(report);
    const QUrl url(QStringLiteral("mailto:%1?subject=%2&Body=%3")
                       .arg(FirstAid_SupportAddress(), QString::fromLatin1(subject), QString::fromLatin1(body)));
    {
      QMutexLocker locker(&gMailtoMutex);
      gLastMailtoURL = url;
    }
    ZRNLogger_Log(QStringLiteral("crash report as a mailto: URL to %@"), FirstAid_SupportAddress());
    // The desktop is asked on the main thread; without a mail program it takes nothing.
    Dispatch_MainAsync([url, cleanUp] {
      if (Workspace_OpenURL(url)) U_ClearOlderCrashLogsIf(cleanUp);
      else U_TellMailNotPrepared(QStringLiteral("No mail program on this desktop takes it."));
    });
  }
  return archiveURL;
}

void clearOlderCrashLogs() {
  const QString reports = FirstAid_UserDiagnosticReportsPath();
  const QStringList crashes = FirstAid_FilesWithPrefixAndSuffix(kFirstAid_ExecutableName, reports, QStringLiteral(".crash"));
  for (qsizetype i = 0; i + 1 < crashes.size(); ++i) QFile::remove(reports + QLatin1Char('/') + crashes[i]);
  const QString debugLogs = FirstAid_DebugLogsPath();
  for (const QString& file : FirstAid_DebugLogFiles(StandardLocations::logsFolderPath(), kDebugLogsName)) {
    const QString path = debugLogs + QLatin1Char('/') + file;
    if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink()) QDir(path).removeRecursively();
    else QFile::remove(path);
  }
}

void FirstAid_PruneDebugLogDays() {
  QStringList days = FirstAid_DebugLogDayFolders(StandardLocations::logsFolderPath(), kDebugLogsName);
  if (days.size() <= kKeptLogDays) return;
  QCollator numeric;
  numeric.setNumericMode(true);
  std::sort(days.begin(), days.end(), [&](const QString& a, const QString& b) {
    return numeric.compare(QFileInfo(a).fileName(), QFileInfo(b).fileName()) > 0;
  });
  for (qsizetype i = kKeptLogDays; i < days.size(); ++i) {
    const QFileInfo info(days[i]);
    // A link goes, not what it points to.
    if (info.isDir() && !info.isSymLink()) QDir(days[i]).removeRecursively();
    else QFile::remove(days[i]);
  }
}

QString FirstAid_RelaunchToolPath() {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/relaunchMe");
}

int FirstAid_ResetPreferencesAndStartRelaunch(const QString& toolPath, const QString& applicationPath) {
  int writeEnd = -1;
  int pipeFds[2] = {-1, -1};
  if (!QFileInfo(toolPath).isExecutable() || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
    ZRNLogger_Log(QStringLiteral("relaunchMe tool NOT found."));
  } else {
    // The tool's standard input is the read end; ours keeps the write end until the process ends, so
    // the tool sees end-of-file exactly when we are gone. Close-on-exec keeps other children from
    // holding it open.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
    const QByteArray tool = QFile::encodeName(toolPath);
    const QByteArray app = QFile::encodeName(applicationPath);
    char* argv[] = {const_cast<char*>(tool.constData()), const_cast<char*>(app.constData()), nullptr};
    pid_t pid = 0;
    const int err = posix_spawn(&pid, tool.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[0]);
    if (err != 0) {
      ::close(pipeFds[1]);
      ZRNLogger_Log(QStringLiteral("ERR: relaunchMe did not start: %@"), Sys_ErrnoText(err));
    } else {
      writeEnd = pipeFds[1];
      ZRNLogger_Log(QStringLiteral("relaunchMe started (%d) for %@"), static_cast<int>(pid), applicationPath);
    }
  }
  // Cleared before the file goes, so that the cleared values are not written back afterwards.
  Prefs_ClearAllUserDefaults();
  const QString prefsFile = ZRNAppSetup::sharedAppSetup()->appPreferencesFilepath();
  if (!prefsFile.isEmpty()) QFile::remove(prefsFile);
  return writeEnd;
}
