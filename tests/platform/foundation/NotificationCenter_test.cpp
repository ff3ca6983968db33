#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
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
