#include "platform/system/ScreenSaver.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/system/SystemBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>

#include <atomic>

namespace {
constexpr int kBusTimeoutMs = 3000;
const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");

// Holds come and go in the order they were asked for, one bus call at a time. The queue is never
// destroyed, and its calls end with the application object: a call still queued then reaches the bus
// before the bus library's globals go at exit; one asked for later does nothing.
std::atomic<bool> gClosed{false};

void U_FinishCalls();

DispatchQueue* workerQueue() {
  static DispatchQueue* const queue = [] {
    qAddPostRoutine(&U_FinishCalls);
    return new DispatchQueue(QStringLiteral("org.velmora.Velmora.screensaver"));
  }();
  return queue;
}

void U_FinishCalls() {
  ScreenSaver_WaitForPendingCalls();
  gClosed = true;
  // A call that started between the two: done before the application object is.
  ScreenSaver_WaitForPendingCalls();
}
}  // namespace

struct ScreenSaverInhibition::State {
  QString connectionName;
  uint cookie = 0;
  bool held = false;
};

ScreenSaverInhibition::ScreenSaverInhibition(const QString& application, const QString& reason)
    : m_state(std::make_shared<State>()) {
  static std::atomic<int> counter{0};
  m_state->connectionName = QStringLiteral("org.velmora.screensaver.%1").arg(counter.fetch_add(1));
  const QString address = SystemBusConnection::busAddress(SystemBusConnection::Bus::Session);
  workerQueue()->async([state = m_state, address, application, reason] {
    if (address.isEmpty() || gClosed) return;
    QDBusConnection connection = QDBusConnection::connectToBus(address, state->connectionName);
    if (!connection.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Inhibit"));
    call << application << reason;
    const QDBusReply<uint> reply = connection.call(call, QDBus::Block, kBusTimeoutMs);
    if (!reply.isValid()) {
      Platform_Log(QStringLiteral("ATT: the screen saver was not held off: %@"), reply.error().message());
      return;
    }
    state->cookie = reply.value();
    state->held = true;
  });
}

void ScreenSaver_WaitForPendingCalls() { workerQueue()->sync([] {}); }

ScreenSaverInhibition::~ScreenSaverInhibition() {
  workerQueue()->async([state = m_state] {
    if (gClosed) return;
    if (state->held) {
      QDBusConnection connection(state->connectionName);
      QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("UnInhibit"));
      call << state->cookie;
      connection.call(call, QDBus::Block, kBusTimeoutMs);
      state->held = false;
    }
    QDBusConnection::disconnectFromBus(state->connectionName);
  });
}
