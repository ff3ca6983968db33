#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/DispatchQueue.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <semaphore>
#include <thread>
#include <vector>

namespace {
const QString kName = QStringLiteral("ZRNRecordingStateChanged");
const QString kOther = QStringLiteral("VLMovieStarted");
}  // namespace

TEST(NotificationCenter, DeliversByNameAndSender) {
  NotificationCenter center;
  int senderA = 0, senderB = 0;
  const struct {
    const char* name;
    QString observedName;
    const void* observedObject;
    QString postedName;
    const void* postedObject;
    bool delivered;
  } cases[] = {
      {"same name, any sender", kName, nullptr, kName, &senderA, true}, {"same name, no sender", kName, nullptr, kName, nullptr, true},
      {"other name", kName, nullptr, kOther, &senderA, false}, {"matching sender", kName, &senderA, kName, &senderA, true},
      {"other sender", kName, &senderA, kName, &senderB, false}, {"sender required, none given", kName, &senderA, kName, nullptr, false},
      {"every name", QString(), nullptr, kOther, &senderB, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int calls = 0;
    const NotificationToken token = center.addObserver(c.observedName, c.observedObject, [&](const Notification& n) {
      ++calls;
      EXPECT_EQ(n.userInfo.value(QStringLiteral("recIsON")), QVariant(true));
      EXPECT_EQ(n.object, c.postedObject);
    });
    center.post(c.postedName, c.postedObject, {{QStringLiteral("recIsON"), true}});
    EXPECT_EQ(calls, c.delivered ? 1 : 0);
    center.removeObserver(token);
    center.post(c.postedName, c.postedObject, {{QStringLiteral("recIsON"), true}});
    EXPECT_EQ(calls, c.delivered ? 1 : 0) << "not called after removal";
  }
}

TEST(NotificationCenter, ObserverRemovedDuringDeliveryIsNotCalled) {
  NotificationCenter center;
  QStringList calls;
  NotificationToken second = 0;
  NotificationToken first = center.addObserver(kName, nullptr, [&](const Notification&) {
    calls << QStringLiteral("first");
    center.removeObserver(second);
    center.removeObserver(first);  // removing itself while running is fine too
  });
  second = center.addObserver(kName, nullptr, [&](const Notification&) { calls << QStringLiteral("second"); });
  center.addObserver(kName, nullptr, [&](const Notification&) { calls << QStringLiteral("third"); });
  center.post(kName);
  center.post(kName);
  EXPECT_EQ(calls, (QStringList{"first", "third", "third"}));
}

TEST(NotificationCenter, RemovalFromAnotherThreadStopsADeliveryUnderWay) {
  NotificationCenter center;
  std::latch deliveryStarted(1), removed(1);
  std::atomic<bool> laterCalled{false};
  center.addObserver(kName, nullptr, [&](const Notification&) {
    deliveryStarted.count_down();
    removed.wait();
  });
  const NotificationToken later = center.addObserver(kName, nullptr, [&](const Notification&) { laterCalled = true; });
  std::thread poster([&] { center.post(kName); });
  deliveryStarted.wait();
  center.removeObserver(later);
  removed.count_down();
  poster.join();
  EXPECT_FALSE(laterCalled);
}

TEST(NotificationCenter, ConcurrentPostsAndObserversLoseNothing) {
  NotificationCenter center;
  std::atomic<int> count{0};
  thread_local int postedHere = 0;  // delivered on the posting thread, before post returns
  center.addObserver(kName, nullptr, [&](const Notification&) {
    ++count;
    ++postedHere;
  });
  constexpr int kThreads = 4, kPosts = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&] {
      for (int i = 1; i <= kPosts; ++i) {
        center.post(kName);
        EXPECT_EQ(postedHere, i);
      }
    });
  // Observers come and go meanwhile.
  threads.emplace_back([&] {
    for (int i = 0; i < kPosts; ++i) {
      const NotificationToken t = center.addObserver(kOther, nullptr, [](const Notification&) {});
      center.removeObserver(t);
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(count.load(), kThreads * kPosts);
}

TEST(NotificationCenter, ObservationEndsWithItsOwner) {
  NotificationCenter center;
  int calls = 0;
  {
    NotificationObservation observation(center, center.addObserver(kName, nullptr, [&](const Notification&) { ++calls; }));
    EXPECT_TRUE(observation.isActive());
    center.post(kName);
    NotificationObservation moved = std::move(observation);
    EXPECT_FALSE(observation.isActive());
    center.post(kName);
  }
  center.post(kName);
  EXPECT_EQ(calls, 2);
}

TEST(NotificationCenter, RemovalWaitsForADeliveryUnderWayOnAnotherThread) {
  NotificationCenter center;
  std::latch inside(1), removing(1);
  std::atomic<bool> removeReturned{false}, returnedWhileInside{false};
  std::atomic<int> calls{0};
  const NotificationToken token = center.addObserver(kName, nullptr, [&](const Notification&) {
    ++calls;
    inside.count_down();
    removing.wait();
    // A removal that does not wait returns now, while this handler still runs.
    Test_WaitUntil([&] { return removeReturned.load(); }, 200);
    returnedWhileInside = removeReturned.load();
  });
  std::thread poster([&] { center.post(kName); });
  inside.wait();
  removing.count_down();
  center.removeObserver(token);
  removeReturned = true;
  poster.join();
  EXPECT_FALSE(returnedWhileInside);
  center.post(kName);
  std::thread([&] { center.post(kName); }).join();
  EXPECT_EQ(calls.load(), 1) << "never called after removal";
}

TEST(NotificationCenter, ContextObserversAreCalledOnTheMainThreadWhileTheContextLives) {
  const struct {
    const char* name;
    bool postFromWorker;
    bool contextGoesFirst;
    bool removedFirst;
    int calls;
  } cases[] = {
      {"posted on the main thread: queued as well", false, false, false, 1},
      {"posted on a worker: queued to the main thread", true, false, false, 1},
      {"context gone before the queued delivery", true, true, false, 0},
      {"observer removed before the queued delivery", true, false, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NotificationCenter center;
    auto* context = new QObject;
    int calls = 0;
    bool onMain = true;
    const NotificationToken token = center.addObserver(kName, nullptr, context, [&](const Notification& note) {
      ++calls;
      onMain = onMain && Dispatch_IsMainThread();
      EXPECT_EQ(note.userInfo.value(QStringLiteral("recIsON")), QVariant(true));
    });
    const QVariantMap info{{QStringLiteral("recIsON"), true}};
    if (c.postFromWorker)
      std::thread([&] { center.post(kName, nullptr, info); }).join();
    else
      center.post(kName, nullptr, info);
    EXPECT_EQ(calls, 0) << "not inside post";
    if (c.contextGoesFirst) delete std::exchange(context, nullptr);
    if (c.removedFirst) center.removeObserver(token);
    Test_ProcessEvents();
    EXPECT_EQ(calls, c.calls);
    EXPECT_TRUE(onMain);
    center.removeObserver(token);
    delete context;
  }
}
