#pragma once
// The platform layer's way to reach the application's log without depending on it: the application
// installs a sink at start-up; until then (and in tools) lines go to standard error.

#include "platform/foundation/Fmt.h"

#include <functional>

void Platform_SetLogSink(std::function<void(const QString&)> sink);
void Platform_LogLine(const QString& line);
// Hands the line to the installed sink and answers true; without one answers false and writes nothing
// (for messages that wait until the application's log exists).
bool Platform_TryLogLine(const QString& line);

template <typename... Args>
void Platform_Log(const QString& format, const Args&... args) {
  Platform_LogLine(Fmt(format, args...));
}
