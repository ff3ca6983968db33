#include "app/ZRNAppMenus.h"

#include "app/ZRNAppDelegate.h"
#include "app/ZRNAppDelegate_FirstAid.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>

namespace {
const char* const kInstalledProperty = "ZRNMainMenuInstalled";
// The top-level menus in the order they are made.
constexpr int kHelpMenuIndex = 4;

QString menuText(const char* title) { return QCoreApplication::translate("MenuItems", title); }
}  // namespace

ZRNAppMenus::ZRNAppMenus(ZRNAppDelegate* delegate) : QObject(delegate), m_delegate(delegate) {
  ZRNAppDelegate* d = delegate;
  QMenu* app = addMenu("&Velmora");
  addCommand(app, "showAboutBox", "About Velmora", {}, [d] { d->showAboutBox(); });
  addCommand(app, "sparkleUpdateCheck", "Check for Updates…", {}, [d] { d->sparkleUpdateCheck(); });
  app->addSeparator();
  addCommand(app, "showHidePreferencesWindow", "Preferences…", QKeySequence(QStringLiteral("Ctrl+,")),
             [d] { d->showHidePreferencesWindow(); });
  app->addSeparator();
  addCommand(app, "launchVendorWebsite", "Velmora Website", {}, [d] { d->launchVendorWebsite(); });
  addCommand(app, "showHVAppStorePage", "Velmora in the Store", {}, [d] { d->showHVAppStorePage(); });
  addCommand(app, "showAcknowledgments", "Acknowledgments", {}, [d] { d->showAcknowledgments(); });
  app->addSeparator();
  // Spelled out: the standard Quit key is empty under desktop themes with the Windows key scheme.
  addCommand(app, "terminate", "Quit Velmora", QKeySequence(QStringLiteral("Ctrl+Q")), [d] { d->terminate(); });

  QMenu* file = addMenu("&File");
  addCommand(file, "startNewRecording", "New Live Session", QKeySequence(QStringLiteral("Ctrl+N")),
             [d] { d->startNewRecording(); });
  addCommand(file, "openSavedRecording", "Open…", QKeySequence(QStringLiteral("Ctrl+O")), [d] { d->openSavedRecording(); });
  m_recentsItem = file->addAction(menuText("Open Recent"));
  m_recentsItem->setObjectName(QStringLiteral("recentsMenuItem"));
  setRecentsMenu(new QMenu);

  QMenu* recording = addMenu("&Recording");
  addCommand(recording, "startRecording", "Start Recording", QKeySequence(QStringLiteral("Ctrl+R")),
             [d] { d->startRecording(); });
  addCommand(recording, "stopRecording", "Stop Recording", QKeySequence(QStringLiteral("Ctrl+.")),
             [d] { d->stopRecording(); });
  recording->addSeparator();
  addCommand(recording, "showRecFootage", "Show Live Recording", QKeySequence(QStringLiteral("Ctrl+L")),
             [d] { d->showRecFootage(); });
  recording->addSeparator();
  addCommand(recording, "showHideCameraPreferences", "Camera Settings…", QKeySequence(QStringLiteral("Ctrl+Shift+,")),
             [d] { d->showHideCameraPreferences(); });

  QMenu* window = addMenu("&Window");
  addCommand(window, "showHideJobsPanel", "Show Export History", QKeySequence(QStringLiteral("Ctrl+J")),
             [d] { d->showHideJobsPanel(); });
  // The open windows follow, listed afresh each time the menu opens.
  window->addSeparator()->setObjectName(QStringLiteral("windowListSeparator"));
  connect(window, &QMenu::aboutToShow, this, [this, window] { U_ListWindows(window); });

  QMenu* help = addMenu("&Help");
  addCommand(help, "showLogFile", "Show Log File", {}, [d] { d->showLogFile(); });
  addCommand(help, "showFirstAidWindow", "First Aid…", {}, [d] { showFirstAidWindow(d); });

  qApp->installEventFilter(this);
  // Windows shown before the menus existed get them too.
  for (QWidget* window : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<QMainWindow*>(window); main && main->isVisible()) installInWindow(main);
}

ZRNAppMenus::~ZRNAppMenus() {
  if (qApp) qApp->removeEventFilter(this);
  if (m_recentsItem) delete m_recentsItem->menu();
  qDeleteAll(m_mainMenu);
}

