#pragma once
// Helpers shared by the application tests: fresh preferences, reading the log and the environment of a
// started executable (with the modal-dialog and time-zone helpers).

#include "app/ZRNAppDelegate.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNLogger.h"
#include "common/ZRNRecentDocument.h"
#include "capture/VLLiveWC.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/capture/VirtualDevices.h"
#include "platform/system/PrivateDBus.h"
#include "support/TestSupport.h"
#include "support/DialogTestSupport.h"
#include "support/ScopedTimeZone.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QProcessEnvironment>
#include <QTest>

#include <gtest/gtest.h>

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

// Writes the preferences file of a launch of this version that has just seen the startup note.
inline bool Test_SeedLaunchedPrefs(const QString& prefsFile) {
  UserDefaults seeded(prefsFile);
  seeded.setInteger(QStringLiteral("ZRNPreferencesVersion"), kZRNPreferencesVersionCurrent);
  seeded.setObject(QStringLiteral("HVNoteDate"), QDateTime::currentDateTimeUtc());
  return seeded.synchronize();
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
  // A suite run under the sanitizers runs the executable under them too, with the same options.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
    if (qEnvironmentVariableIsSet(name)) env.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
  return env;
}

// Starts the delegate as the application starts, on the virtual devices, and waits until its new live
// window asks for the recording's name: that window, or null when it did not ask in time.
inline VLLiveWC* Test_LaunchToNamingPanel(ZRNAppDelegate& delegate) {
  VirtualDevices_Plug(true, true);
  delegate.applicationWillFinishLaunching();
  delegate.applicationDidFinishLaunching();
  const bool asked = Test_WaitUntil(
      [] { return VLLiveWC_Current() && VLLiveWC_Current()->savePanel() && VLLiveWC_Current()->savePanel()->isVisible(); },
      20000);
  return asked ? VLLiveWC_Current() : nullptr;
}

// Launches as Test_LaunchToNamingPanel does, names the recording (the panel's own proposal when name is
// empty) and presses Start Recording: the recording live window, or null when a step did not come in time.
inline VLLiveWC* Test_LaunchAndRecord(ZRNAppDelegate& delegate, const QString& name = QString()) {
  QPointer<VLLiveWC> live = Test_LaunchToNamingPanel(delegate);
  if (!live) return nullptr;
  if (!name.isEmpty()) live->savePanel()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
  QMetaObject::invokeMethod(live->savePanel(), "accept");
  if (!Test_WaitUntil([&] { return live && live->recordButton()->isEnabled(); }, 20000)) return nullptr;
  live->recordButton()->click();
  return Test_WaitUntil([&] { return live && live->isRecording(); }, 20000) ? live.data() : nullptr;
}

// Types `name` into the open panel's name field as a user does, key by key through the window system
// (so that while the completion list shows, the keys reach it first, as on a desktop), then presses
// Return. False when the completion list was not showing before Return.
inline bool Test_TypeIntoPanelAndReturn(QFileDialog* panel, const QString& name) {
  auto* field = panel ? panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
  if (!field || !field->completer() || name.isEmpty() || !panel->windowHandle()) return false;
  QAbstractItemView* list = field->completer()->popup();
  panel->activateWindow();
  field->setFocus();
  field->clear();
  const auto type = [&](QChar key) {
    QWindow* window = list->isVisible() && list->windowHandle() ? list->windowHandle() : panel->windowHandle();
    QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(key), Qt::NoModifier);
  };
  for (const QChar key : name.chopped(1)) type(key);
  // The panel's file system model reads folders on a thread of its own: the last key is typed again
  // until the folder has been read and the list shows the name.
  const bool listed = Test_WaitUntil([&] {
    if (field->text() == name && list->isVisible()) return true;
    if (field->text() == name) QTest::keyClick(panel->windowHandle(), Qt::Key_Backspace);
    type(name.back());
    Test_ProcessEvents(20);
    return field->text() == name && list->isVisible();
  }, 10000);
  if (!listed) return false;
  QTest::keyClick(list->windowHandle(), Qt::Key_Return);
  return true;
}

// The paths of the delegate's recent sessions, newest first.
inline QStringList Test_RecentPaths(ZRNAppDelegate& delegate) {
  QStringList paths;
  for (const auto& entry : delegate.recentDocsArray()) paths << entry->docPath();
  return paths;
}

// A delegate launched on the preferences of a launch of this version, with the virtual camera and
// microphone connected unless a test unplugs them.
class LaunchedAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Test_FreshPrefs(true);
    VirtualDevices_Plug(true, true);
  }
  void TearDown() override {
    if (delegate) delegate->applicationWillTerminate();
    delegate.reset();
    delete VLLiveWC_Current();
    VirtualDevices_Unplug(true, true);
  }
  void launch() {
    delegate = std::make_unique<ZRNAppDelegate>();
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
  }
  bool ran(const QString& phase) const { return delegate->launchPhases().contains(phase); }
  bool waitFor(const QString& phase, int timeoutMs = 10000) {
    return Test_WaitUntil([&] { return ran(phase); }, timeoutMs);
  }
  QStringList listedPaths() { return Test_RecentPaths(*delegate); }

  std::unique_ptr<ZRNAppDelegate> delegate;
};
