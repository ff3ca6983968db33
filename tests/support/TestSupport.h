#pragma once
// Helpers shared by the tests. Every test process runs with its own temporary HOME and XDG folders
// (set up by TestMain.cpp before the application object exists), so no test touches the user's files.

#include <QString>

#include <functional>

// Processes Qt events until the predicate holds or the timeout passes; answers the predicate's last value.
bool Test_WaitUntil(const std::function<bool()>& predicate, int timeoutMs = 10000);
// Lets queued main-queue work run for a short while.
void Test_ProcessEvents(int milliseconds = 0);
// The temporary home folder of this test process.
QString Test_HomePath();
// A fresh empty folder below the temporary home.
QString Test_MakeTempDir(const QString& hint = QStringLiteral("tmp"));
// Paths of the build: the velmora executable and the source tree.
QString Test_VelmoraExecutable();
// A program built beside it (relaunchMe).
QString Test_BinaryPath(const QString& name);
QString Test_SourcePath(const QString& relative);
