#pragma once
// gzip compression on every core, streamed.
//
// Data is pushed in pieces of any size; the output reaches the sink, in
// order, as blocks are done. The input is cut into independent blocks that
// the DeflatePool's workers deflate at the same time; each block is primed
// with the 32 KiB of input before it (so the ratio stays that of one
// stream), ends on a byte boundary with a sync flush (the last with the
// final block), and the blocks are stitched into ONE standard single-member
// gzip stream: header, the blocks, the CRC-32 of the whole (combined from
// the blocks') and the length. Any gunzip reads it unchanged.
//
// The bytes depend only on the data, the level and the block size, never on
// the number of threads or on timing. Memory is a few blocks per stream
// (see DeflatePool), whatever the size of the data.
//
// One stream is used from one thread at a time; any number of streams may
// share a pool.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "common/ByteSink.h"
#include "common/DeflatePool.h"

namespace plx {

class ParallelGzip {
public:
    struct Options {
        int level = 6; // the default level of the zlib gzip file writer
        // Input per block; clamped to 32 KiB .. 16 MiB.
        std::size_t blockSize = 128 * 1024;
        // Blocks of this stream in flight at most (0: twice the pool's
        // threads); fewer when the pool's spare places are taken.
        std::size_t maxBlocksInFlight = 0;
        DeflatePool* pool = nullptr; // nullptr: DeflatePool::shared()
    };

    enum class Failure {
        None,
        Sink,        // the sink refused
        Compression, // zlib failed, a level out of range, or no memory
        Finished,    // write or finish after finish
    };

    explicit ParallelGzip(ByteSink sink);
    ParallelGzip(ByteSink sink, Options options);
    // Abandons an unfinished stream: its queued blocks are dropped and the
    // ones being deflated are waited for.
    ~ParallelGzip();
    ParallelGzip(const ParallelGzip&) = delete;
    ParallelGzip& operator=(const ParallelGzip&) = delete;

    // False once anything failed (see failure()); the stream then stops and
    // every later call fails.
    bool write(const void* data, std::size_t size);
    // Compresses what is left, waits for every block, hands over the rest
    // and the gzip trailer.
    bool finish();

    Failure failure() const { return failure_; }
    std::uint64_t bytesIn() const { return bytesIn_; }
    std::uint64_t bytesOut() const { return bytesOut_; }
    // The most blocks of this stream that were in flight at once.
    std::size_t peakBlocksInFlight() const { return peak_; }

private:
    using Job = detail::DeflateJob;

    std::unique_ptr<Job> newJob(const Job* previous);
    bool submit(std::unique_ptr<Job> job, bool last);
    bool deliverOldest();
    bool deliverDone();
    bool emit(const void* data, std::size_t size);
    bool fail(Failure why);
    void abandon();

    ByteSink sink_;
    DeflatePool& pool_;
    int level_;
    std::size_t blockSize_;
    std::size_t maxInFlight_;
    std::size_t outputCapacity_;
    std::shared_ptr<detail::DeflateSync> sync_;
    std::deque<std::unique_ptr<Job>> inFlight_;
    std::unique_ptr<Job> filling_;
    bool headerSent_ = false;
    bool finished_ = false;
    std::uint32_t crc_ = 0;
    std::uint64_t bytesIn_ = 0;
    std::uint64_t bytesOut_ = 0;
    std::size_t peak_ = 0;
    Failure failure_ = Failure::None;
};

} // namespace plx
