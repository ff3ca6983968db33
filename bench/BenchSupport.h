#pragma once
// Measuring helpers shared by the benchmark programs.

#include <sys/resource.h>

// User plus system CPU time in seconds of this process (RUSAGE_SELF) or of its ended children
// (RUSAGE_CHILDREN).
inline double Bench_CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
