#include "client/LogLineReader.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/FdIo.h"

namespace plx {

namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first kMaxLogLineBytes of an over-long line, not splitting the
// character at the cut.
std::string_view cutLine(const char* text) {
    std::size_t size = kMaxLogLineBytes;
    for (int back = 0; back < 3 && size > 0 && isContinuationByte(text[size]); ++back) --size;
    return {text, size};
}

std::string_view wholeLine(const char* text, std::size_t size) {
    if (size > kMaxLogLineBytes) return cutLine(text);
    if (size > 0 && text[size - 1] == '\r') --size;
    return {text, size};
}

} // namespace

LogLineReader::LogLineReader(const std::filesystem::path& file)
    : fd_(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)),
      buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {
    // A FIFO or a device of a log's name would never end: only files are read.
    struct stat st {};
    if (fd_ && (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))) fd_.reset();
    if (fd_) ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    atEnd_ = !fd_;
}

bool LogLineReader::next(std::string_view& line) {
    char* buffer = buffer_.get();
    for (;;) {
        if (auto* nl = static_cast<char*>(std::memchr(buffer + scan_, '\n', end_ - scan_))) {
            std::size_t start = begin_;
            begin_ = scan_ = static_cast<std::size_t>(nl - buffer) + 1;
            if (skipping_) {
                skipping_ = false;
                continue;
            }
            line = wholeLine(buffer + start, static_cast<std::size_t>(nl - buffer) - start);
            return true;
        }
        if (skipping_) {
            begin_ = end_;
        } else if (end_ - begin_ > kMaxLogLineBytes) {
            line = cutLine(buffer + begin_);
            skipping_ = true;
            begin_ = scan_ = end_;
            return true;
        }
        if (atEnd_) {
            if (skipping_ || begin_ == end_) return false;
            line = wholeLine(buffer + begin_, end_ - begin_);
            begin_ = scan_ = end_;
            return true;
        }
        // Keep the start of the line and read on behind it.
        std::memmove(buffer, buffer + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        scan_ = end_;
        ssize_t n = readSome(fd_.get(), buffer + end_, kBufferSize - end_);
        if (n < 0) {
            atEnd_ = true;
            skipping_ = true; // drop the partial line
            begin_ = scan_ = end_;
            return false;
        }
        if (n == 0) atEnd_ = true;
        end_ += static_cast<std::size_t>(n);
    }
}

} // namespace plx
