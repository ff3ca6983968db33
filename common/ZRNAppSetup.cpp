#include "common/ZRNAppSetup.h"

#include "common/ZRNLogger.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/system/SystemInfo.h"
#include "platform/system/Workspace.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace {
// Not asked yet (-1), no (0), yes (1).
std::atomic<int> gHasMailer{-1};
}  // namespace

ZRNAppSetup* ZRNAppSetup::sharedAppSetup() {
  static ZRNAppSetup* shared = new ZRNAppSetup();
  return shared;
}

bool ZRNAppSetup::machine_hasMailer() {
  if (gHasMailer < 0) {
    const QString entry = Workspace_DesktopEntryPath(Workspace_MailtoHandlerDesktopID());
    gHasMailer = entry.isEmpty() ? 0 : 1;
  }
  return gHasMailer == 1;
}

QString ZRNAppSetup::installedMailerName() {
  const QString entry = Workspace_DesktopEntryPath(Workspace_MailtoHandlerDesktopID());
  return entry.isEmpty() ? QString() : Workspace_DesktopEntryExecutableName(entry);
}

QString ZRNAppSetup::currentMailerName() {
  const QString name = installedMailerName();
  return name.isEmpty() ? QStringLiteral("Mail") : name;
}

bool ZRNAppSetup::mailerSupportsApplescript(const QString& mailerName) const {
  return mailerName == QLatin1String("Mail") || mailerName == QLatin1String("Microsoft Outlook");
}

QString ZRNAppSetup_LogsDirectory() {
  const QString path = StandardLocations::logsFolderPath();
  if (!QDir().mkpath(path)) {
    std::fprintf(stderr, "ERROR in logsDir: %s\n", qPrintable(path));
    return QString();
  }
  return path;
}

QString ZRNAppSetup::zrnDebugLogsFolderPath() {
  const QString logs = ZRNAppSetup_LogsDirectory();
  if (logs.isEmpty()) return QString();
  const QString debugLogs = logs + QStringLiteral("/Debug_Logs");
  if (!QDir().mkpath(debugLogs)) return logs;
  const QDate today = QDateTime::currentDateTimeUtc().date();
  const QString day = debugLogs + QLatin1Char('/') +
                      Fmt(QStringLiteral("%04ld%02ld%02ld"), today.year(), today.month(), today.day());
  if (!QDir().mkpath(day)) return logs;
  return day;
}

QString ZRNAppSetup::zrnDebugLogPathFor(const QString& name) {
  if (m_debugLogFilename.isEmpty()) {
    const QString folder = zrnDebugLogsFolderPath();
    if (folder.isEmpty()) return QString();
    m_debugLogFilename = folder + QLatin1Char('/') + Fmt(QStringLiteral("%d_%@.log"), static_cast<int>(getpid()), name);
  }
  return m_debugLogFilename;
}

QString ZRNAppSetup::getSessionShortUserName() const {
  const struct passwd* entry = getpwuid(getuid());
  if (!entry) {
    ZRNLogger_Log(QStringLiteral("Unable to get session dictionary."));
    return QString();
  }
  const QString name = QString::fromLocal8Bit(entry->pw_name ? entry->pw_name : "");
  return name.isEmpty() ? QString() : name;
}

int32_t ZRNAppSetup::getSessionUserID() const {
  // The real user, not the effective one: the person logged in, whatever the executable's set-user bits.
  return static_cast<int32_t>(getuid());
}

bool ZRNAppSetup::isRunningFromReadOnlyVolume() const {
  QString executable = QCoreApplication::applicationFilePath();
  if (executable.isEmpty()) executable = QFile::decodeName(QByteArray("/proc/self/exe"));
  return SystemInfo_IsOnReadOnlyFileSystem(executable);
}

QString ZRNAppSetup::appPreferencesFilepath() const { return StandardLocations::preferencesFilePath(); }

ZRNAppSetup* gZRNAppSetup = nullptr;

bool ZRNAppSetup_HasMicrophoneAccess() { return gZRNAppSetup ? gZRNAppSetup->hasMicrophoneAccess() : true; }
