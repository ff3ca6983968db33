#pragma once
// The application's main menu: its top-level menus in order (0 the application menu, 1 File with the
// Recents submenu as its third item, 2 Recording, 3 Window, 4 Help), one action per command named by the
// delegate operation it runs (objectName "openSavedRecording", "showRecFootage", ...).
//
// Each top-level menu opens with Alt and its mnemonic letter (objectName without the "&": "Velmora",
// "File", ...). The Window menu lists the open windows after its commands.
//
// Every top-level document window (QMainWindow) gets these menus in its menu bar when it is first shown,
// so the commands and their shortcuts work from any window: Help at the end of the bar, the others at its
// front, before the window's own menus. An action is validated by the
// application delegate when its menu opens and again when it is triggered (a shortcut of a disabled
// command does nothing).

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;
class QWidget;
class ZRNAppDelegate;

class ZRNAppMenus : public QObject {
  Q_OBJECT
 public:
  explicit ZRNAppMenus(ZRNAppDelegate* delegate);
  ~ZRNAppMenus() override;

  const QList<QMenu*>& mainMenu() const { return m_mainMenu; }
  QAction* action(const QString& name) const { return m_actions.value(name); }
  QList<QAction*> commandActions() const { return m_actions.values(); }

  // The Recents submenu: the submenu of item 2 of top-level menu 1. Installing one replaces (and
  // deletes) the one before.
  QAction* recentsItem() const;
  QMenu* recentsMenu() const;
  void setRecentsMenu(QMenu* menu);

  // Puts the main menu (or the top-level menus of these object names) in the window's menu bar, once per
  // window (Help last, the others first), and lets F10 open the bar's first menu.
  void installInWindow(QMainWindow* window, const QStringList& names = {});
  // Velmora's open windows as the Window menu lists them: the live window, the live recording's and the
  // playback windows of saved sessions (not the preferences).
  QList<QWidget*> openWindows() const;
  // Validates every command of the menu (titles and enabling).
  void validateMenu(QMenu* menu);
  void validateAll();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QMenu* addMenu(const char* title);
  void U_ListWindows(QMenu* menu);
  QAction* addCommand(QMenu* menu, const char* name, const char* title, const QKeySequence& shortcut,
                      std::function<void()> run);

  ZRNAppDelegate* m_delegate;
  QList<QMenu*> m_mainMenu;
  QHash<QString, QAction*> m_actions;
  QAction* m_recentsItem = nullptr;
};
