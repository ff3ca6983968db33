#pragma once
// What a screen reader meets in a window, read through Qt's accessibility interfaces (the ones its
// AT-SPI bridge serves): the shown objects that a listener lands on without a name or with a name other
// than what the screen shows, and the events the application sends while a test runs.

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTextEdit>
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

// The label whose buddy `widget` is: its caption on the screen.
inline const QLabel* Test_Caption(const QWidget* widget) {
  for (const QLabel* caption : widget->window()->findChildren<QLabel*>())
    if (caption->buddy() == widget) return caption;
  return nullptr;
}

// What the screen shows as the name of `widget`: a button's or a label's text (without the mark of a
// mnemonic), a menu's choice (on Linux its caption is only its label), a field's caption or, without one,
// its placeholder. Empty for a control that shows no text of its own (a slider, a picture, a video).
inline QString Test_ShownName(const QWidget* widget) {
  const auto plain = [](QString text) {
    for (qsizetype at = text.indexOf(QLatin1Char('&')); at >= 0 && at + 1 < text.size(); at = text.indexOf(QLatin1Char('&'), at + 1))
      text.remove(at, 1);
    return text;
  };
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) return plain(button->text());
  if (const auto* label = qobject_cast<const QLabel*>(widget)) return label->buddy() ? plain(label->text()) : label->text();
  if (const auto* menu = qobject_cast<const QComboBox*>(widget)) return menu->currentText();
  if (const QLabel* caption = Test_Caption(widget)) return plain(caption->text());
  if (const auto* line = qobject_cast<const QLineEdit*>(widget)) return line->placeholderText();
  if (const auto* text = qobject_cast<const QTextEdit*>(widget)) return text->placeholderText();
  return QString();
}

// The shown controls under `root` that a listener moves to (the focusable ones), and the shown
// `alsoRead` widgets, whose name is not what the screen shows, or that their caption does not label
// (AT-SPI's labelled-by relation). `shown` says what shows where the control's own text does not: the
// text under a transparent button, the meaning of a symbol. Controls that show no text are left out.
// Each is listed as `objectName: read "name", shown "text"`.
inline QStringList Test_NamesApartFromScreen(QWidget* root, const QHash<const QWidget*, QString>& shown = {},
                                             const QList<QWidget*>& alsoRead = {}) {
  QStringList apart;
  QList<QWidget*> controls = alsoRead;
  for (QWidget* widget : root->findChildren<QWidget*>())
    if (widget->focusPolicy() != Qt::NoFocus && !controls.contains(widget)) controls << widget;
  for (QWidget* control : controls) {
    const QString expected = shown.contains(control) ? shown.value(control) : Test_ShownName(control);
    if (!control->isVisible() || expected.isEmpty()) continue;
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(control);
    const QString read = item->text(QAccessible::Name);
    bool labelled = true;
    if (const QLabel* caption = Test_Caption(control)) {
      labelled = false;
      for (const auto& [label, relation] : item->relations(QAccessible::Label)) labelled |= label->object() == caption;
    }
    if (read != expected || !labelled)
      apart << QStringLiteral("%1: read \"%2\", shown \"%3\"%4")
                   .arg(control->objectName(), read, expected, labelled ? QString() : QStringLiteral(", not labelled by it"));
  }
  return apart;
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
