#pragma once
// A preferences window whose tool bar selects one module at a time. The module's view replaces the
// window's content, and the window resizes around it with its top edge fixed. The module shown last is
// remembered under "MBPreferencesSelection" and shown first the next time.

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <vector>

class QAction;
class QActionGroup;
class QToolBar;
class QToolButton;
class QVariantAnimation;

inline constexpr const char* kMBPreferencesSelectionKey = "MBPreferencesSelection";

// One module of the window. The required operations first; willBeDisplayed runs each time the module
// is shown and each time the window becomes the key window.
class MBPreferencesModule {
 public:
  virtual ~MBPreferencesModule() = default;
  // Label of the tool-bar item.
  virtual QString title() const = 0;
  // The window's title while the module is shown.
  virtual QString windowTitle() const = 0;
  // Unique; also the tool-bar item's identifier (its action's object name).
  virtual QString identifier() const = 0;
  virtual QIcon image() const = 0;
  virtual QWidget* view() = 0;
  virtual void willBeDisplayed() {}
};

class MBPreferencesController : public QMainWindow {
  Q_OBJECT
 public:
  explicit MBPreferencesController(QWidget* parent = nullptr);
  ~MBPreferencesController() override;

  // The modules in tool-bar order. Setting them rebuilds the tool bar and shows the remembered module
  // (or the first one).
  const std::vector<MBPreferencesModule*>& modules() const { return m_fModulesArray; }
  void setModules(const std::vector<MBPreferencesModule*>& modules);
  MBPreferencesModule* currentModule() const { return m_currentModule; }

  virtual void windowDidLoad();
  // Centres the window and shows it.
  virtual void showWindow();
  bool isWindowShown() const;
  void showOrHideWindow();

  QToolBar* toolbar() const { return m_toolbar; }
  // The tool-bar item of a module (null when there is none).
  QAction* toolbarItem(const QString& identifier) const;
  // The button that shows a module's tool-bar item (null when there is none).
  QToolButton* toolbarButton(const QString& identifier) const;
  // The module before (step -1) or after (+1) the one shown among those offered, wrapping around.
  void selectNeighbourModule(int step);
  virtual QStringList toolbarAllowedItemIdentifiers() const;
  QStringList toolbarSelectableItemIdentifiers() const { return toolbarAllowedItemIdentifiers(); }
  // Shows exactly the allowed items; asked again whenever what is allowed may have changed.
  void refreshToolbarItems();

  MBPreferencesModule* moduleForIdentifier(const QString& identifier) const;
  void selectModuleWithIdentifier(const QString& identifier);
  // Answers whether the window is still resizing to the module last chosen.
  bool isResizing() const;

  // Called when the window becomes the key window.
  virtual void windowDidBecomeKey();
  virtual void windowDidBecomeMain() {}
  virtual void windowWillClose() {}

 protected:
  // A click on a tool-bar item.
  virtual void _selectModule(QAction* sender);
  virtual void _changeToModule(MBPreferencesModule* module);
  void UU_ChangeToModuleFininsh(MBPreferencesModule* module);

  void changeEvent(QEvent* event) override;
  // Arrow keys on a tool-bar button move between the modules.
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Escape that no control inside kept for itself closes the window.
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void _setupToolbar();

  std::vector<MBPreferencesModule*> m_fModulesArray;
  MBPreferencesModule* m_currentModule = nullptr;
  QToolBar* m_toolbar = nullptr;
  QActionGroup* m_toolbarGroup = nullptr;
  QWidget* m_contentHolder = nullptr;
  QPointer<QVariantAnimation> m_resize;
};
