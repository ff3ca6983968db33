#include "app/ZRNAppSetup.h"

#include "platform/foundation/Fmt.h"
#include "platform/foundation/StandardLocations.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

#include <cstdio>
#include <unistd.h>

ZRNAppSetup* ZRNAppSetup::sharedAppSetup() {
  static ZRNAppSetup* shared = new ZRNAppSetup();
  return shared;
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
