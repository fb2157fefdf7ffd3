#include "common/ParallelGzip.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <zlib.h>

namespace plx {

namespace {

constexpr std::size_t kDictionary = 32 * 1024; // the deflate window
constexpr std::size_t kMinBlock = kDictionary;
constexpr std::size_t kMaxBlock = 16 * 1024 * 1024;
// A sync flush adds an empty stored block beyond deflateBound's estimate.
constexpr std::size_t kFlushSlack = 64;
constexpr unsigned char kOsUnix = 3;

// The header's extra flags, as zlib writes them.
unsigned char extraFlags(int level) {
    if (level == 9) return 2;
    if (level < 2) return 4;
    return 0;
}

void putLittleEndian32(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

ParallelGzip::ParallelGzip(ByteSink sink) : ParallelGzip(std::move(sink), Options{}) {}

ParallelGzip::ParallelGzip(ByteSink sink, Options options)
    : sink_(std::move(sink)), pool_(options.pool ? *options.pool : DeflatePool::shared()),
      level_(options.level == Z_DEFAULT_COMPRESSION ? 6 : options.level),
      blockSize_(std::clamp(options.blockSize, kMinBlock, kMaxBlock)),
      maxInFlight_(options.maxBlocksInFlight > 0 ? options.maxBlocksInFlight : 2 * std::size_t{pool_.threads()}),
      outputCapacity_(deflateBound(nullptr, static_cast<uLong>(blockSize_)) + kFlushSlack),
      sync_(std::make_shared<detail::DeflateSync>()) {
    if (level_ < 0 || level_ > 9) failure_ = Failure::Compression;
    pool_.openStream();
}

ParallelGzip::~ParallelGzip() {
    abandon();
    pool_.closeStream();
}

// A block to fill, primed with the last 32 KiB of previous's data.
std::unique_ptr<ParallelGzip::Job> ParallelGzip::newJob(const Job* previous) {
    auto job = std::make_unique<Job>();
    job->input = pool_.takeBuffer(kDictionary + blockSize_);
    job->level = level_;
    job->outputCapacity = outputCapacity_;
    job->sync = sync_;
    if (previous) {
        const std::size_t n = std::min(kDictionary, previous->dataSize);
        const unsigned char* end = previous->input.data() + previous->dictSize + previous->dataSize;
        std::memcpy(job->input.data(), end - n, n);
        job->dictSize = n;
    }
    return job;
}

bool ParallelGzip::submit(std::unique_ptr<Job> job, bool last) {
    job->last = last;
    for (;;) {
        // A stream's first block never waits for anyone else's.
        if (inFlight_.empty()) {
            pool_.admit(false);
            job->spare = false;
            break;
        }
        if (inFlight_.size() < maxInFlight_ && pool_.admit(true)) {
            job->spare = true;
            break;
        }
        if (!deliverOldest()) return false;
    }
    Job* queued = job.get();
    inFlight_.push_back(std::move(job));
    peak_ = std::max(peak_, inFlight_.size());
    pool_.enqueue(queued);
    return true;
}

// Waits for the oldest block and hands it to the sink.
bool ParallelGzip::deliverOldest() {
    Job& job = *inFlight_.front();
    {
        std::unique_lock lock(sync_->mutex);
        sync_->changed.wait(lock, [&job] { return job.done; });
    }
    if (!job.ok) return fail(Failure::Compression);
    if (!headerSent_) {
        const unsigned char header[10] = {0x1f, 0x8b, Z_DEFLATED, 0, 0, 0, 0, 0, extraFlags(level_), kOsUnix};
        if (!emit(header, sizeof header)) return false;
        headerSent_ = true;
    }
    if (!emit(job.output.data(), job.outputSize)) return false;
    crc_ = static_cast<std::uint32_t>(crc32_combine(crc_, job.crc, static_cast<z_off_t>(job.dataSize)));
    std::unique_ptr<Job> delivered = std::move(inFlight_.front());
    inFlight_.pop_front();
    pool_.retire(*delivered);
    return true;
}

bool ParallelGzip::deliverDone() {
    while (!inFlight_.empty()) {
        {
            std::lock_guard lock(sync_->mutex);
            if (!inFlight_.front()->done) return true;
        }
        if (!deliverOldest()) return false;
    }
    return true;
}

bool ParallelGzip::emit(const void* data, std::size_t size) {
    if (!sink_(data, size)) return fail(Failure::Sink);
    bytesOut_ += size;
    return true;
}

bool ParallelGzip::fail(Failure why) {
    if (failure_ == Failure::None) failure_ = why;
    abandon();
    return false;
}

void ParallelGzip::abandon() {
    if (!inFlight_.empty()) {
        pool_.withdraw(sync_.get());
        std::unique_lock lock(sync_->mutex);
        sync_->changed.wait(lock, [this] {
            return std::all_of(inFlight_.begin(), inFlight_.end(),
                               [](const std::unique_ptr<Job>& job) { return job->withdrawn || job->done; });
        });
    }
    for (auto& job : inFlight_) pool_.retire(*job);
    inFlight_.clear();
    if (filling_) {
        pool_.giveBuffer(std::move(filling_->input));
        filling_.reset();
    }
}

bool ParallelGzip::write(const void* data, std::size_t size) {
    if (failure_ != Failure::None) return false;
    if (finished_) return fail(Failure::Finished);
    const auto* in = static_cast<const unsigned char*>(data);
    try {
        while (size > 0) {
            if (!filling_) filling_ = newJob(nullptr);
            // A full block goes only once more data shows it is not the last.
            if (filling_->dataSize == blockSize_) {
                std::unique_ptr<Job> next = newJob(filling_.get());
                if (!submit(std::move(filling_), false)) return false;
                filling_ = std::move(next);
            }
            const std::size_t take = std::min(size, blockSize_ - filling_->dataSize);
            std::memcpy(filling_->input.data() + filling_->dictSize + filling_->dataSize, in, take);
            filling_->dataSize += take;
            bytesIn_ += take;
            in += take;
            size -= take;
        }
    } catch (const std::bad_alloc&) {
        return fail(Failure::Compression);
    }
    return deliverDone();
}

bool ParallelGzip::finish() {
    if (failure_ != Failure::None) return false;
    if (finished_) return fail(Failure::Finished);
    try {
        if (!filling_) filling_ = newJob(nullptr);
        if (!submit(std::move(filling_), true)) return false;
    } catch (const std::bad_alloc&) {
        return fail(Failure::Compression);
    }
    while (!inFlight_.empty())
        if (!deliverOldest()) return false;
    unsigned char trailer[8];
    putLittleEndian32(trailer, crc_);
    putLittleEndian32(trailer + 4, static_cast<std::uint32_t>(bytesIn_)); // ISIZE: the length modulo 2^32
    if (!emit(trailer, sizeof trailer)) return false;
    finished_ = true;
    return true;
}

} // namespace plx
