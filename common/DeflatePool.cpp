#include "common/DeflatePool.h"

#include <algorithm>
#include <zlib.h>

#include "platform/Processors.h"

namespace plx {

namespace {

// Raw deflate: the gzip framing is the stream's.
constexpr int kRawWindow = -15;
constexpr int kMemLevel = 8;

// One worker's deflate state, kept from block to block.
class WorkerDeflate {
public:
    WorkerDeflate() = default;
    WorkerDeflate(const WorkerDeflate&) = delete;
    WorkerDeflate& operator=(const WorkerDeflate&) = delete;
    ~WorkerDeflate() {
        if (ready_) deflateEnd(&zs_);
    }

    // Deflates the job's data; fills its output, size and CRC. False on any
    // failure of zlib or of the output buffer.
    bool run(detail::DeflateJob& job) {
        if (!prepare(job.level)) return false;
        const unsigned char* data = job.input.data() + job.dictSize;
        if (job.dictSize > 0 && deflateSetDictionary(&zs_, job.input.data(), static_cast<uInt>(job.dictSize)) != Z_OK)
            return false;
        zs_.next_in = const_cast<unsigned char*>(data);
        zs_.avail_in = static_cast<uInt>(job.dataSize);
        zs_.next_out = job.output.data();
        zs_.avail_out = static_cast<uInt>(job.output.capacity());
        const int rc = deflate(&zs_, job.last ? Z_FINISH : Z_SYNC_FLUSH);
        // A sync flush is complete when room was left over; Z_FINISH when
        // the stream ended.
        const bool complete = job.last ? rc == Z_STREAM_END : (rc == Z_OK && zs_.avail_in == 0 && zs_.avail_out > 0);
        if (!complete) return false;
        job.outputSize = job.output.capacity() - zs_.avail_out;
        job.crc = static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(job.dataSize)));
        return true;
    }

private:
    bool prepare(int level) {
        if (ready_ && level == level_) return deflateReset(&zs_) == Z_OK;
        if (ready_) deflateEnd(&zs_);
        zs_ = z_stream{};
        ready_ = deflateInit2(&zs_, level, Z_DEFLATED, kRawWindow, kMemLevel, Z_DEFAULT_STRATEGY) == Z_OK;
        level_ = level;
        return ready_;
    }

    z_stream zs_{};
    bool ready_ = false;
    int level_ = 0;
};

} // namespace

DeflatePool::DeflatePool(unsigned threads, std::size_t spareBlocks) {
    threads = std::max(1u, threads);
    spareTotal_ = spareBlocks > 0 ? spareBlocks : 2 * static_cast<std::size_t>(threads);
    spareFree_ = spareTotal_;
    // Each block in flight holds an input and an output; a stream fills one
    // more input and primes the next.
    cacheLimit_ = 2 * (spareTotal_ + 2);
    workers_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

DeflatePool::~DeflatePool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
}

DeflatePool& DeflatePool::shared() {
    static DeflatePool pool(usableProcessors());
    return pool;
}

std::size_t DeflatePool::blocksInFlight() const {
    std::lock_guard lock(mutex_);
    return inFlight_;
}

std::size_t DeflatePool::peakBlocksInFlight() const {
    std::lock_guard lock(mutex_);
    return peak_;
}

bool DeflatePool::admit(bool spare) {
    std::lock_guard lock(mutex_);
    if (spare) {
        if (spareFree_ == 0) return false;
        --spareFree_;
    }
    peak_ = std::max(peak_, ++inFlight_);
    return true;
}

void DeflatePool::retire(detail::DeflateJob& job) {
    PageBuffer input = std::move(job.input);
    PageBuffer output = std::move(job.output);
    {
        std::lock_guard lock(mutex_);
        --inFlight_;
        if (job.spare) ++spareFree_;
        job.spare = false;
    }
    giveBuffer(std::move(input));
    giveBuffer(std::move(output));
}

void DeflatePool::enqueue(detail::DeflateJob* job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(job);
    }
    wake_.notify_one();
}

void DeflatePool::withdraw(const detail::DeflateSync* sync) {
    std::lock_guard lock(mutex_);
    std::erase_if(queue_, [sync](detail::DeflateJob* job) {
        if (job->sync.get() != sync) return false;
        job->withdrawn = true;
        return true;
    });
}

PageBuffer DeflatePool::takeBuffer(std::size_t capacity) {
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(cache_.begin(), cache_.end(),
                               [capacity](const PageBuffer& b) { return b.capacity() == capacity; });
        if (it != cache_.end()) {
            PageBuffer buffer = std::move(*it);
            cache_.erase(it);
            return buffer;
        }
    }
    PageBuffer fresh(capacity);
    std::lock_guard lock(mutex_);
    ++mapped_;
    return fresh;
}

std::size_t DeflatePool::buffersMapped() const {
    std::lock_guard lock(mutex_);
    return mapped_;
}

void DeflatePool::giveBuffer(PageBuffer buffer) {
    if (!buffer) return;
    std::lock_guard lock(mutex_);
    if (cache_.size() < cacheLimit_) cache_.push_back(std::move(buffer));
    // else the buffer is unmapped as it goes out of scope
}

void DeflatePool::openStream() {
    std::lock_guard lock(mutex_);
    ++streams_;
}

void DeflatePool::closeStream() {
    std::vector<PageBuffer> dropped;
    {
        std::lock_guard lock(mutex_);
        if (--streams_ == 0) dropped.swap(cache_);
    }
    // unmapped here, outside the lock
}

void DeflatePool::work() {
    WorkerDeflate deflater;
    for (;;) {
        detail::DeflateJob* job = nullptr;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job = queue_.front();
            queue_.pop_front();
        }
        bool ok = false;
        try {
            job->output = takeBuffer(job->outputCapacity);
            ok = deflater.run(*job);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        job->ok = ok;
        // The stream may free the job as soon as it sees done.
        std::shared_ptr<detail::DeflateSync> sync = job->sync;
        std::lock_guard lock(sync->mutex);
        job->done = true;
        sync->changed.notify_all();
    }
}

} // namespace plx
