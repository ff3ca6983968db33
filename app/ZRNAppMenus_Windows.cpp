// The Window menu's list of Velmora's open windows: choosing one brings it forward. The preferences are a
// panel of the application rather than a window of one's work: they are left out (Velmora > Preferences…
// and Ctrl+, bring them forward).

#include "app/ZRNAppMenus.h"

#include "app/ZRNAppDelegate.h"
#include "playback/VLProgressivePlayWC.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

namespace {
const char* const kWindowItemName = "windowListItem";

// A title as a menu item shows it: "&" is a character, the modified mark "[*]" is not shown.
QString itemTitle(const QWidget* window) {
  QString title = window->windowTitle();
  title.remove(QStringLiteral("[*]"));
  if (title.isEmpty()) title = QStringLiteral("Velmora");
  return title.replace(QLatin1Char('&'), QStringLiteral("&&"));
}
}  // namespace

QList<QWidget*> ZRNAppMenus::openWindows() const {
  QList<QWidget*> windows;
  auto add = [&](QWidget* window) {
    if (window && !windows.contains(window->window()) && window->window()->isVisible()) windows.append(window->window());
  };
  add(VLLiveWC_Window());
  add(m_delegate->capturePlaybackWC());
  for (const QPointer<QWidget>& window : m_delegate->playbackWindows()) add(window.data());
  return windows;
}

void ZRNAppMenus::U_ListWindows(QMenu* menu) {
  for (QAction* item : menu->actions())
    if (item->objectName() == QLatin1String(kWindowItemName)) delete item;
  QWidget* active = QApplication::activeWindow();
  for (QWidget* window : openWindows()) {
    QAction* item = menu->addAction(itemTitle(window));
    item->setObjectName(QString::fromLatin1(kWindowItemName));
    item->setCheckable(true);
    item->setChecked(window == active);
    QPointer<QWidget> target(window);
    connect(item, &QAction::triggered, this, [this, target] {
      if (!target) return;
      // A minimised window is listed too: choosing it brings it back.
      if (target->isMinimized()) target->setWindowState(target->windowState() & ~Qt::WindowMinimized);
      m_delegate->bringDocWindowToFront(target);
    });
  }
}
