#pragma once
// Whole writes and signal-safe reads on file descriptors.

#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace plx {

// Writes every byte, continuing after short writes and signals; false on
// failure with errno set.
inline bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One read, restarted after signals.
inline ssize_t readSome(int fd, void* buffer, std::size_t size) {
    ssize_t n;
    while ((n = ::read(fd, buffer, size)) < 0 && errno == EINTR) {}
    return n;
}

} // namespace plx
