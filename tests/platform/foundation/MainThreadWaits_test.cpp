// Every wait the main thread makes for another thread must answer that thread's own wait for the main
// thread: these cases deadlock when it does not, so each runs under a watchdog that fails the run instead.
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {
const QString kName = QStringLiteral("MainThreadWaitsTestNote");

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

struct RemovalCase {
  const char* name;
  bool fromQueue;
};
}  // namespace

TEST(MainThreadWaits, RemovingAnObserverAnswersItsDeliveryWaitingForTheMainThread) {
  ASSERT_TRUE(Dispatch_IsMainThread());
  for (const RemovalCase& c : {RemovalCase{"a queue's worker", true}, RemovalCase{"a plain thread", false}}) {
    SCOPED_TRACE(c.name);
    NotificationCenter center;
    std::latch inside(1);
    bool answeredOnMain = false;
    const NotificationToken token = center.addObserver(kName, nullptr, [&](const Notification&) {
      inside.count_down();
      // As an alert shown from a worker does: the window must be made on the main thread.
      Dispatch_MainSync([&] { answeredOnMain = Dispatch_IsMainThread(); });
    });
    std::shared_ptr<DispatchQueue> queue;
    std::thread plain;
    if (c.fromQueue) {
      queue = DispatchQueue::create(QStringLiteral("org.velmora.test.main-waits"));
      queue->async([&] { center.post(kName); });
    } else {
      plain = std::thread([&] { center.post(kName); });
    }
    inside.wait();
    {
      Watchdog watchdog("removeObserver", 5s);
      center.removeObserver(token);
    }
    EXPECT_TRUE(answeredOnMain);
    if (plain.joinable()) plain.join();
    Watchdog watchdog("letting the queue go", 5s);
    queue.reset();
  }
}

TEST(MainThreadWaits, SyncOnTheMainThreadAnswersTheBlockAheadWaitingForIt) {
  ASSERT_TRUE(Dispatch_IsMainThread());
  auto queue = DispatchQueue::create(QStringLiteral("org.velmora.test.main-sync"));
  std::latch started(1);
  bool aheadAnswered = false;
  bool ran = false;
  queue->async([&] {
    started.count_down();
    Dispatch_MainSync([&] { aheadAnswered = true; });
  });
  started.wait();
  {
    Watchdog watchdog("DispatchQueue::sync", 5s);
    queue->sync([&] { ran = true; });
  }
  EXPECT_TRUE(aheadAnswered);
  EXPECT_TRUE(ran);
}

TEST(MainThreadWaits, AMainSyncAnsweredWhileWaitingRunsOnceAndOnTheMainThread) {
  // The event loop may also reach the request after the wait answered it: it must not run twice.
  auto queue = DispatchQueue::create(QStringLiteral("org.velmora.test.main-once"));
  std::atomic<int> runs{0};
  std::atomic<bool> offMain{false};
  queue->async([&] {
    Dispatch_MainSync([&] {
      ++runs;
      if (!Dispatch_IsMainThread()) offMain = true;
    });
  });
  {
    Watchdog watchdog("DispatchQueue::sync", 5s);
    queue->sync([] {});
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_FALSE(offMain.load());
}
