#include "platform/foundation/DispatchQueue.h"

#include "platform/foundation/PlatformLog.h"
#include "platform/foundation/ThreadSanitizer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <utility>

// A thread's Dispatch_MainSync: run once, by the main queue or by the main thread while it waits for work.
struct DispatchMainRequest {
  std::function<void()> block;
  std::atomic<bool> claimed{false};
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;

  // True when this call ran it.
  bool runOnce() {
    if (claimed.exchange(true)) return false;
    block();
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    finished.notify_all();
    return true;
  }
};

namespace {
// Every Dispatch_MainSync under way, from any thread: a main thread that waits for another thread answers
// them while it waits (Dispatch_Wait), so that thread cannot deadlock by waiting for the main thread.
std::mutex gMainRequestsMutex;
std::vector<std::shared_ptr<DispatchMainRequest>> gMainRequests;
}  // namespace

bool Dispatch_RunMainRequests() {
  std::vector<std::shared_ptr<DispatchMainRequest>> pending;
  {
    std::lock_guard lock(gMainRequestsMutex);
    pending = gMainRequests;
  }
  bool ran = false;
  for (const auto& request : pending) ran = request->runOnce() || ran;
  return ran;
}

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
  {
    // A block may be waiting for the main thread, which may be this one: Dispatch_Wait answers it.
    std::unique_lock lock(m_state->mutex);
    Dispatch_Wait(lock, m_state->joinerWake, [&] { return m_state->ended; });
  }
  m_thread.join();
}

bool DispatchQueue::finish(std::chrono::milliseconds limit) {
  if (isCurrent()) return false;  // a block cannot wait for its own queue's end
  {
    std::lock_guard lock(m_state->mutex);
    m_state->stopping = true;
  }
  m_state->wake.notify_all();
  if (!m_thread.joinable()) return true;
  {
    std::unique_lock lock(m_state->mutex);
    if (!Dispatch_WaitFor(lock, m_state->joinerWake, limit, [&] { return m_state->ended; })) return false;
  }
  m_thread.join();
  return true;
}

bool DispatchQueue::enqueue(std::chrono::steady_clock::time_point due, Block block) {
  {
    std::lock_guard lock(m_state->mutex);
    // Finished: no worker is left to run it, and the block goes with what it holds.
    if (m_state->ended) return false;
    m_state->items.push(Item{due, m_state->sequence++, std::move(block)});
  }
  m_state->wake.notify_one();
  return true;
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
  struct Done {
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
  } done;
  const bool queued = enqueue(std::chrono::steady_clock::time_point::min(), [&block, &done] {
    block();
    // Woken under the lock: the waiter (which on the main thread also looks for itself) can see the
    // block done only once this is over, and `done` lives on its stack.
    std::lock_guard lock(done.mutex);
    done.done = true;
    done.wake.notify_all();
  });
  // A queue that has finished runs the block here, whenever it finished: the check is the one the
  // queuing itself makes.
  if (!queued) {
    block();
    return;
  }
  std::unique_lock lock(done.mutex);
  Dispatch_Wait(lock, done.wake, [&] { return done.done; });
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
  QMetaObject::invokeMethod(app, Tsan_HandOver(std::move(block)), Qt::QueuedConnection);
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
  // Runs on the main queue, or sooner where the main thread waits for this thread (Dispatch_Wait).
  auto request = std::make_shared<DispatchMainRequest>();
  request->block = block;
  {
    std::lock_guard lock(gMainRequestsMutex);
    gMainRequests.push_back(request);
  }
  if (auto* state = static_cast<DispatchQueue::State*>(const_cast<void*>(tCurrentState))) {
    // Wakes an owner joining this worker on the main thread at once rather than at its next look.
    { std::lock_guard lock(state->mutex); }
    state->joinerWake.notify_all();
  }
  Dispatch_MainAsync([request] { request->runOnce(); });
  {
    std::unique_lock lock(request->mutex);
    request->finished.wait(lock, [&] { return request->done; });
  }
  std::lock_guard lock(gMainRequestsMutex);
  gMainRequests.erase(std::find(gMainRequests.begin(), gMainRequests.end(), request));
}

void Dispatch_GlobalAsync(std::function<void()> block) {
  QThreadPool::globalInstance()->start(Tsan_HandOver(std::move(block)));
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
