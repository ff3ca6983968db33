#include "platform/foundation/PlatformLog.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex gSinkMutex;
std::function<void(const QString&)> gSink;
}  // namespace

void Platform_SetLogSink(std::function<void(const QString&)> sink) {
  std::lock_guard lock(gSinkMutex);
  gSink = std::move(sink);
}

bool Platform_TryLogLine(const QString& line) {
  std::function<void(const QString&)> sink;
  {
    std::lock_guard lock(gSinkMutex);
    sink = gSink;
  }
  if (!sink) return false;
  sink(line);
  return true;
}

void Platform_LogLine(const QString& line) {
  std::function<void(const QString&)> sink;
  {
    std::lock_guard lock(gSinkMutex);
    sink = gSink;
  }
  if (sink) {
    sink(line);
  } else {
    const QByteArray bytes = line.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
  }
}
