#include "platform/foundation/NotificationCenter.h"

#include "platform/foundation/DispatchQueue.h"

#include <algorithm>

NotificationCenter::NotificationCenter() : m_core(std::make_shared<Core>()) {}

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationToken NotificationCenter::addObserver(const QString& name, const void* object, Handler handler) {
  return U_Add(name, object, false, nullptr, std::move(handler));
}

NotificationToken NotificationCenter::addObserver(const QString& name, const void* object, QObject* context, Handler handler) {
  return U_Add(name, object, true, context, std::move(handler));
}

NotificationToken NotificationCenter::U_Add(const QString& name, const void* object, bool onMain, QObject* context,
                                            Handler handler) {
  auto entry = std::make_shared<Entry>();
  entry->name = name;
  entry->object = object;
  entry->handler = std::move(handler);
  entry->onMain = onMain;
  entry->context = context;
  std::lock_guard lock(m_core->mutex);
  entry->token = m_core->nextToken++;
  m_core->entries.push_back(entry);
  return entry->token;
}

void NotificationCenter::removeObserver(NotificationToken token) {
  std::unique_lock lock(m_core->mutex);
  auto& entries = m_core->entries;
  const auto it = std::find_if(entries.begin(), entries.end(), [token](const auto& e) { return e->token == token; });
  if (it == entries.end()) return;
  const std::shared_ptr<Entry> entry = *it;
  entry->removed = true;
  entries.erase(it);
  const auto self = std::this_thread::get_id();
  Dispatch_Wait(lock, m_core->delivered, [&] {
    return std::all_of(entry->delivering.begin(), entry->delivering.end(), [self](auto id) { return id == self; });
  });
}

void NotificationCenter::post(const QString& name, const void* object, const QVariantMap& userInfo) {
  post(Notification{name, object, userInfo});
}

void NotificationCenter::post(const Notification& note) {
  std::vector<std::shared_ptr<Entry>> matching;
  {
    std::lock_guard lock(m_core->mutex);
    for (const auto& e : m_core->entries) {
      if ((e->name.isEmpty() || e->name == note.name) && (!e->object || e->object == note.object))
        matching.push_back(e);
    }
  }
  for (const auto& e : matching) {
    if (e->onMain) {
      Dispatch_MainAsync([core = m_core, e, note] { deliver(core, e, note); });
      continue;
    }
    deliver(m_core, e, note);
  }
}

void NotificationCenter::deliver(const std::shared_ptr<Core>& core, const std::shared_ptr<Entry>& entry, const Notification& note) {
  const auto self = std::this_thread::get_id();
  {
    std::lock_guard lock(core->mutex);
    // Removed by an earlier observer of this same delivery, or before a queued delivery came to run.
    if (entry->removed) return;
    if (entry->onMain && !entry->context) return;
    entry->delivering.push_back(self);
  }
  entry->handler(note);
  {
    std::lock_guard lock(core->mutex);
    entry->delivering.erase(std::find(entry->delivering.begin(), entry->delivering.end(), self));
  }
  core->delivered.notify_all();
}

NotificationObservation& NotificationObservation::operator=(NotificationObservation&& other) noexcept {
  if (this != &other) {
    reset();
    m_center = other.m_center;
    m_token = other.m_token;
    other.m_center = nullptr;
    other.m_token = 0;
  }
  return *this;
}

void NotificationObservation::reset() {
  if (m_center && m_token) m_center->removeObserver(m_token);
  m_center = nullptr;
  m_token = 0;
}
