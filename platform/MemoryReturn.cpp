#include "platform/MemoryReturn.h"

#include <atomic>
#include <malloc.h>

namespace plx {

namespace {

std::atomic<int> g_running{0};

} // namespace

MemoryReturnScope::MemoryReturnScope() { ++g_running; }

MemoryReturnScope::~MemoryReturnScope() {
    // Only when nothing else runs: a trim walks every arena under its lock.
    if (--g_running == 0) returnFreeMemory();
}

void returnFreeMemory() { ::malloc_trim(0); }

void returnFreeMemoryIfIdle() {
    if (g_running == 0) returnFreeMemory();
}

} // namespace plx
