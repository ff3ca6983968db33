#include "common/ZRNLogger.h"

#include "common/ZRNAppSetup.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/foundation/StandardLocations.h"

#include <QDateTime>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <sys/time.h>

namespace {
// The queue is made once and lives for the process; only the file comes and goes.
std::shared_ptr<DispatchQueue> gQueue;
std::mutex gQueueMutex;
FILE* gFile = nullptr;  // touched only on the logger queue after the open
std::atomic<bool> gEnabled{false};
std::atomic<bool> gToFile{false};
std::atomic<int> gStartLevel{0};

std::shared_ptr<DispatchQueue> loggerQueue() {
  std::lock_guard lock(gQueueMutex);
  return gQueue;
}
}  // namespace

double ZRNLogger_Now() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

QString ZRNLogger_StampForTime(double unixSeconds) {
  const double whole = std::floor(unixSeconds);
  const int millis = static_cast<int>((unixSeconds - whole) * 1000.0);
  const time_t seconds = static_cast<time_t>(whole);
  struct tm local;
  localtime_r(&seconds, &local);
  return Fmt(QStringLiteral("%02d:%02d:%02d:%03d"), local.tm_hour, local.tm_min, local.tm_sec, millis);
}

void ZRNLogger_Open() {
  {
    std::lock_guard lock(gQueueMutex);
    if (!gQueue) gQueue = DispatchQueue::create(StandardLocations::appIdentifier() + QStringLiteral(".logger"));
  }
  const QString path = ZRNAppSetup::sharedAppSetup()->zrnDebugLogPathFor(QStringLiteral("Debug"));
  loggerQueue()->sync([path] {
    if (gFile) std::fclose(gFile);
    gFile = path.isEmpty() ? nullptr : std::fopen(path.toLocal8Bit().constData(), "a");
  });
  gEnabled = false;
  gToFile = false;
  gStartLevel = 0;
}

void ZRNLogger_Start(int level) {
  ZRNLogger_Open();
  gToFile = true;
  gStartLevel = level;
  gEnabled = true;
  // The platform layer's lines join this log from now on.
  Platform_SetLogSink([](const QString& line) { ZRNLogger_Log(QStringLiteral("%@"), line); });
}

bool ZRNLogger_IsEnabled() { return gEnabled.load(std::memory_order_relaxed); }

void ZRNLogger_LogMessage(const QString& message, double unixSeconds) {
  auto queue = loggerQueue();
  if (!queue || !gEnabled) return;
  queue->async([message, unixSeconds] {
    const QByteArray text = message.toUtf8();
    if (gToFile) {
      if (!gFile) return;  // no logs folder: the line is dropped, the program goes on
      const QByteArray stamp = ZRNLogger_StampForTime(unixSeconds).toLatin1();
      std::fprintf(gFile, "%s %s\n", stamp.constData(), text.constData());
      std::fflush(gFile);
    } else {
      std::fprintf(stderr, "%s\n", text.constData());
    }
  });
}

void ZRNLogger_Stop() {
  ZRNLogger_Log(QStringLiteral("prepare to ZRNLogger_Stop"));
  auto queue = loggerQueue();
  if (!queue) return;
  Platform_SetLogSink(nullptr);
  queue->sync([] {
    gStartLevel = 0;
    gEnabled = false;
    if (gFile) {
      std::fclose(gFile);
      gFile = nullptr;
    }
  });
}
