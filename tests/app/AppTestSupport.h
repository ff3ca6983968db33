#pragma once
// Helpers shared by the application tests: fresh preferences, reading the log and the environment of a
// started executable (with the modal-dialog and time-zone helpers).

#include "app/ZRNAppPrefs.h"
#include "app/ZRNAppSetup.h"
#include "app/ZRNLogger.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/PrivateDBus.h"
#include "tests/app/DialogTestSupport.h"
#include "tests/app/ScopedTimeZone.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

// A first launch: no preferences file, only the built-in defaults. `launched`: a launch of this version
// that has just seen the startup note, so nothing is wiped and no note shows.
inline void Test_FreshPrefs(bool launched = false) {
  UserDefaults::resetStandard();
  QFile::remove(StandardLocations::preferencesFilePath());
  Prefs_RegisterDefaultPrefs();
  if (!launched) return;
  UserDefaults::standard().setInteger(QStringLiteral("ZRNPreferencesVersion"), kZRNPreferencesVersionCurrent);
  UserDefaults::standard().setObject(QStringLiteral("HVNoteDate"), QDateTime::currentDateTimeUtc());
}

// Everything logged so far (stopping the logger flushes its queue); the logger runs again afterwards.
inline QString Test_LoggedText() {
  ZRNLogger_Stop();
  QFile file(ZRNAppSetup::sharedAppSetup()->zrnDebugLogPathFor(QStringLiteral("Debug")));
  const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  ZRNLogger_Start(1);
  return text;
}

// The environment of the real executable started offscreen with `home` as its temporary HOME.
inline QProcessEnvironment Test_ExecutableEnvironment(const QString& home, bool virtualDevices = true) {
  QProcessEnvironment env;
  env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
  env.insert(QStringLiteral("HOME"), home);
  for (const auto& [name, sub] : {std::pair{"XDG_CONFIG_HOME", "/.config"}, {"XDG_DATA_HOME", "/.local/share"},
                                  {"XDG_STATE_HOME", "/.local/state"}, {"XDG_CACHE_HOME", "/.cache"}})
    env.insert(QString::fromLatin1(name), home + QString::fromLatin1(sub));
  const QString runtime = home + QStringLiteral("/.run");
  QDir().mkpath(runtime);
  QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  if (virtualDevices) env.insert(QStringLiteral("VELMORA_VIRTUAL_DEVICES"), QStringLiteral("1"));
  return env;
}
