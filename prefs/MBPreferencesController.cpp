#include "prefs/MBPreferencesController.h"

#include "common/ZRNAccessibility.h"

#include "platform/foundation/UserDefaults.h"
#include "platform/gui/DialogRunner.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QShortcut>
#include <QToolBar>
#include <QToolButton>
#include <QVariantAnimation>

namespace {
// Long enough to be seen, short enough not to be waited for.
constexpr int kResizeMillis = 150;
}  // namespace

MBPreferencesController::MBPreferencesController(QWidget* parent) : QMainWindow(parent, Qt::Window) {
  setObjectName(QStringLiteral("MBPreferencesWindow"));
  // Titled and closable; neither minimisable nor resizable (the module decides the size).
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  m_contentHolder = new QWidget(this);
  m_contentHolder->setObjectName(QStringLiteral("prefsContentView"));
  m_contentHolder->setFixedSize(300, 200);
  setCentralWidget(m_contentHolder);
  // The window follows the content's size and nothing else.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  _setupToolbar();
  windowDidLoad();
}

MBPreferencesController::~MBPreferencesController() = default;

void MBPreferencesController::_setupToolbar() {
  m_toolbar = new QToolBar(tr("Preferences modules"), this);
  m_toolbar->setObjectName(QStringLiteral("ZRNPreferencesToolbar"));
  m_toolbar->setAccessibleName(tr("Preferences modules"));
  m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  m_toolbar->setMovable(false);
  m_toolbar->setFloatable(false);
  m_toolbar->toggleViewAction()->setEnabled(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  m_toolbarGroup = new QActionGroup(this);
  m_toolbarGroup->setExclusive(true);
  addToolBar(Qt::TopToolBarArea, m_toolbar);
  // The keyboard reaches what the mouse does: Ctrl+PgUp/PgDn switch modules from anywhere in the window,
  // and Ctrl+W closes it as its close button does (the window is only ordered out). Escape closes it too,
  // but as a key the window is left with (keyPressEvent), not as a shortcut: a shortcut would take it
  // from an open pop-up list, which Escape must close alone.
  auto shortcut = [this](const QKeySequence& keys, auto run) {
    auto* item = new QShortcut(keys, this);
    item->setContext(Qt::WindowShortcut);
    connect(item, &QShortcut::activated, this, run);
  };
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp), [this] { selectNeighbourModule(-1); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown), [this] { selectNeighbourModule(1); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_W), [this] { close(); });
}

QToolButton* MBPreferencesController::toolbarButton(const QString& identifier) const {
  QAction* item = toolbarItem(identifier);
  return item ? qobject_cast<QToolButton*>(m_toolbar->widgetForAction(item)) : nullptr;
}

void MBPreferencesController::selectNeighbourModule(int step) {
  const QStringList allowed = toolbarAllowedItemIdentifiers();
  if (allowed.isEmpty()) return;
  const qsizetype at = m_currentModule ? allowed.indexOf(m_currentModule->identifier()) : -1;
  const qsizetype count = allowed.size();
  const QString next = allowed.at(((at < 0 ? 0 : at + step) % count + count) % count);
  QAction* item = toolbarItem(next);
  if (!item) return;
  // Through the item, so the subclass's rules for a click apply to a key too.
  item->trigger();
  if (QToolButton* button = toolbarButton(next); button && m_toolbar->isAncestorOf(focusWidget())) button->setFocus(Qt::TabFocusReason);
}

bool MBPreferencesController::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && qobject_cast<QToolButton*>(watched) && m_toolbar->isAncestorOf(static_cast<QWidget*>(watched))) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    const int modifiers = static_cast<QKeyEvent*>(event)->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier) {
      if (key == Qt::Key_Left || key == Qt::Key_Up) {
        selectNeighbourModule(-1);
        return true;
      }
      if (key == Qt::Key_Right || key == Qt::Key_Down) {
        selectNeighbourModule(1);
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MBPreferencesController::windowDidLoad() {
  // Nothing to do on Linux: a tool window stays when the application is deactivated, and the Window
  // menu leaves the preferences window out by itself (it lists only the live and session windows).
}

void MBPreferencesController::showWindow() {
  refreshToolbarItems();
  if (!isVisible()) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      const QSize size = sizeHint();
      move(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2);
    }
  }
  show();
  raise();
  activateWindow();
}

bool MBPreferencesController::isWindowShown() const { return Gui_IsWindowShown(this); }

void MBPreferencesController::showOrHideWindow() {
  if (isVisible() && isActiveWindow())
    close();
  else
    showWindow();
}

