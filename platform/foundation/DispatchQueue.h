#pragma once
// Serial work queues: one labelled worker thread each, blocks run one at a time in FIFO order.

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>


class DispatchQueue {
 public:
  using Block = std::function<void()>;

  explicit DispatchQueue(const QString& label);
  // Runs every block already queued (delayed blocks whose time has not come are dropped), then joins.
  // On the main thread the join keeps answering the worker's Dispatch_MainSync calls, so a block that
  // waits for the main thread cannot deadlock the owner that lets the queue go.
  ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  static std::shared_ptr<DispatchQueue> create(const QString& label) {
    return std::make_shared<DispatchQueue>(label);
  }

  QString label() const { return m_label; }
  void async(Block block);
  // Waits until the block has run. Called from the queue's own thread it runs the block at once,
  // which is what a caller already on the queue needs and avoids a self-deadlock. On the main thread the
  // wait answers the Dispatch_MainSync of the blocks ahead of it.
  void sync(const Block& block);
  // Runs every block already queued (and those they queue), then ends the worker and joins it, waiting
  // at most `limit`; answers NO when the time ran out first (the worker is left to run). The end of a
  // process uses it so that nothing runs on into the exit handlers. Afterwards an async() block is let go
  // at once without running, and sync() runs its block on the caller, as no worker is left to order it.
  bool finish(std::chrono::milliseconds limit);
  void after(std::chrono::milliseconds delay, Block block);
  bool isCurrent() const;
  // The label of the queue running the calling thread, or an empty string.
  static QString currentLabel();

 private:
  struct Item {
    std::chrono::steady_clock::time_point due;
    uint64_t sequence;
    Block block;
  };
  struct Later {
    bool operator()(const Item& a, const Item& b) const {
      return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
  };
  // The worker keeps the state alive, so a queue released from one of its own blocks stays sound
  // until that block returns. The worker thread's current-queue mark names the state, not the queue
  // object, for the same reason.
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    // Told to an owner joining on the main thread: the worker asks for main-thread work, or has ended.
    std::condition_variable joinerWake;
    std::priority_queue<Item, std::vector<Item>, Later> items;
    uint64_t sequence = 0;
    bool stopping = false;
    bool ended = false;
  };
  static void run(std::shared_ptr<State> state, QString label);
  friend void Dispatch_MainSync(const std::function<void()>& block);
  // False when the queue has finished and the block was not queued.
  bool enqueue(std::chrono::steady_clock::time_point due, Block block);

  QString m_label;
  std::shared_ptr<State> m_state;
  std::thread m_thread;
};

// The main queue is the Qt event loop of the GUI thread.
bool Dispatch_IsMainThread();
void Dispatch_MainAsync(std::function<void()> block);
void Dispatch_MainAfter(std::chrono::milliseconds delay, std::function<void()> block);
// Runs the block on the main thread and waits; at once when already there. It is also answered by the
// main thread while that waits for another thread (Dispatch_Wait), whichever thread asked.
void Dispatch_MainSync(const std::function<void()>& block);
// Runs, on the main thread, every Dispatch_MainSync block still waiting; true when one ran.
bool Dispatch_RunMainRequests();

// Waits on `wake` until `done()` or the deadline: NO when `done()` still answered NO then. Every wait of the
// main thread for another thread goes through here: on the main thread it keeps answering other threads'
// Dispatch_MainSync while it waits, so the thread it waits for cannot deadlock it by waiting for the main
// thread in turn. Elsewhere it is a plain wait.
template <class Predicate>
bool Dispatch_WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                        std::chrono::steady_clock::time_point deadline, Predicate done) {
  if (!Dispatch_IsMainThread()) return wake.wait_until(lock, deadline, done);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    lock.unlock();
    const bool ran = Dispatch_RunMainRequests();
    lock.lock();
    // The waited-for thread may ask the main thread without notifying `wake`: look again shortly.
    if (!ran && !done()) wake.wait_for(lock, std::chrono::milliseconds(2));
  }
  return true;
}
// Dispatch_WaitUntil without end.
template <class Predicate>
void Dispatch_Wait(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, Predicate done) {
  if (!Dispatch_IsMainThread()) {
    wake.wait(lock, done);
    return;
  }
  Dispatch_WaitUntil(lock, wake, std::chrono::steady_clock::time_point::max(), done);
}
// Dispatch_WaitUntil for at most `limit`.
template <class Predicate>
bool Dispatch_WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, std::chrono::milliseconds limit,
                      Predicate done) {
  return Dispatch_WaitUntil(lock, wake, std::chrono::steady_clock::now() + limit, done);
}
// The shared pool for independent background work.
void Dispatch_GlobalAsync(std::function<void()> block);

// Thread checks. A function that must run on a given queue (or on the main thread) says so in its comment
// and checks it on entry: a call from the wrong thread is logged with the function's name, and aborts
// when strict checks are on (the tests turn them on), so a threading fault cannot go unnoticed. A null
// queue checks nothing (the caller has no queue of its own, as in some tests).
void Dispatch_AssertQueue(const DispatchQueue* queue, const char* function);
inline void Dispatch_AssertQueue(const std::shared_ptr<DispatchQueue>& queue, const char* function) {
  Dispatch_AssertQueue(queue.get(), function);
}
// For a queue that is made anew while work of the old one may still run: checks the running queue's label.
void Dispatch_AssertQueueLabel(const QString& label, const char* function);
// Only once an application object exists: before that there is no main thread to be on.
void Dispatch_AssertMainThread(const char* function);
void Dispatch_SetStrictQueueChecks(bool strict);
