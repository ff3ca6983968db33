// Every wait the main thread makes for another thread must answer that thread's own wait for the main
// thread: these cases deadlock when it does not, so each runs under a watchdog that fails the run instead.
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/Watchdog.h"

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

TEST(MainThreadWaits, FinishingAQueueAnswersItsBlocksAndGivesUpAtItsLimit) {
  ASSERT_TRUE(Dispatch_IsMainThread());
  {
    SCOPED_TRACE("a block waiting for the main thread");
    auto queue = DispatchQueue::create(QStringLiteral("org.velmora.test.finish"));
    std::latch inside(1);
    bool answeredOnMain = false;
    bool queuedAfter = false;
    queue->async([&] {
      inside.count_down();
      Dispatch_MainSync([&] { answeredOnMain = Dispatch_IsMainThread(); });
    });
    queue->async([&] { queuedAfter = true; });
    inside.wait();
    {
      Watchdog watchdog("DispatchQueue::finish", 5s);
      EXPECT_TRUE(queue->finish(10s));
    }
    EXPECT_TRUE(answeredOnMain);
    EXPECT_TRUE(queuedAfter) << "what was queued before the end runs";
    // No worker is left to order a sync after the end: it runs on the caller instead of waiting for ever.
    bool ranHere = false;
    {
      Watchdog watchdog("sync after finish", 5s);
      queue->sync([&] { ranHere = Dispatch_IsMainThread(); });
    }
    EXPECT_TRUE(ranHere);
    // Nor is there one to run a block queued now: it goes at once, with what it holds.
    auto held = std::make_shared<int>(0);
    queue->async([held] { ++*held; });
    EXPECT_EQ(held.use_count(), 1);
    EXPECT_EQ(*held, 0);
  }
  {
    SCOPED_TRACE("a block that does not end in time");
    auto queue = DispatchQueue::create(QStringLiteral("org.velmora.test.finish-stuck"));
    std::latch inside(1);
    std::latch release(1);
    queue->async([&] {
      inside.count_down();
      release.wait();
    });
    inside.wait();
    const auto start = std::chrono::steady_clock::now();
    {
      Watchdog watchdog("DispatchQueue::finish with a limit", 5s);
      EXPECT_FALSE(queue->finish(200ms));
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 3s);
    release.count_down();
    EXPECT_TRUE(queue->finish(5s));
  }
}
