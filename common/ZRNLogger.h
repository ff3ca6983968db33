#pragma once
// The debug log: one file per run, lines written in call order by the logger's own queue.
// Warnings start with "ATT: ", errors with "ERR: ".

#include "platform/foundation/Fmt.h"

#include <atomic>

void ZRNLogger_Open();
void ZRNLogger_Start(int level);
// Blocks until every line logged before it is in the file and the file is closed.
void ZRNLogger_Stop();
bool ZRNLogger_IsEnabled();
// Queues an already formatted message stamped with the given time (seconds since 1970).
void ZRNLogger_LogMessage(const QString& message, double unixSeconds);
double ZRNLogger_Now();

template <typename... Args>
void ZRNLogger_Log(const QString& format, const Args&... args) {
  if (!ZRNLogger_IsEnabled()) return;
  const double now = ZRNLogger_Now();  // the caller's moment, not the writer's
  ZRNLogger_LogMessage(Fmt(format, args...), now);
}

// The stamp of a line: local "%02d:%02d:%02d:%03d" with the milliseconds truncated.
QString ZRNLogger_StampForTime(double unixSeconds);
