#pragma once
// Worker threads that deflate the blocks of every ParallelGzip stream in the
// process, with one bound on the blocks in flight for all of them.
//
// Each stream may always have one block in flight, so no stream ever waits
// for another; more blocks at a time (to keep every worker busy) take one of
// the pool's spare places, shared by all streams. Memory is therefore at
// most (streams + spare places) blocks, whatever the file sizes. Block
// buffers are mapped pages, kept for reuse as blocks come and go (up to what
// one stream with every spare place has in use, so a stream maps its
// buffers once rather than per block) and unmapped when the last stream
// ends, so memory goes back to the system after a burst of transfers.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/PageBuffer.h"

namespace plx {

namespace detail {

// Completion signal of one stream's blocks.
struct DeflateSync {
    std::mutex mutex;
    std::condition_variable changed;
};

// One block of a stream: its input (the 32 KiB dictionary, then the data)
// and, once done, its raw deflate output and the CRC-32 of the data.
struct DeflateJob {
    PageBuffer input;
    std::size_t dictSize = 0;
    std::size_t dataSize = 0;
    bool last = false; // ends the deflate stream (Z_FINISH); else a sync flush
    int level = 6;
    std::size_t outputCapacity = 0;
    std::shared_ptr<DeflateSync> sync;

    // Written by the worker before done.
    PageBuffer output;
    std::size_t outputSize = 0;
    std::uint32_t crc = 0;
    bool ok = false;

    bool done = false;      // guarded by sync->mutex
    bool withdrawn = false; // guarded by the pool's mutex
    bool spare = false;     // holds one of the pool's spare places
};

} // namespace detail

class DeflatePool {
public:
    // threads: workers, at least 1. spareBlocks: places beyond each
    // stream's first block, shared by all streams (0: twice the threads).
    explicit DeflatePool(unsigned threads, std::size_t spareBlocks = 0);
    // Finishes the blocks still queued and joins; no stream may use the
    // pool any more.
    ~DeflatePool();
    DeflatePool(const DeflatePool&) = delete;
    DeflatePool& operator=(const DeflatePool&) = delete;

    // The process's pool: a worker per processor this process may run on,
    // started at first use.
    static DeflatePool& shared();

    unsigned threads() const { return static_cast<unsigned>(workers_.size()); }
    std::size_t spareBlocks() const { return spareTotal_; }
    // Blocks submitted and not yet delivered or dropped, over all streams,
    // and the most there ever were at once.
    std::size_t blocksInFlight() const;
    std::size_t peakBlocksInFlight() const;

    // For ParallelGzip. admit counts a block in flight, with a spare place
    // when spare is true; false when none is free. retire ends that.
    bool admit(bool spare);
    void retire(detail::DeflateJob& job);
    void enqueue(detail::DeflateJob* job);
    // Takes the stream's queued blocks out of the queue (marking them
    // withdrawn); blocks a worker has begun are left to finish.
    void withdraw(const detail::DeflateSync* sync);
    // Buffers from the cache or freshly mapped; throw std::bad_alloc.
    PageBuffer takeBuffer(std::size_t capacity);
    // How many buffers the pool has mapped so far.
    std::size_t buffersMapped() const;
    void giveBuffer(PageBuffer buffer);
    // A stream begins or ends; when none is left the cached buffers go back
    // to the system.
    void openStream();
    void closeStream();

private:
    void work();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<detail::DeflateJob*> queue_;
    std::vector<PageBuffer> cache_;
    std::size_t cacheLimit_;
    std::size_t spareTotal_;
    std::size_t spareFree_;
    std::size_t inFlight_ = 0;
    std::size_t streams_ = 0;
    std::size_t peak_ = 0;
    std::size_t mapped_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace plx
