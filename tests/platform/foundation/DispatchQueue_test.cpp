#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/PlatformLog.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <mutex>
#include <semaphore>
#include <vector>

using namespace std::chrono_literals;

TEST(DispatchQueue, BlocksRunOneAtATimeInSubmissionOrderPerThread) {
  constexpr int kThreads = 4;
  constexpr int kBlocks = 500;
  DispatchQueue queue(QStringLiteral("org.velmora.test.fifo"));
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<std::vector<int>> seen(kThreads);  // touched only on the queue
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kBlocks; ++i) {
        queue.async([&, t, i] {
          if (inside.fetch_add(1) != 0) overlapped = true;
          seen[t].push_back(i);
          inside.fetch_sub(1);
        });
      }
    });
  }
  for (auto& p : producers) p.join();
  queue.sync([] {});
  EXPECT_FALSE(overlapped);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kBlocks));
    for (int i = 0; i < kBlocks; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST(DispatchQueue, SyncWaitsAndRunsInlineOnItsOwnQueue) {
  DispatchQueue queue(QStringLiteral("org.velmora.test.sync"));
  std::vector<int> order;
  queue.async([&] { order.push_back(1); });
  queue.sync([&] {
    order.push_back(2);
    EXPECT_TRUE(queue.isCurrent());
    EXPECT_EQ(DispatchQueue::currentLabel(), QStringLiteral("org.velmora.test.sync"));
    queue.sync([&] { order.push_back(3); });  // from its own thread: no deadlock
  });
  order.push_back(4);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_FALSE(queue.isCurrent());
  EXPECT_TRUE(DispatchQueue::currentLabel().isEmpty());
}

TEST(DispatchQueue, DelayedBlocksRunByDueTimeAfterWaitingWork) {
  DispatchQueue queue(QStringLiteral("org.velmora.test.after"));
  std::vector<QString> order;  // touched only on the queue
  auto note = [&](const char* what) { return [&, what] { order.push_back(QString::fromLatin1(what)); }; };
  queue.after(150ms, note("late"));
  queue.after(30ms, note("early"));
  queue.async(note("now"));
  std::latch last(1);
  queue.after(300ms, [&] { last.count_down(); });
  last.wait();
  queue.sync([] {});
  EXPECT_EQ(order, (std::vector<QString>{"now", "early", "late"}));
}

TEST(DispatchQueue, EndingRunsQueuedBlocksAndDropsFutureOnes) {
  std::atomic<int> ran{0};
  std::atomic<bool> delayedRan{false};
  {
    DispatchQueue queue(QStringLiteral("org.velmora.test.teardown"));
    queue.async([] { std::this_thread::sleep_for(20ms); });  // keeps the next blocks waiting
    for (int i = 0; i < 50; ++i) queue.async([&] { ++ran; });
    queue.after(1h, [&] { delayedRan = true; });
  }
  EXPECT_EQ(ran.load(), 50);
  EXPECT_FALSE(delayedRan);
}

TEST(DispatchMain, BlocksFromWorkersRunOnTheMainThreadAndGlobalBlocksOffIt) {
  std::atomic<int> onMain{0}, global{0};
  std::atomic<bool> wrongThread{false}, syncDone{false};
  std::vector<int> order;  // main thread only
  const auto main = [&](int i) {
    return [&, i] {
      if (!Dispatch_IsMainThread()) wrongThread = true;
      if (i >= 0) order.push_back(i);
      ++onMain;
    };
  };
  std::thread worker([&] {
    EXPECT_FALSE(Dispatch_IsMainThread());
    for (int i = 0; i < 5; ++i) Dispatch_MainAsync(main(i));
    Dispatch_MainAfter(10ms, main(-1));
    Dispatch_MainSync(main(-1));
    syncDone = true;
  });
  for (int i = 0; i < 8; ++i) {
    Dispatch_GlobalAsync([&] {
      if (Dispatch_IsMainThread()) wrongThread = true;
      ++global;
    });
  }
  EXPECT_TRUE(Test_WaitUntil([&] { return onMain == 7 && syncDone && global == 8; }));
  worker.join();
  EXPECT_FALSE(wrongThread);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  bool ranInline = false;
  Dispatch_MainSync([&] { ranInline = true; });
  EXPECT_TRUE(ranInline) << "already on the main thread: runs at once";
}

// Plain data written before a hand-over is read by the block without a lock of its own, and a thread's locks
// still order its work after it started a program. (A build with ThreadSanitizer checks that the detector
// sees both orders too, although they go through Qt: the main thread takes the block from Qt's queue
// without waking from its event loop, and the pool's thread is one that waited for work already.)
TEST(DispatchMain, HandOversAndLocksOrderWhatWasWrittenBefore) {
  std::atomic<bool> poolRan{false};
  Dispatch_GlobalAsync([&] { poolRan = true; });
  ASSERT_TRUE(Test_WaitUntil([&] { return poolRan.load(); }));
  poolRan = false;
  QProcess program;
  program.start(QStringLiteral("true"), {});
  ASSERT_TRUE(program.waitForFinished(10000));

  std::mutex mutex;
  int counted = 0;  // under the mutex
  const auto count = [&] {
    for (int i = 0; i < 1000; ++i) {
      std::lock_guard lock(mutex);
      ++counted;
    }
  };
  QString toMain, toPool, seenOnMain, seenInPool;
  bool mainRan = false;
  std::thread worker([&] {
    count();
    toMain = QStringLiteral("from a worker");
    Dispatch_MainAsync([&] {
      seenOnMain = toMain;
      mainRan = true;
    });
  });
  count();
  toPool = QStringLiteral("from the main thread");
  Dispatch_GlobalAsync([&] {
    seenInPool = toPool;
    poolRan = true;
  });
  const QDeadlineTimer deadline(10000);
  while (!(mainRan && poolRan) && !deadline.hasExpired()) QCoreApplication::sendPostedEvents();
  worker.join();
  EXPECT_TRUE(mainRan && poolRan);
  EXPECT_EQ(seenOnMain, toMain);
  EXPECT_EQ(seenInPool, toPool);
  EXPECT_EQ(counted, 2000);
}

TEST(DispatchQueue, ReleasedFromItsOwnBlockFinishesWhatWasQueued) {
  auto holder = std::make_shared<std::shared_ptr<DispatchQueue>>(DispatchQueue::create(QStringLiteral("test.self-release")));
  std::atomic<bool> laterBlockRan{false}, released{false};
  DispatchQueue* queue = holder->get();
  // The first block lets go of the queue only once the second one is queued: without the wait it could
  // free the queue before this thread had used it for the second one.
  auto secondQueued = std::make_shared<std::binary_semaphore>(0);
  std::atomic<bool> stillLabelled{false}, newQueueTakenForThisOne{true};
  queue->async([holder, secondQueued, &released, &stillLabelled, &newQueueTakenForThisOne] {
    secondQueued->acquire();
    holder->reset();  // the last owner lets go from inside the queue
    // A queue made now may take the freed queue's memory: this thread must not count as running it.
    auto other = DispatchQueue::create(QStringLiteral("test.after-release"));
    newQueueTakenForThisOne = other->isCurrent();
    stillLabelled = DispatchQueue::currentLabel() == QStringLiteral("test.self-release");
    released = true;
  });
  queue->async([&laterBlockRan] { laterBlockRan = true; });
  holder.reset();
  secondQueued->release();
  ASSERT_TRUE(Test_WaitUntil([&] { return released && laterBlockRan; }, 5000));
  EXPECT_FALSE(newQueueTakenForThisOne);
  EXPECT_TRUE(stillLabelled) << "the blocks still queued run under the queue's label";
}

TEST(DispatchQueue, LastReleaseOnTheMainThreadAnswersABlockWaitingForIt) {
  ASSERT_TRUE(Dispatch_IsMainThread());
  auto queue = DispatchQueue::create(QStringLiteral("test.main-release"));
  std::binary_semaphore started(0);
  bool ranOnMain = false;
  std::atomic<bool> finished{false};
  queue->async([&] {
    started.release();
    Dispatch_MainSync([&] { ranOnMain = Dispatch_IsMainThread(); });
    finished = true;
  });
  queue->async([&] { Dispatch_MainSync([] {}); });
  started.acquire();
  queue.reset();  // joins a worker that waits for this thread
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(finished);
}

TEST(DispatchQueueChecks, AWrongThreadIsLoggedWithTheFunctionAndTheQueue) {
  Dispatch_SetStrictQueueChecks(false);
  std::mutex mutex;
  QStringList lines;
  Platform_SetLogSink([&](const QString& line) {
    std::lock_guard lock(mutex);
    lines << line;
  });
  auto queue = DispatchQueue::create(QStringLiteral("org.velmora.test.checked"));
  queue->sync([&] {
    Dispatch_AssertQueue(queue, "onItsQueue");
    Dispatch_AssertMainThread("offTheMainThread");
  });
  Dispatch_AssertQueue(queue, "onTheMainThread");
  Dispatch_AssertMainThread("onTheMainThreadToo");
  Dispatch_AssertQueue(std::shared_ptr<DispatchQueue>(), "withoutAQueue");
  // A queue made anew under the same label passes a check by label.
  DispatchQueue::create(QStringLiteral("org.velmora.test.checked"))->sync([] { Dispatch_AssertQueueLabel(QStringLiteral("org.velmora.test.checked"), "onALaterQueue"); });
  Platform_SetLogSink({});
  Dispatch_SetStrictQueueChecks(true);
  ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(lines[0], QStringLiteral("ERR: offTheMainThread must run on the main thread, ran on org.velmora.test.checked"));
  EXPECT_EQ(lines[1], QStringLiteral("ERR: onTheMainThread must run on org.velmora.test.checked, ran on another thread"));
}

TEST(DispatchQueueChecksDeathTest, StrictChecksStopAtTheFirstWrongThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto queue = DispatchQueue::create(QStringLiteral("org.velmora.test.strict"));
  EXPECT_DEATH(Dispatch_AssertQueue(queue, "U_SessQueue_Work"), "U_SessQueue_Work must run on org.velmora.test.strict");
}
