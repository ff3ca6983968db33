#include "common/ZRNAccessibility.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>
#include <QVariant>

namespace {
const char* const kRoleProperty = "ZRNAccessibleRole";
constexpr const char* kToggleProperty = "ZRNAccessibleToggle";
const char* const kValueTextProperty = "ZRNAccessibleValueText";
const char* const kAnnouncerName = "ZRNAccessibleAnnouncer";
const char* const kPopoverProperty = "ZRNAccessiblePopover";
const char* const kAnchorProperty = "ZRNAccessibleAnchor";
const char* const kDecorativeProperty = "ZRNAccessibleDecorative";
const char* const kPlainTextProperty = "ZRNAccessiblePlainText";
const char* const kNoticeProperty = "ZRNAccessibleNotice";
const char* const kNamedByProperty = "ZRNAccessibleNamedBy";

QWidget* U_Linked(const QWidget* widget, const char* property) {
  return widget->property(property).value<QPointer<QWidget>>().data();
}

// Read-only text without a caret or a selection; what it reads is the subclass's.
class ReadOnlyTextInterface : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  ReadOnlyTextInterface(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  void selection(int, int* start, int* end) const override { *start = *end = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QString text(int start, int end) const override { return shown().mid(start, end - start); }
  int characterCount() const override { return static_cast<int>(shown().size()); }
  QRect characterRect(int) const override { return QRect(); }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* start, int* end) const override {
    *start = *end = offset;
    return QString();
  }
  using QAccessibleWidget::text;

 protected:
  virtual QString shown() const = 0;
};

// A label read as a value: the name says what it is ("Play time"), the text and description say the
// value ("00:01:05").
class ValueLabelInterface : public ReadOnlyTextInterface {
 public:
  explicit ValueLabelInterface(QLabel* label) : ReadOnlyTextInterface(label, QAccessible::StaticText) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Description || t == QAccessible::Value) return shown();
    return QAccessibleWidget::text(t);
  }

 protected:
  QString shown() const override {
    const auto* label = qobject_cast<const QLabel*>(object());
    return label ? label->text() : QString();
  }
};

// A rich read-only document read as its plain text, where Qt's own reading keeps the marks that stand
// for the document's tables and frames.
class PlainTextInterface : public ReadOnlyTextInterface {
 public:
  explicit PlainTextInterface(QTextEdit* text) : ReadOnlyTextInterface(text, QAccessible::StaticText) {}

 protected:
  QString shown() const override {
    const auto* edit = qobject_cast<const QTextEdit*>(object());
    return edit ? edit->toPlainText() : QString();
  }
};

// A button read as a push button whatever its class makes of it (a checkable tool button reads as a
// check box, whose "checked" says nothing of what the button does).
class PushButtonInterface : public QAccessibleWidget {
 public:
  explicit PushButtonInterface(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

  QString text(QAccessible::Text t) const override {
    // The label it lies over is what the screen shows of it (a blank that pads the text is not).
    if (const auto* label = qobject_cast<QLabel*>(U_Linked(widget(), kNamedByProperty)); label && t == QAccessible::Name)
      return label->text().trimmed();
    QString text = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && text.isEmpty()) text = static_cast<QAbstractButton*>(widget())->text();
    return text;
  }
  // A toggle button (a tool bar's module) is pressed while it is checked.
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    if (!widget()->property(kToggleProperty).toBool()) return state;
    const bool checked = static_cast<QAbstractButton*>(widget())->isChecked();
    state.checkable = true;
    state.checked = checked;
    state.pressed = checked;
    return state;
  }
  QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }
  // The popup it opens, while shown, is its child (Qt leaves popup windows out of the application's).
  int childCount() const override { return shownPopover() ? 1 : 0; }
  QAccessibleInterface* child(int index) const override {
    QWidget* popover = shownPopover();
    return popover && index == 0 ? QAccessible::queryAccessibleInterface(popover) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    QWidget* popover = shownPopover();
    return popover && child && child->object() == popover ? 0 : -1;
  }
  void doAction(const QString& action) override {
    if (action == pressAction() && widget()->isEnabled())
      static_cast<QAbstractButton*>(widget())->click();
    else
      QAccessibleWidget::doAction(action);
  }

 private:
  QWidget* shownPopover() const {
    QWidget* popover = U_Linked(widget(), kPopoverProperty);
    return popover && popover->isVisible() ? popover : nullptr;
  }
};

