#include "common/EntitySource.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "common/Base64Stream.h"
#include "common/FileControl.h"
#include "common/Md5.h"
#include "common/ParallelGzip.h"
#include "platform/FdIo.h"
#include "platform/PageBuffer.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

// Mapped, so its memory goes back at once when the transfer ends.
constexpr std::size_t kReadBlock = 256 * 1024;

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec && a.st_ino == b.st_ino;
}

// Reads size bytes of fd from offset 0 (positioned reads: the descriptor's
// offset is not used) into sink; false when the sink refused. A failed read
// throws Error(unreadable), a file that ended early Error(Changed).
bool readRange(int fd, std::uint64_t size, const ByteSink& sink, EntitySource::Failure unreadable) {
    PageBuffer block(kReadBlock);
    std::uint64_t done = 0;
    while (done < size) {
        auto want = static_cast<std::size_t>(std::min<std::uint64_t>(block.capacity(), size - done));
        ssize_t n = ::pread(fd, block.data(), want, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EntitySource::Error(unreadable, errno);
        if (n == 0) throw EntitySource::Error(EntitySource::Failure::Changed, 0);
        if (!sink(block.data(), static_cast<std::size_t>(n))) return false;
        done += static_cast<std::uint64_t>(n);
    }
    return true;
}

} // namespace

EntitySource::Error::Error(Failure why, int systemError)
    : std::runtime_error("the data to send cannot be prepared"), why_(why), systemError_(systemError) {}

std::shared_ptr<EntitySource> EntitySource::prepare(UniqueFd data, bool compress, const fs::path& scratchFolder,
                                                    std::int64_t maxSize) {
    std::shared_ptr<EntitySource> source(new EntitySource());
    source->data_ = std::move(data);
    source->compressed_ = compress;
    source->readOnce(maxSize, scratchFolder);
    return source;
}

// One pass: the digest, and the compression on the way.
void EntitySource::readOnce(std::int64_t maxSize, const fs::path& scratchFolder) {
    if (::fstat(data_.get(), &taken_) != 0) throw Error(Failure::Read, errno);
    if (!S_ISREG(taken_.st_mode)) throw Error(Failure::Read, EINVAL);
    if (taken_.st_size > maxSize) throw Error(Failure::TooLarge, 0);
    size_ = taken_.st_size;

    std::unique_ptr<FdSink> scratch;
    std::unique_ptr<ParallelGzip> gzip;
    if (compressed_) {
        try {
            packed_ = makeOpenTempFile(scratchFolder);
        } catch (const std::system_error& e) {
            throw Error(Failure::Scratch, e.code().value());
        }
        scratch = std::make_unique<FdSink>(packed_.fd());
        gzip = std::make_unique<ParallelGzip>(scratch->sink());
    }
    // The gzip stream stopped: the temporary file could not take it, or the compression failed.
    auto packingFailed = [&] {
        int scratchError = scratch ? scratch->error().value() : 0;
        return Error(scratchError ? Failure::Scratch : Failure::Compression, scratchError);
    };
    Md5 md5;
    ByteSink hashAndPack = [&](const void* bytes, std::size_t n) {
        md5.update(bytes, n);
        return !gzip || gzip->write(bytes, n);
    };
    if (!readRange(data_.get(), static_cast<std::uint64_t>(size_), hashAndPack, Failure::Read)) throw packingFailed();
    if (gzip) {
        if (!gzip->finish()) throw packingFailed();
        packedSize_ = gzip->bytesOut();
    }
    md5_ = md5.finishHex();
    if (md5_.empty()) throw Error(Failure::Read, 0);
    // Grown or rewritten while it was read: the digest may describe neither.
    if (!unchanged()) throw Error(Failure::Changed, 0);
    if (compressed_) data_.reset(); // the gzip stream stands for it from now on
}

bool EntitySource::unchanged() const {
    struct stat now {};
    return ::fstat(data_.get(), &now) == 0 && sameFile(now, taken_);
}

std::uint64_t EntitySource::textSize() const {
    return base64Length(compressed_ ? packedSize_ : static_cast<std::uint64_t>(size_));
}

bool EntitySource::writeText(const ByteSink& sink) {
    failure_ = Failure::None;
    error_ = 0;
    try {
        Base64Encoder text(sink);
        ByteSink encode = [&](const void* bytes, std::size_t n) { return text.write(bytes, n); };
        int fd = compressed_ ? packed_.fd() : data_.get();
        std::uint64_t size = compressed_ ? packedSize_ : static_cast<std::uint64_t>(size_);
        if (!readRange(fd, size, encode, compressed_ ? Failure::Scratch : Failure::Read)) return false;
        // Checked before the last group goes: a changed file never completes a message.
        if (!compressed_ && !unchanged()) throw Error(Failure::Changed, 0);
        return text.finish();
    } catch (const Error& e) {
        failure_ = e.why();
        error_ = e.systemError();
        return false;
    }
}

OutgoingMessage::Producer EntitySource::producer() {
    std::shared_ptr<EntitySource> self = shared_from_this();
    return [self](const ByteSink& sink) {
        if (self->writeText(sink)) return true;
        if (self->failure_ != Failure::None) throw ProducerFailure(self->error_);
        return false; // the sink refused
    };
}

} // namespace plx
