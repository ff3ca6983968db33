#include "common/ZRNAppHost.h"

#include <atomic>

namespace {
std::atomic<ZRNAppHost*> gHost{nullptr};
}

ZRNAppHost* ZRNAppHost_Shared() { return gHost.load(); }

void ZRNAppHost_SetShared(ZRNAppHost* host) { gHost.store(host); }