// Any other widget read with the role it was given; its decorative children are not listed.
class RoleInterface : public QAccessibleWidget {
 public:
  RoleInterface(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

  int childCount() const override { return static_cast<int>(listed().size()); }
  QAccessibleInterface* child(int index) const override {
    const QList<QAccessibleInterface*> children = listed();
    return index >= 0 && index < children.size() ? children.at(index) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child ? static_cast<int>(listed().indexOf(const_cast<QAccessibleInterface*>(child))) : -1;
  }

 private:
  QList<QAccessibleInterface*> listed() const {
    QList<QAccessibleInterface*> children;
    const int count = QAccessibleWidget::childCount();
    for (int i = 0; i < count; ++i) {
      QAccessibleInterface* child = QAccessibleWidget::child(i);
      auto* widget = child && child->object() && child->object()->isWidgetType() ? static_cast<QWidget*>(child->object()) : nullptr;
      if (child && !(widget && ZRNAccessible_IsDecorative(widget))) children << child;
    }
    return children;
  }
};

// A popup panel read as a dialog that belongs to the button that opened it.
class PopoverInterface : public QAccessibleWidget {
 public:
  explicit PopoverInterface(QWidget* popover) : QAccessibleWidget(popover, QAccessible::Dialog) {}

  QAccessibleInterface* parent() const override {
    if (QWidget* anchor = U_Linked(widget(), kAnchorProperty)) return QAccessible::queryAccessibleInterface(anchor);
    return QAccessibleWidget::parent();
  }
};

QAccessibleInterface* U_Factory(const QString&, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  if (auto* label = qobject_cast<QLabel*>(widget); label && label->property(kValueTextProperty).toBool())
    return new ValueLabelInterface(label);
  if (auto* text = qobject_cast<QTextEdit*>(widget); text && text->property(kPlainTextProperty).toBool())
    return new PlainTextInterface(text);
  const QVariant role = widget->property(kRoleProperty);
  if (U_Linked(widget, kAnchorProperty)) return new PopoverInterface(widget);
  if (!role.isValid()) return nullptr;
  const auto wanted = static_cast<QAccessible::Role>(role.toInt());
  if (auto* button = qobject_cast<QAbstractButton*>(widget); button && wanted == QAccessible::Button)
    return new PushButtonInterface(button);
  return new RoleInterface(widget, wanted);
}

void U_InstallFactory() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(U_Factory);
}

// An interface made before the widget was marked (setting a name or a state in a layout may make one)
// is kept by Qt: it goes, so that the next question gets the marked one.
void U_ForgetInterface(QWidget* widget) {
  QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
  const bool marked = dynamic_cast<ReadOnlyTextInterface*>(made) || dynamic_cast<PushButtonInterface*>(made) ||
                      dynamic_cast<PopoverInterface*>(made) || dynamic_cast<RoleInterface*>(made);
  if (made && !marked) QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

// Keeps a label's announcements at least the interval apart; the last text is never left unsaid.
class Announcer : public QObject {
 public:
  explicit Announcer(QLabel* label) : QObject(label), m_label(label) {
    setObjectName(QString::fromLatin1(kAnnouncerName));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { announce(); });
  }

  // A notice is said when it comes on screen: each time, as the listener may have missed the last.
  void becomeNotice() {
    m_notice = true;
    m_label->installEventFilter(this);
  }

  void changed() {
    if (!m_label || m_label->text() == m_announced || m_timer.isActive()) return;
    if (m_notice && !m_label->isVisible()) return;
    const qint64 since = m_last.isValid() ? m_last.elapsed() : kZRNAccessibleAnnounceIntervalMillis;
    if (since >= kZRNAccessibleAnnounceIntervalMillis)
      announce();
    else
      m_timer.start(static_cast<int>(kZRNAccessibleAnnounceIntervalMillis - since));
  }

 private:
  void announce() {
    if (!m_label || m_label->text() == m_announced) return;
    const QString old = m_announced;
    m_announced = m_label->text();
    m_last.start();
    // What was last announced stays readable on the label (a DynamicPropertyChange event says when).
    m_label->setProperty(kZRNAccessibleAnnouncedProperty, m_announced);
    if (!QAccessible::isActive()) return;
    QAccessibleValueChangeEvent value(m_label, m_announced);
    QAccessible::updateAccessibility(&value);
    QAccessibleEvent description(m_label, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&description);
    QAccessibleTextUpdateEvent text(m_label, 0, old, m_announced);
    QAccessible::updateAccessibility(&text);
    if (m_notice) {
      QAccessibleEvent alert(m_label, QAccessible::Alert);
      QAccessible::updateAccessibility(&alert);
    }
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == m_label && event->type() == QEvent::Show && !m_label->text().isEmpty()) {
      m_announced.clear();
      // After the show has been handled, when the label is visible to the question.
      QMetaObject::invokeMethod(this, [this] { changed(); }, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
  }

  QPointer<QLabel> m_label;
  bool m_notice = false;
  QString m_announced;
  QElapsedTimer m_last;
  QTimer m_timer;
};
}  // namespace

