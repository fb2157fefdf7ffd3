#pragma once
// Work that allocates much while it runs (a transfer: buffers, parsed
// replies, a thread's own heap) holds a MemoryReturnScope. When the last
// scope of the process ends, the allocator hands its free memory back to the
// system, so a service that served a burst of transfers shrinks back to its
// idle size instead of keeping its peak for good.

namespace plx {

class MemoryReturnScope {
public:
    MemoryReturnScope();
    ~MemoryReturnScope();
    MemoryReturnScope(const MemoryReturnScope&) = delete;
    MemoryReturnScope& operator=(const MemoryReturnScope&) = delete;
};

// Hands the allocator's free memory back to the system now.
void returnFreeMemory();
// The same unless a scope is running: for a moment after a burst when more
// was let go (bus objects of callers that left, threads that retired).
void returnFreeMemoryIfIdle();

} // namespace plx
