#include "platform/gui/WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {
// The step between cascaded windows: enough to see each title bar.
constexpr int kCascadeStep = 26;

QPoint& NextCascadeOffset() {
  static QPoint offset(0, 0);
  return offset;
}

bool IsFramed(const QWidget* window) {
  return window->isVisible() && window->windowHandle() && !window->windowHandle()->frameMargins().isNull();
}

// How long a new window is watched: window managers frame a window and then place it where they like
// (openbox ignores the place asked for), each step a move of its own, within a moment of the mapping.
constexpr int kSettleMillis = 1500;

// Checks a newly shown window again at each move or resize while the window manager settles it: the
// frame's size is only known once it is framed, and the window manager's own placement comes after.
class FramedWatcher : public QObject {
 public:
  explicit FramedWatcher(QWidget* window) : QObject(window), m_window(window) {
    window->installEventFilter(this);
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) QTimer::singleShot(kSettleMillis, this, [this] { deleteLater(); });
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != m_window || !m_window || m_busy) return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::Move && type != QEvent::Resize && type != QEvent::Expose && type != QEvent::WindowActivate) return false;
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    if (!IsFramed(m_window) && !offscreen) return false;
    // Asked on the next turn: the event's geometry is then the window manager's, not the one asked for.
    m_busy = true;
    QTimer::singleShot(0, this, [this, offscreen] {
      m_busy = false;
      if (m_window) Gui_KeepWindowInArea(m_window);
      // Offscreen nobody moves the window afterwards.
      if (offscreen) deleteLater();
    });
    return false;
  }

 private:
  QPointer<QWidget> m_window;
  bool m_busy = false;
};

// The largest window size whose frame fits in the area.
QSize U_RoomInArea(const QRect& area, const QMargins& frame) {
  return QSize(area.width() - frame.left() - frame.right(), area.height() - frame.top() - frame.bottom());
}
}  // namespace

QRect Gui_AvailableArea(const QWidget* window) {
  QScreen* screen = nullptr;
  if (window && window->isVisible()) screen = window->screen();
  if (!screen)
    if (QWidget* active = QApplication::activeWindow(); active && active != window) screen = active->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

QMargins Gui_FrameMargins(const QWidget* window) {
  if (window && IsFramed(window)) return window->windowHandle()->frameMargins();
  for (QWidget* other : QApplication::topLevelWidgets()) {
    const Qt::WindowType type = other->windowType();
    if (other != window && (type == Qt::Window || type == Qt::Dialog) && IsFramed(other))
      return other->windowHandle()->frameMargins();
  }
  return {};
}

bool Gui_KeepWindowInArea(QWidget* window) {
  const QRect area = Gui_AvailableArea(window);
  if (!window || area.isEmpty()) return true;
  const QMargins frame = Gui_FrameMargins(window);
  const QSize size = window->size();
  const QSize limited = size.boundedTo(U_RoomInArea(area, frame)).expandedTo(window->minimumSize());
  const QRect outer(window->pos(), limited.grownBy(frame));
  // The frame's top-left corner is the window's position; the top left corner wins where the window is
  // larger than the area, so that the title bar stays reachable.
  QPoint place = outer.topLeft();
  place.setX(std::max(area.left(), std::min(place.x(), area.right() + 1 - outer.width())));
  place.setY(std::max(area.top(), std::min(place.y(), area.bottom() + 1 - outer.height())));
  const bool inside = limited == size && place == outer.topLeft();
  if (limited != size) window->resize(limited);
  if (place != outer.topLeft()) window->move(place);
  return inside;
}

void Gui_ShowWindowInArea(QWidget* window) {
  if (!window) return;
  static const char* const kPlaced = "velmoraPlacedInArea";
  if (window->isVisible() || window->property(kPlaced).toBool()) {
    window->show();
    Gui_KeepWindowInArea(window);
    return;
  }
  // A window never given a size takes its contents' size, as on a plain first show (a size read before
  // that is Qt's placeholder, 640 by 480, whatever the window holds).
  if (!window->testAttribute(Qt::WA_Resized)) window->adjustSize();
  const QRect area = Gui_AvailableArea(window);
  if (!area.isEmpty()) {
    const QMargins frame = Gui_FrameMargins(window);
    window->resize(window->size().boundedTo(U_RoomInArea(area, frame)).expandedTo(window->minimumSize()));
    const QSize outer = window->size().grownBy(frame);
    QPoint& offset = NextCascadeOffset();
    // Back to the top-left corner when the next place would push the window out of the area.
    if (offset.x() + outer.width() > area.width() || offset.y() + outer.height() > area.height()) offset = QPoint(0, 0);
    window->move(area.topLeft() + offset);
    offset += QPoint(kCascadeStep, kCascadeStep);
  }
  window->setProperty(kPlaced, true);
  new FramedWatcher(window);
  window->show();
}

QSize Gui_WindowSizeForViewSize(const QWidget* window, const QWidget* view, QSize wanted, QSize* fitted) {
  const QSize around = window->size() - view->size();
  QSize chosen = wanted;
  const QRect area = Gui_AvailableArea(window);
  if (!area.isEmpty() && wanted.width() > 0 && wanted.height() > 0) {
    const QSize room = U_RoomInArea(area, Gui_FrameMargins(window)) - around;
    const double roomW = room.width(), roomH = room.height();
    const double scale = std::min({1.0, roomW / wanted.width(), roomH / wanted.height()});
    if (scale < 1.0)
      chosen = QSize(std::max(1, int(std::floor(wanted.width() * scale))), std::max(1, int(std::floor(wanted.height() * scale))));
  }
  if (fitted) *fitted = chosen;
  return around + chosen;
}

bool Gui_WindowFillsArea(const QWidget* window) {
  const QRect area = Gui_AvailableArea(window);
  if (!window || area.isEmpty()) return false;
  const QSize outer = window->size().grownBy(Gui_FrameMargins(window));
  return outer.width() + 1 > area.width() || outer.height() + 1 > area.height();
}