void ZRNAccessible_SetRole(QWidget* widget, QAccessible::Role role) {
  if (!widget) return;
  U_InstallFactory();
  widget->setProperty(kRoleProperty, static_cast<int>(role));
  U_ForgetInterface(widget);
}

void ZRNAccessible_SetToggleButton(QAbstractButton* button) {
  if (!button) return;
  button->setProperty(kToggleProperty, true);
  ZRNAccessible_SetRole(button, QAccessible::Button);
}

void ZRNAccessible_NameByLabel(QAbstractButton* button, QLabel* label) {
  if (!button || !label) return;
  button->setProperty(kNamedByProperty, QVariant::fromValue(QPointer<QWidget>(label)));
  ZRNAccessible_SetRole(button, QAccessible::Button);
}

void ZRNAccessible_NameChanged(QWidget* widget) {
  if (!widget || !QAccessible::isActive()) return;
  QAccessibleEvent event(widget, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
}

void ZRNAccessible_SetDecorative(QWidget* widget) {
  if (!widget) return;
  widget->setProperty(kDecorativeProperty, true);
  widget->setFocusPolicy(Qt::NoFocus);
}

bool ZRNAccessible_IsDecorative(const QWidget* widget) {
  return widget && widget->property(kDecorativeProperty).toBool();
}

void ZRNAccessible_ExposePlainText(QTextEdit* text) {
  if (!text) return;
  U_InstallFactory();
  text->setProperty(kPlainTextProperty, true);
  U_ForgetInterface(text);
}

void ZRNAccessible_ExposeTextAsValue(QLabel* label) {
  if (!label || label->property(kValueTextProperty).toBool()) return;
  U_InstallFactory();
  label->setProperty(kValueTextProperty, true);
  U_ForgetInterface(label);
  new Announcer(label);
}

void ZRNAccessible_ExposeTextAsNotice(QLabel* label) {
  if (!label || label->property(kNoticeProperty).toBool()) return;
  ZRNAccessible_ExposeTextAsValue(label);
  label->setProperty(kNoticeProperty, true);
  // Only ZRNAccessible_ExposeTextAsValue makes a child of this name.
  if (QObject* announcer = label->findChild<QObject*>(QString::fromLatin1(kAnnouncerName), Qt::FindDirectChildrenOnly))
    static_cast<Announcer*>(announcer)->becomeNotice();
}

void ZRNAccessible_ValueTextChanged(QLabel* label) {
  if (!label) return;
  // Only ZRNAccessible_ExposeTextAsValue makes a child of this name.
  if (QObject* announcer = label->findChild<QObject*>(QString::fromLatin1(kAnnouncerName), Qt::FindDirectChildrenOnly))
    static_cast<Announcer*>(announcer)->changed();
}

void ZRNAccessible_SetPopover(QAbstractButton* anchor, QWidget* popover) {
  if (!anchor || !popover) return;
  U_InstallFactory();
  anchor->setProperty(kPopoverProperty, QVariant::fromValue(QPointer<QWidget>(popover)));
  anchor->setProperty(kRoleProperty, static_cast<int>(QAccessible::Button));
  popover->setProperty(kAnchorProperty, QVariant::fromValue(QPointer<QWidget>(anchor)));
  popover->setProperty(kRoleProperty, static_cast<int>(QAccessible::Dialog));
  U_ForgetInterface(anchor);
  U_ForgetInterface(popover);
}
