#pragma once
// Named notifications with an optional sender object and a userInfo dictionary.
// Observers are called on the thread that posts, or on the main thread for an observer that names a
// context object; registration and removal are thread-safe.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct Notification {
  QString name;
  const void* object = nullptr;
  QVariantMap userInfo;
};

using NotificationToken = uint64_t;

class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;

  NotificationCenter();
  static NotificationCenter& defaultCenter();

  // An empty name observes every notification; a null object accepts any sender.
  NotificationToken addObserver(const QString& name, const void* object, Handler handler);
  // Delivered on the main thread while context lives, always queued with a copy of the notification (also
  // when posted there): for windows and other main-thread objects that notifications of worker threads
  // reach. A delivery still queued when the context or the observation goes is dropped.
  NotificationToken addObserver(const QString& name, const void* object, QObject* context, Handler handler);
  // After this returns the handler is not called again, and no delivery of it is still running on another
  // thread: removal waits for those. A handler that removes itself does not wait for itself. On the main
  // thread the wait answers those deliveries' Dispatch_MainSync, so a handler that asks the main thread
  // cannot deadlock it.
  void removeObserver(NotificationToken token);
  void post(const QString& name, const void* object = nullptr, const QVariantMap& userInfo = {});
  void post(const Notification& note);

 private:
  NotificationToken U_Add(const QString& name, const void* object, bool onMain, QObject* context, Handler handler);
  struct Entry {
    NotificationToken token = 0;
    QString name;
    const void* object = nullptr;
    Handler handler;
    bool onMain = false;
    QPointer<QObject> context;
    bool removed = false;
    // The threads inside the handler now (one thread may be in it more than once).
    std::vector<std::thread::id> delivering;
  };
  // Shared with deliveries queued to the main thread, which may run after a center made for a test went.
  struct Core {
    std::mutex mutex;
    std::condition_variable delivered;
    std::vector<std::shared_ptr<Entry>> entries;
    NotificationToken nextToken = 1;
  };
  static void deliver(const std::shared_ptr<Core>& core, const std::shared_ptr<Entry>& entry, const Notification& note);

  std::shared_ptr<Core> m_core;
};

// Removes its observation when it goes away; for objects that observe for their whole life.
class NotificationObservation {
 public:
  NotificationObservation() = default;
  NotificationObservation(NotificationCenter& center, NotificationToken token) : m_center(&center), m_token(token) {}
  NotificationObservation(NotificationObservation&& other) noexcept { *this = std::move(other); }
  NotificationObservation& operator=(NotificationObservation&& other) noexcept;
  ~NotificationObservation() { reset(); }
  void reset();
  bool isActive() const { return m_center && m_token; }

 private:
  NotificationCenter* m_center = nullptr;
  NotificationToken m_token = 0;
};