QMenu* ZRNAppMenus::addMenu(const char* title) {
  auto* menu = new QMenu(menuText(title));
  // Named as titled, without the mnemonic's mark and before any translation.
  menu->setObjectName(QString::fromLatin1(title).remove(QLatin1Char('&')));
  connect(menu, &QMenu::aboutToShow, this, [this, menu] { validateMenu(menu); });
  // Closed menus keep their commands enabled: a shortcut is validated when it fires.
  connect(menu, &QMenu::aboutToHide, this, [this, menu] {
    for (QAction* action : menu->actions())
      if (m_actions.contains(action->objectName())) action->setEnabled(true);
  });
  m_mainMenu.append(menu);
  return menu;
}

QAction* ZRNAppMenus::addCommand(QMenu* menu, const char* name, const char* title, const QKeySequence& shortcut,
                                 std::function<void()> run) {
  QAction* action = menu->addAction(menuText(title));
  action->setObjectName(QString::fromLatin1(name));
  action->setShortcut(shortcut);
  // The menus sit in every document window's menu bar: one shortcut serves the whole application.
  action->setShortcutContext(Qt::ApplicationShortcut);
  connect(action, &QAction::triggered, this, [this, action, run = std::move(run)] {
    if (m_delegate->validateMenuItem(action)) run();
  });
  m_actions.insert(action->objectName(), action);
  return action;
}

QAction* ZRNAppMenus::recentsItem() const {
  const QList<QAction*> items = m_mainMenu.value(1) ? m_mainMenu.value(1)->actions() : QList<QAction*>();
  return items.value(2);
}

QMenu* ZRNAppMenus::recentsMenu() const {
  QAction* item = recentsItem();
  return item ? item->menu() : nullptr;
}

void ZRNAppMenus::setRecentsMenu(QMenu* menu) {
  QAction* item = recentsItem();
  if (!item) return;
  QMenu* old = item->menu();
  menu->setTitle(item->text());
  item->setMenu(menu);
  if (old && old != menu) old->deleteLater();
}

void ZRNAppMenus::installInWindow(QMainWindow* window, const QStringList& names) {
  if (!window || window->property(kInstalledProperty).toBool()) return;
  window->setProperty(kInstalledProperty, true);
  QMenuBar* bar = window->menuBar();
  const QList<QAction*> existing = bar->actions();
  QAction* front = existing.value(0);
  // The menus are shared, but each bar gets items of its own: a screen reader's item of a menu bar is
  // made once per action and names the bar that asked first as its parent, so an item shared by two bars
  // would read as nothing in one of them (and in all once that bar is gone).
  for (QMenu* menu : m_mainMenu) {
    if (!names.isEmpty() && !names.contains(menu->objectName())) continue;
    auto* item = new QAction(menu->title(), bar);
    item->setObjectName(menu->objectName());
    item->setMenu(menu);
    // The window's own menus go between the application's and Help, which ends the bar as on every desktop.
    bar->insertAction(menu == m_mainMenu.value(kHelpMenuIndex) ? nullptr : front, item);
    // Qt matches a menu command's shortcut through the menu's item, and a menu made the menu of several
    // items keeps only the last as its own (whose window may be hidden): the commands belong to every
    // window with the menus instead.
    for (QAction* command : menu->actions())
      if (!command->shortcut().isEmpty()) window->addAction(command);
  }
  // F10 opens the first menu, as in the desktops' own applications; Alt+letter opens each by its mnemonic.
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), window);
  f10->setObjectName(QStringLiteral("openMenuBarShortcut"));
  connect(f10, &QShortcut::activated, bar, [bar] {
    for (QAction* top : bar->actions())
      if (top->isVisible() && top->isEnabled() && top->menu()) {
        bar->setActiveAction(top);
        return;
      }
  });
}

void ZRNAppMenus::validateMenu(QMenu* menu) {
  for (QAction* action : menu->actions())
    if (m_actions.contains(action->objectName())) action->setEnabled(m_delegate->validateMenuItem(action));
}

void ZRNAppMenus::validateAll() {
  for (QMenu* menu : m_mainMenu) validateMenu(menu);
}

bool ZRNAppMenus::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched->isWidgetType()) {
    auto* window = qobject_cast<QMainWindow*>(watched);
    if (window && window->isWindow()) installInWindow(window);
    // A modal dialog, sheet or panel blocks the menu bars behind it, and with them their shortcuts:
    // Quit is given to the dialog too, so that it quits from whatever is on screen.
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (QAction* quit = action(QStringLiteral("terminate")); dialog && dialog->isWindow() && quit && !dialog->actions().contains(quit))
      dialog->addAction(quit);
  }
  return QObject::eventFilter(watched, event);
}
