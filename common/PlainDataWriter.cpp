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

bool PlainDataWriter::store(const void* data, std::size_t size) {
    hash_.update(data, size);
    if (fd_ >= 0 && !writeAll(fd_, data, size)) {
        writeError_ = errno;
        failure_ = Failure::Write;
        return false;
    }
    bytesOut_ += size;
    return true;
}

bool PlainDataWriter::write(const void* data, std::size_t size) {
    if (failure_ != Failure::None || finished_) return false;
    if (!inflater_) return store(data, size);
    if (inflater_->write(data, size)) return true;
    if (failure_ == Failure::None) failure_ = Failure::Expansion;
    return false;
}

bool PlainDataWriter::finish() {
    if (failure_ != Failure::None || finished_) return false;
    finished_ = true;
    if (inflater_ && !inflater_->finish()) {
        if (failure_ == Failure::None) failure_ = Failure::Expansion;
        return false;
    }
    md5_ = hash_.finishHex();
    return !md5_.empty();
}

bool PlainDataWriter::writeFrom(int fd) {
    PageBuffer block(kReadBlock);
    for (;;) {
        const ssize_t n = readSome(fd, block.data(), block.capacity());
        if (n < 0) {
            writeError_ = errno;
            failure_ = Failure::Write;
            return false;
        }
        if (n == 0) return finish();
        if (!write(block.data(), static_cast<std::size_t>(n))) return false;
    }
}

} // namespace plx