void MBPreferencesController::setModules(const std::vector<MBPreferencesModule*>& modules) {
  if (modules == m_fModulesArray) return;
  m_fModulesArray = modules;
  for (QAction* item : m_toolbar->actions()) {
    m_toolbar->removeAction(item);
    m_toolbarGroup->removeAction(item);
    delete item;
  }
  for (MBPreferencesModule* module : m_fModulesArray) {
    auto* item = new QAction(module->image(), module->title(), m_toolbar);
    item->setObjectName(module->identifier());
    item->setCheckable(true);
    item->setToolTip(module->windowTitle());
    m_toolbarGroup->addAction(item);
    m_toolbar->addAction(item);
    connect(item, &QAction::triggered, this, [this, item] { _selectModule(item); });
    // Tool-bar buttons take no focus of their own; these are the window's only way between modules.
    if (auto* button = qobject_cast<QToolButton*>(m_toolbar->widgetForAction(item))) {
      ZRNAccessible_SetToggleButton(button);
      button->setFocusPolicy(Qt::StrongFocus);
      button->setAccessibleName(module->title());
      button->setAccessibleDescription(module->windowTitle());
      button->installEventFilter(this);
    }
    QWidget* view = module->view();
    view->setParent(m_contentHolder);
    view->hide();
  }
  if (m_fModulesArray.empty()) return;
  const QString saved = UserDefaults::standard().stringForKey(QString::fromLatin1(kMBPreferencesSelectionKey));
  MBPreferencesModule* module = moduleForIdentifier(saved);
  _changeToModule(module ? module : m_fModulesArray.front());
}

QAction* MBPreferencesController::toolbarItem(const QString& identifier) const {
  for (QAction* item : m_toolbar->actions())
    if (item->objectName() == identifier) return item;
  return nullptr;
}

QStringList MBPreferencesController::toolbarAllowedItemIdentifiers() const {
  QStringList identifiers;
  for (MBPreferencesModule* module : m_fModulesArray) identifiers << module->identifier();
  return identifiers;
}

void MBPreferencesController::refreshToolbarItems() {
  const QStringList allowed = toolbarAllowedItemIdentifiers();
  for (QAction* item : m_toolbar->actions()) item->setVisible(allowed.contains(item->objectName()));
  if (m_currentModule)
    if (QAction* item = toolbarItem(m_currentModule->identifier())) item->setChecked(true);
}

MBPreferencesModule* MBPreferencesController::moduleForIdentifier(const QString& identifier) const {
  for (MBPreferencesModule* module : m_fModulesArray)
    if (module->identifier() == identifier) return module;
  return nullptr;
}

void MBPreferencesController::_selectModule(QAction* sender) {
  if (!sender) return;
  if (MBPreferencesModule* module = moduleForIdentifier(sender->objectName())) _changeToModule(module);
}

void MBPreferencesController::_changeToModule(MBPreferencesModule* module) { UU_ChangeToModuleFininsh(module); }

void MBPreferencesController::UU_ChangeToModuleFininsh(MBPreferencesModule* module) {
  if (!module) return;
  if (m_currentModule && m_currentModule != module) m_currentModule->view()->hide();
  QWidget* view = module->view();
  const QSize from = m_contentHolder->size();
  // A module's own minimum counts too: its layout's hints leave it out, and a holder below it cuts the
  // module's right-hand controls off.
  QSize to = view->sizeHint().expandedTo(view->minimumSizeHint()).expandedTo(view->minimumSize());
  if (!to.isValid()) to = QSize(300, 200);
  // The window keeps its top-left corner while its size changes, so its top edge stays in place and
  // the bottom edge moves.
  if (m_resize) m_resize->stop();
  if (isVisible() && from != to) {
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setDuration(kResizeMillis);
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { m_contentHolder->setFixedSize(value.toSize()); });
    connect(animation, &QVariantAnimation::finished, this, [this, to] { m_contentHolder->setFixedSize(to); });
    m_resize = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
  } else {
    m_contentHolder->setFixedSize(to);
  }
  if (QAction* item = toolbarItem(module->identifier())) item->setChecked(true);
  setWindowTitle(module->windowTitle());
  module->willBeDisplayed();
  m_currentModule = module;
  view->setGeometry(QRect(QPoint(0, 0), to));
  view->show();
  UserDefaults::standard().setObject(QString::fromLatin1(kMBPreferencesSelectionKey), module->identifier());
}

void MBPreferencesController::selectModuleWithIdentifier(const QString& identifier) {
  if (MBPreferencesModule* module = moduleForIdentifier(identifier)) _changeToModule(module);
}

bool MBPreferencesController::isResizing() const { return m_resize && m_resize->state() == QAbstractAnimation::Running; }

void MBPreferencesController::windowDidBecomeKey() {
  if (m_currentModule) m_currentModule->willBeDisplayed();
}

void MBPreferencesController::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    windowDidBecomeKey();
    windowDidBecomeMain();
  }
}

void MBPreferencesController::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    close();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void MBPreferencesController::closeEvent(QCloseEvent* event) {
  // The window is kept for the next time; closing only orders it out.
  if (isVisible()) windowWillClose();
  QMainWindow::closeEvent(event);
}
