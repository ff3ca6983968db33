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

#include <algorithm>

namespace {
QString text(const char* source) { return QCoreApplication::translate("MenuItems", source); }

// A push button with room on either side of its text: the desktop style sizes a button to its text with
// only a few pixels to spare, so a long title touches the frame.
class U_RoomyButton : public QPushButton {
 public:
  using QPushButton::QPushButton;
  QSize sizeHint() const override {
    QSize size = QPushButton::sizeHint();
    // At least an "M" and a half of the button's own font between the text and each side of the frame.
    const int room = fontMetrics().horizontalAdvance(QLatin1Char('M')) * 3 / 2;
    size.setWidth(std::max(size.width(), fontMetrics().horizontalAdvance(this->text()) + 2 * room));
    return size;
  }
  QSize minimumSizeHint() const override { return sizeHint(); }
};
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
  m_newLiveSessionBtn = new U_RoomyButton(text("New Live Session"), central);
  m_newLiveSessionBtn->setObjectName(QStringLiteral("newLiveSessionBtn"));
  m_newLiveSessionBtn->setDefault(true);
  m_openBtn = new U_RoomyButton(text("Open…"), central);
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
