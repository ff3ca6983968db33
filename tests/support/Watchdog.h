#pragma once
// Bounds a wait that deadlocks when a fault is back: past its limit the watchdog ends the whole run with
// a failure, so that the suite fails instead of hanging.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

class Watchdog {
 public:
  Watchdog(const char* what, std::chrono::seconds limit)
      : m_thread([this, what, limit] {
          std::unique_lock lock(m_mutex);
          if (!m_wake.wait_for(lock, limit, [this] { return m_done; })) {
            std::fprintf(stderr, "deadlock: %s did not return within %lld s\n", what,
                         static_cast<long long>(limit.count()));
            std::_Exit(1);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(m_mutex);
      m_done = true;
    }
    m_wake.notify_all();
    m_thread.join();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_done = false;
  std::thread m_thread;
};
