#include "app/ZRNNoWindowWC.h"

#include "app/ZRNAppDelegate.h"
#include "app/ZRNAppMenus.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString text(const char* source) { return QCoreApplication::translate("MenuItems", source); }
}  // namespace

ZRNNoWindowWC::ZRNNoWindowWC(ZRNAppDelegate* delegate) : m_delegate(delegate) {
  setObjectName(QStringLiteral("noWindowWindow"));
  setWindowTitle(QStringLiteral("Velmora"));
  setAttribute(Qt::WA_QuitOnClose, false);
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("noWindowContent"));
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(20, 16, 20, 16);
  layout->setSpacing(12);
  auto* note = new QLabel(text("No session is open."), central);
  note->setObjectName(QStringLiteral("noWindowNote"));
  layout->addWidget(note);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  m_newLiveSessionBtn = new QPushButton(text("New Live Session"), central);
  m_newLiveSessionBtn->setObjectName(QStringLiteral("newLiveSessionBtn"));
  m_newLiveSessionBtn->setDefault(true);
  m_openBtn = new QPushButton(text("Open…"), central);
  m_openBtn->setObjectName(QStringLiteral("openBtn"));
  buttons->addWidget(m_newLiveSessionBtn);
  buttons->addWidget(m_openBtn);
  layout->addLayout(buttons);
  setCentralWidget(central);

  // The buttons are the menu commands themselves, validated as the menu items are.
  ZRNAppMenus* menus = delegate->mainMenu();
  menus->installInWindow(this, {QStringLiteral("Velmora"), QStringLiteral("File"), QStringLiteral("Help")});
  for (auto [button, name] : {std::pair{m_newLiveSessionBtn, "startNewRecording"}, {m_openBtn, "openSavedRecording"}}) {
    QAction* command = menus->action(QString::fromLatin1(name));
    connect(button, &QPushButton::clicked, this, [command] {
      if (command) command->trigger();
    });
  }
  m_newLiveSessionBtn->setFocus();

  m_checkTimer.setSingleShot(true);
  m_checkTimer.setInterval(kZRNNoWindowDelayMillis);
  connect(&m_checkTimer, &QTimer::timeout, this, [this] { U_Check(); });
  qApp->installEventFilter(this);
}

ZRNNoWindowWC::~ZRNNoWindowWC() {
  if (qApp) qApp->removeEventFilter(this);
}

void ZRNNoWindowWC::windowsChanged() { m_checkTimer.start(); }

bool ZRNNoWindowWC::U_Counts(const QWidget* window) const {
  if (!window || window == this || !window->isWindow() || !window->isVisible()) return false;
  switch (window->windowType()) {
    case Qt::Popup:
    case Qt::ToolTip:
    case Qt::SplashScreen:
    case Qt::Desktop:
      return false;
    default:
      return true;
  }
}

bool ZRNNoWindowWC::otherWindowShown() const {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (U_Counts(window)) return true;
  return false;
}

void ZRNNoWindowWC::U_Check() {
  // Nothing shows while quitting, before the launch has opened what it opens, or while the camera is
  // awaited (the live window follows by itself).
  if (m_delegate->appIsQuitting() || !m_delegate->appDidFinishLaunching() || m_delegate->hasDeviceWaitingTimer()) return;
  if (otherWindowShown()) {
    hide();
    return;
  }
  if (isVisible()) return;
  show();
  raise();
  activateWindow();
  emit appeared();
}

bool ZRNNoWindowWC::eventFilter(QObject* watched, QEvent* event) {
  if (watched->isWidgetType()) {
    auto* widget = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Show && U_Counts(widget)) {
      // Another window is there: this one steps aside at once.
      m_checkTimer.stop();
      hide();
    } else if (event->type() == QEvent::Hide && widget != this && widget->isWindow()) {
      windowsChanged();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void ZRNNoWindowWC::closeEvent(QCloseEvent* event) {
  // The window stays until Quit has asked what it asks; quitting then takes it down with the rest.
  event->ignore();
  m_delegate->terminate();
}
