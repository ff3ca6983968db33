#pragma once
// What a screen reader meets in a window, read through Qt's accessibility interfaces (the ones its
// AT-SPI bridge serves): the shown objects that a listener lands on without a name, and the events
// the application sends while a test runs.

#include <QAccessible>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <utility>

// The shown windows, dialogs and controls under `root` (its own interface included) that have no name:
// those a listener moves to (focusable ones) or presses (buttons), and the windows themselves. Each is
// listed as "class objectName".
inline QStringList Test_UnnamedAccessibles(QWidget* root) {
  QStringList unnamed;
  const auto walk = [&](auto&& self, QAccessibleInterface* item, int depth) -> void {
    if (!item || !item->isValid() || depth > 64 || item->state().invisible) return;
    const QAccessible::Role role = item->role();
    const bool named = role == QAccessible::Window || role == QAccessible::Dialog || role == QAccessible::Button ||
                       role == QAccessible::PushButton || role == QAccessible::CheckBox || item->state().focusable;
    if (named && item->text(QAccessible::Name).trimmed().isEmpty()) {
      QObject* object = item->object();
      unnamed << (object ? QString::fromLatin1(object->metaObject()->className()) + QLatin1Char(' ') + object->objectName()
                         : QStringLiteral("(no object)"));
    }
    for (int i = 0; i < item->childCount(); ++i) self(self, item->child(i), depth + 1);
  };
  walk(walk, QAccessible::queryAccessibleInterface(root), 0);
  return unnamed;
}

// Records the accessibility events sent while it lives (kind and source object), with accessibility
// switched on as a screen reader would.
class Test_AccessibleEvents {
 public:
  Test_AccessibleEvents() {
    s_current = this;
    m_wasActive = QAccessible::isActive();
    m_previous = QAccessible::installUpdateHandler(&Test_AccessibleEvents::record);
    QAccessible::setActive(true);
  }
  ~Test_AccessibleEvents() {
    QAccessible::installUpdateHandler(m_previous);
    QAccessible::setActive(m_wasActive);
    s_current = nullptr;
  }
  Test_AccessibleEvents(const Test_AccessibleEvents&) = delete;
  Test_AccessibleEvents& operator=(const Test_AccessibleEvents&) = delete;

  // The kinds of event sent about `object`, in order.
  QList<QAccessible::Event> about(const QObject* object) const {
    QList<QAccessible::Event> kinds;
    for (const auto& [source, kind] : m_events)
      if (source == object) kinds << kind;
    return kinds;
  }
  void clear() { m_events.clear(); }

 private:
  static void record(QAccessibleEvent* event) {
    if (s_current) s_current->m_events.append({event->object(), event->type()});
  }

  static inline Test_AccessibleEvents* s_current = nullptr;
  QList<std::pair<QPointer<QObject>, QAccessible::Event>> m_events;
  QAccessible::UpdateHandler m_previous = nullptr;
  bool m_wasActive = false;
};
