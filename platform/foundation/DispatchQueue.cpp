#include "platform/foundation/DispatchQueue.h"

#include "platform/foundation/PlatformLog.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <latch>
#include <utility>

// A worker's Dispatch_MainSync: run once, by the main queue or by an owner joining the worker there.
struct DispatchMainRequest {
  std::function<void()> block;
  std::atomic<bool> claimed{false};
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;

  void runOnce() {
    if (claimed.exchange(true)) return;
    block();
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    finished.notify_all();
  }
};

namespace {
// The state of the queue whose worker is the calling thread: the worker keeps it alive while it runs, so
// this never names freed memory, even after the queue was released from one of its own blocks.
thread_local const void* tCurrentState = nullptr;
std::atomic<bool> gStrictQueueChecks{false};

void U_WrongThread(const char* function, const QString& expected) {
  const QString running = DispatchQueue::currentLabel();
  Platform_Log(QStringLiteral("ERR: %@ must run on %@, ran on %@"), QString::fromUtf8(function), expected,
               running.isEmpty() ? QStringLiteral("another thread") : running);
  if (gStrictQueueChecks.load()) std::abort();
}
}  // namespace

DispatchQueue::DispatchQueue(const QString& label) : m_label(label), m_state(std::make_shared<State>()) {
  m_thread = std::thread(&DispatchQueue::run, m_state, label);
}

DispatchQueue::~DispatchQueue() {
  {
    std::lock_guard lock(m_state->mutex);
    m_state->stopping = true;
  }
  m_state->wake.notify_all();
  if (m_thread.get_id() == std::this_thread::get_id()) {
    // The last owner released the queue from inside one of its own blocks: the worker finishes the
    // blocks already queued on its own copy of the state and then ends.
    m_thread.detach();
    return;
  }
  if (!m_thread.joinable()) return;
  if (Dispatch_IsMainThread()) {
    // A block may be waiting for the main thread, which is this one: its work runs here.
    std::unique_lock lock(m_state->mutex);
    while (!m_state->ended) {
      if (std::shared_ptr<DispatchMainRequest> request = std::exchange(m_state->mainRequest, nullptr)) {
        lock.unlock();
        request->runOnce();
        lock.lock();
        continue;
      }
      m_state->joinerWake.wait(lock);
    }
  }
  m_thread.join();
}

void DispatchQueue::enqueue(std::chrono::steady_clock::time_point due, Block block) {
  {
    std::lock_guard lock(m_state->mutex);
    m_state->items.push(Item{due, m_state->sequence++, std::move(block)});
  }
  m_state->wake.notify_one();
}

void DispatchQueue::async(Block block) { enqueue(std::chrono::steady_clock::time_point::min(), std::move(block)); }

void DispatchQueue::after(std::chrono::milliseconds delay, Block block) {
  enqueue(std::chrono::steady_clock::now() + delay, std::move(block));
}

void DispatchQueue::sync(const Block& block) {
  if (isCurrent()) {
    block();
    return;
  }
  std::latch done(1);
  async([&] {
    block();
    done.count_down();
  });
  done.wait();
}

namespace {
thread_local QString tCurrentLabel;
}

bool DispatchQueue::isCurrent() const { return tCurrentState == m_state.get(); }

QString DispatchQueue::currentLabel() { return tCurrentState ? tCurrentLabel : QString(); }

void DispatchQueue::run(std::shared_ptr<State> state, QString label) {
  tCurrentState = state.get();
  tCurrentLabel = label;
  const QByteArray name = label.right(15).toUtf8();
  pthread_setname_np(pthread_self(), name.constData());
  std::unique_lock lock(state->mutex);
  for (;;) {
    if (state->items.empty()) {
      if (state->stopping) break;
      state->wake.wait(lock);
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    const Item& top = state->items.top();
    if (top.due > now) {
      if (state->stopping) break;  // only delayed blocks remain
      state->wake.wait_until(lock, top.due);
      continue;
    }
    Block block = std::move(const_cast<Item&>(top).block);
    state->items.pop();
    lock.unlock();
    block();
    block = nullptr;  // release captures outside the lock
    lock.lock();
  }
  state->ended = true;
  lock.unlock();
  state->joinerWake.notify_all();
  tCurrentState = nullptr;
}

bool Dispatch_IsMainThread() {
  return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void Dispatch_MainAsync(std::function<void()> block) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

void Dispatch_MainAfter(std::chrono::milliseconds delay, std::function<void()> block) {
  Dispatch_MainAsync([delay, block = std::move(block)]() mutable {
    QTimer::singleShot(delay, QCoreApplication::instance(), std::move(block));
  });
}

void Dispatch_MainSync(const std::function<void()>& block) {
  if (Dispatch_IsMainThread() || !QCoreApplication::instance()) {
    block();
    return;
  }
  auto* state = static_cast<DispatchQueue::State*>(const_cast<void*>(tCurrentState));
  if (!state) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), block, Qt::BlockingQueuedConnection);
    return;
  }
  // From a queue's worker: the owner may be letting the queue go on the main thread and joining this
  // worker; it then runs the block itself instead of the event loop.
  auto request = std::make_shared<DispatchMainRequest>();
  request->block = block;
  {
    std::lock_guard lock(state->mutex);
    state->mainRequest = request;
  }
  state->joinerWake.notify_all();
  Dispatch_MainAsync([request] { request->runOnce(); });
  {
    std::unique_lock lock(request->mutex);
    request->finished.wait(lock, [&] { return request->done; });
  }
  std::lock_guard lock(state->mutex);
  if (state->mainRequest == request) state->mainRequest.reset();
}

void Dispatch_GlobalAsync(std::function<void()> block) {
  QThreadPool::globalInstance()->start(std::move(block));
}

void Dispatch_AssertQueue(const DispatchQueue* queue, const char* function) {
  if (queue && !queue->isCurrent()) U_WrongThread(function, queue->label());
}

void Dispatch_AssertQueueLabel(const QString& label, const char* function) {
  if (DispatchQueue::currentLabel() != label) U_WrongThread(function, label);
}

void Dispatch_AssertMainThread(const char* function) {
  if (QCoreApplication::instance() && !Dispatch_IsMainThread()) U_WrongThread(function, QStringLiteral("the main thread"));
}

void Dispatch_SetStrictQueueChecks(bool strict) { gStrictQueueChecks.store(strict); }
