#include "common/PlainDataWriter.h"

#include <cerrno>

#include "platform/FdIo.h"
#include "platform/PageBuffer.h"

namespace plx {

namespace {

constexpr std::size_t kReadBlock = 256 * 1024;

} // namespace

PlainDataWriter::PlainDataWriter(int fd, bool expand, std::uint64_t limit) : fd_(fd) {
    if (expand)
        inflater_ = std::make_unique<GzipInflater>(
            [this](const void* data, std::size_t size) { return store(data, size); }, limit);
}

PlainDataWriter::~PlainDataWriter() = default;

bool PlainDataWriter::fail(Failure why, int systemError) {
    if (!failed()) error_ = Error(why, systemError);
    return false;
}

bool PlainDataWriter::store(const void* data, std::size_t size) {
    hash_.update(data, size);
    if (fd_ >= 0 && !writeAll(fd_, data, size)) return fail(Failure::Write, errno);
    bytesOut_ += size;
    return true;
}

bool PlainDataWriter::write(const void* data, std::size_t size) {
    if (failed() || finished_) return false;
    if (!inflater_) return store(data, size);
    // A refused write inside the inflater is already kept.
    return inflater_->write(data, size) || fail(Failure::Expansion);
}

bool PlainDataWriter::finish() {
    if (failed() || finished_) return false;
    finished_ = true;
    if (inflater_ && !inflater_->finish()) return fail(Failure::Expansion);
    md5_ = hash_.finishHex();
    return !md5_.empty();
}

bool PlainDataWriter::writeFrom(int fd) {
    PageBuffer block(kReadBlock);
    for (;;) {
        const ssize_t n = readSome(fd, block.data(), block.capacity());
        if (n < 0) return fail(Failure::Write, errno);
        if (n == 0) return finish();
        if (!write(block.data(), static_cast<std::size_t>(n))) return false;
    }
}

} // namespace plx
