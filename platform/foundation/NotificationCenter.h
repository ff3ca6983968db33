#pragma once
// Named notifications with an optional sender object and a userInfo dictionary.
// Observers are called on the thread that posts; registration and removal are thread-safe.

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

  static NotificationCenter& defaultCenter();

  // An empty name observes every notification; a null object accepts any sender.
  NotificationToken addObserver(const QString& name, const void* object, Handler handler);
  // After this returns the handler is not called again, even by a delivery that is under way.
  void removeObserver(NotificationToken token);
  void post(const QString& name, const void* object = nullptr, const QVariantMap& userInfo = {});
  void post(const Notification& note);

 private:
  struct Entry {
    NotificationToken token;
    QString name;
    const void* object;
    Handler handler;
    bool removed = false;
  };
  std::mutex m_mutex;
  std::vector<std::shared_ptr<Entry>> m_entries;
  NotificationToken m_nextToken = 1;
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
