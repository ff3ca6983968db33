#include "platform/foundation/NotificationCenter.h"

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationToken NotificationCenter::addObserver(const QString& name, const void* object, Handler handler) {
  std::lock_guard lock(m_mutex);
  auto entry = std::make_shared<Entry>(Entry{m_nextToken++, name, object, std::move(handler)});
  m_entries.push_back(entry);
  return entry->token;
}

void NotificationCenter::removeObserver(NotificationToken token) {
  std::lock_guard lock(m_mutex);
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if ((*it)->token == token) {
      (*it)->removed = true;
      m_entries.erase(it);
      return;
    }
  }
}

void NotificationCenter::post(const QString& name, const void* object, const QVariantMap& userInfo) {
  post(Notification{name, object, userInfo});
}

void NotificationCenter::post(const Notification& note) {
  std::vector<std::shared_ptr<Entry>> matching;
  {
    std::lock_guard lock(m_mutex);
    for (const auto& e : m_entries) {
      if ((e->name.isEmpty() || e->name == note.name) && (!e->object || e->object == note.object))
        matching.push_back(e);
    }
  }
  for (const auto& e : matching) {
    Handler handler;
    {
      std::lock_guard lock(m_mutex);
      if (e->removed) continue;  // removed by an earlier observer of this same delivery
      handler = e->handler;
    }
    handler(note);
  }
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
