#include "platform/foundation/ThreadSanitizer.h"

#if defined(VELMORA_TSAN)
#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>
#include <sys/types.h>

#include <cstdarg>

void Tsan_Release(const void* addr) { __tsan_release(const_cast<void*>(addr)); }
void Tsan_Acquire(const void* addr) { __tsan_acquire(const_cast<void*>(addr)); }

// QProcess starts a program through clone(CLONE_VM | CLONE_VFORK): the child runs in this process's memory,
// on the calling thread's state, until it executes the program. The detector's clone takes the child for a
// fork and sets it up as one (the other threads gone, the thread's locks and accesses no longer watched),
// but in the memory it shares with the parent: the parent then stops at its next new thread ("starting new
// threads after multi-threaded fork"), or goes on with locks the detector no longer sees, or fails one of
// its checks. The child only prepares the program's start while the parent waits, so it needs nothing of
// the detector: clone goes to the C library directly, past the detector's.
extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
  va_list more;
  va_start(more, arg);
  pid_t* parentTid = va_arg(more, pid_t*);
  void* tls = va_arg(more, void*);
  pid_t* childTid = va_arg(more, pid_t*);
  va_end(more);
  using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
  static const Clone libcClone = [] {
    void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    return reinterpret_cast<Clone>(libc ? dlsym(libc, "clone") : nullptr);
  }();
  return libcClone(fn, stack, flags, arg, parentTid, tls, childTid);
}
#endif
