#pragma once
// What a build with ThreadSanitizer needs to be told, as Qt is not built with it. In every other build this
// is nothing.
//
// A block handed to another thread through Qt (a posted event, a thread pool's runnable) is ordered by Qt's
// own locks, which the detector cannot see: the block's run would be reported against whatever the posting
// thread wrote before it. The hand-over says so itself, and only there.

#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define VELMORA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELMORA_TSAN 1
#endif
#endif

#if defined(VELMORA_TSAN)
// Everything the calling thread did so far happens before whatever follows a Tsan_Acquire of `addr`.
void Tsan_Release(const void* addr);
void Tsan_Acquire(const void* addr);

// The block as Qt keeps it until it runs. Qt moves the block into the object it queues before it queues
// it, so the last move is the posting thread's last write that the other side reads: it releases the
// block's own address there, which is unique to this hand-over for as long as the block lives. The run
// acquires it, and releases it again for the destruction, which acquires it too: Qt lets the block go on
// whichever thread drops the last reference to it, the posting one included, and also when it never ran.
template <class Block>
class TsanHandedOverBlock {
 public:
  explicit TsanHandedOverBlock(Block&& block) : m_block(std::move(block)) { Tsan_Release(this); }
  TsanHandedOverBlock(TsanHandedOverBlock&& other) : m_block(std::move(other.m_block)) { Tsan_Release(this); }
  TsanHandedOverBlock(const TsanHandedOverBlock& other) : m_block(other.m_block) { Tsan_Release(this); }
  TsanHandedOverBlock& operator=(const TsanHandedOverBlock&) = delete;
  ~TsanHandedOverBlock() { Tsan_Acquire(this); }

  void operator()() {
    Tsan_Acquire(this);
    m_block();
    Tsan_Release(this);
  }

 private:
  Block m_block;
};

// Wraps a block just as it goes to Qt for another thread:
// QMetaObject::invokeMethod(context, Tsan_HandOver([..] {..}), Qt::QueuedConnection).
template <class Block>
TsanHandedOverBlock<std::decay_t<Block>> Tsan_HandOver(Block&& block) {
  return TsanHandedOverBlock<std::decay_t<Block>>(std::decay_t<Block>(std::forward<Block>(block)));
}
#else
inline void Tsan_Release(const void*) {}
inline void Tsan_Acquire(const void*) {}

template <class Block>
Block&& Tsan_HandOver(Block&& block) {
  return std::forward<Block>(block);
}
#endif
