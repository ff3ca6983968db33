#include "platform/foundation/StandardLocations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
QString xdgOr(const char* variable, const QString& fallbackBelowHome) {
  const QString value = qEnvironmentVariable(variable);
  // The XDG rules ignore relative paths.
  if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
  return QDir::cleanPath(StandardLocations::homePath() + QLatin1Char('/') + fallbackBelowHome);
}
}  // namespace

namespace StandardLocations {
QString appIdentifier() { return QStringLiteral("org.velmora.Velmora"); }
QString homePath() {
  const QString home = qEnvironmentVariable("HOME");
  return home.isEmpty() ? QDir::homePath() : home;
}
QString configHome() { return xdgOr("XDG_CONFIG_HOME", QStringLiteral(".config")); }
QString dataHome() { return xdgOr("XDG_DATA_HOME", QStringLiteral(".local/share")); }
QString stateHome() { return xdgOr("XDG_STATE_HOME", QStringLiteral(".local/state")); }
QString preferencesFilePath() { return configHome() + QLatin1Char('/') + appIdentifier() + QStringLiteral(".plist"); }
QString applicationSupportPath() { return dataHome() + QLatin1Char('/') + appIdentifier(); }
QString logsFolderPath() { return stateHome() + QLatin1Char('/') + appIdentifier(); }
QString tempPath() { return QDir::tempPath(); }
QString desktopPath() {
  // Many Linux desktops have no Desktop folder; a panel pointed at a missing folder would open in the
  // working directory instead, so the home folder stands in.
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (!desktop.isEmpty() && QFileInfo(desktop).isDir()) return desktop;
  return homePath();
}
}  // namespace StandardLocations
