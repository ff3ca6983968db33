#pragma once
// What first aid collects and sends: the crash report text, the zip archive of crash reports, debug logs
// and preferences, the e-mail to support, the reset of the preferences with a relaunch, and the
// clean-up of old reports and of old debug-log days.
//
// Where things are on Linux:
// - crash reports: "<executable>_<UTC stamp>.crash" in <state>/org.velmora.Velmora/DiagnosticReports,
//   written by the fatal-signal handler (FirstAid_InstallCrashReporter);
// - debug logs: <state>/org.velmora.Velmora/Debug_Logs/<yyyymmdd>/<pid>_Debug.log;
// - the system log: this boot's journal lines of our executable (journalctl), when there is a journal.
// Linux has no hang or diagnostic reports: those sections say none were found.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>

inline const QString kFirstAid_ArchiveName = QStringLiteral("Velmora_CrashLogs.zip");
inline constexpr int kFirstAid_ActionReset = 0;
inline constexpr int kFirstAid_ActionSaveLogs = 1;
inline constexpr int kFirstAid_ActionEmail = 2;

// Installs the fatal-signal handler that writes crash reports into FirstAid_UserDiagnosticReportsPath().
bool FirstAid_InstallCrashReporter();

// Folders read.
QString FirstAid_UserDiagnosticReportsPath();
QString FirstAid_DebugLogsPath();  // <logs>/Debug_Logs
// Paths relative to the folder (deep) of the entries named "<executable>_..." that end with the suffix,
// sorted by name (for stamped reports: oldest first).
QStringList FirstAid_FilesWithPrefixAndSuffix(const QString& executableName, const QString& folderPath,
                                              const QString& suffix);
// Full paths of the day folders (names of exactly 8 characters) in <logsFolder>/<debugLogsName>; empty
// when there are none.
QStringList FirstAid_DebugLogDayFolders(const QString& logsFolder, const QString& debugLogsName);
// "<day>/<file>" of every entry inside those day folders; empty when there are none.
QStringList FirstAid_DebugLogFiles(const QString& logsFolder, const QString& debugLogsName);
// The stored preferences without the given keys.
QVariantMap FirstAid_PrefsDomainWithoutKeys(const QStringList& keys);
// The current boot's journal lines of our executable; empty without a journal.
QString FirstAid_SystemLogText();

// Whether the mail program can take the archive as an attachment (through xdg-email): Thunderbird,
// Evolution and KMail can, when xdg-email is installed.
bool FirstAid_MailerCanAttach(const QString& mailerName);

// The crash report: mail program, the user's text, the reports (unless they travel in an archive), the
// system log, the system report and, with prefs, the stored preferences.
QString U_PrepareCrashLog(const QString& userText, bool withPrefs);

// Builds the archive in the temporary folder under the first free name for "Velmora_CrashLogs.zip" and
// answers its path (empty when no name could be had). Entries (level 9): "ksu_SystemInfo.txt" (the report,
// when not empty), the crash reports, the debug logs as Debug_Logs/<day>/<file> (empty ones left out),
// "vl_prefs.plist" and "system.log". The archive counts only when every entry was written, it closed
// without error, it is on disk and it reads back with all its entries; otherwise *failure says why (what
// was written stays, as a readable zip as far as it goes).
QString FirstAid_CreateCrashLogsZip(const QString& reportText, QString* failure = nullptr);

// How the save-logs action ended.
struct FirstAidSavedLogs {
  enum class Outcome {
    Saved,                  // the archive is at `path` (the Desktop, or the home folder without one)
    KeptInTemporaryFolder,  // the archive is whole, but stays at `path` in the temporary folder: `reason`
    NotSaved,               // the archive could not be made whole; what was written is at `path`
  };
  Outcome outcome = Outcome::NotSaved;
  QString path;
  QString reason;
};

// The save-logs action: the archive with the report, checked, then moved to the first free name for
// "Velmora_CrashLogs.zip" on the Desktop (copied, synced and checked when the Desktop is on another
// file system). The temporary archive goes only once the saved one stands whole.
FirstAidSavedLogs UU_CreateCrashLogsZip();
// Tells the user where the logs are, or why they are not where they should be. Main thread.
void FirstAid_TellSavedLogs(const FirstAidSavedLogs& saved);

// The e-mail action. With a mail program that takes attachments: the archive (without the report, which
// is the body) is attached through xdg-email and its path answered. Otherwise the report goes as the
// body of a mailto: URL and nothing is answered. cleanUp deletes older reports and the debug logs once
// the mail program has taken the report; when none takes it they stay, and are saved on the Desktop.
QUrl UU_EmailOurCrashLogs(const QString& userText, bool cleanUp);
// Starts xdg-email with the support address, the subject, the body and the archive as attachment;
// with cleanUpOnceTaken, clears the older logs when the mail program has taken it.
bool emailCrashReportUsingScriptFor(const QString& mailerName, const QString& body, const QString& archivePath,
                                    bool cleanUpOnceTaken = false);
// "Velmora <version> Crash Report".
QString FirstAid_ReportSubject();
// The address crash reports are sent to (set when building).
QString FirstAid_SupportAddress();
// The URL the last mailto: route opened (for the log and the tests).
QUrl FirstAid_LastMailtoURL();

// Of our crash reports, all but the newest are deleted; every file inside the debug-log day
// folders is deleted (the day folders stay).
void clearOlderCrashLogs();
// Keeps the seven newest debug-log day folders (numeric order of their yyyymmdd names), deletes the rest.
void FirstAid_PruneDebugLogDays();

// The reset: starts the relaunch tool (which waits until this process has ended, then starts
// `applicationPath` again), deletes the preferences file and every stored default. Answers the write end
// of the tool's standard input (kept open until this process ends), or -1 when the tool did not start.
int FirstAid_ResetPreferencesAndStartRelaunch(const QString& toolPath, const QString& applicationPath);
// The relaunch tool installed beside our executable.
QString FirstAid_RelaunchToolPath();
