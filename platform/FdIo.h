#pragma once
// Whole writes and signal-safe reads on file descriptors.

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <linux/openat2.h>
#include <optional>
#include <string>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "platform/UniqueFd.h"

namespace plx {

// The folder at path (relative to base, or absolute) opened O_PATH without
// following a symbolic link anywhere on the way; closed with errno ELOOP
// when one is met.
inline UniqueFd openFolderWithoutLinks(int base, const std::filesystem::path& path) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    return UniqueFd(static_cast<int>(::syscall(SYS_openat2, base, path.c_str(), &how, sizeof how)));
}

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
    while ((n = ::read(fd, buffer, size)) < 0 && errno == EINTR) {
    }
    return n;
}

// Reads until size bytes or the end of the file; -1 on error.
inline ssize_t readFully(int fd, void* buffer, std::size_t size) {
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = readSome(fd, p + done, size - done);
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Everything from fd's position to its end; nullopt when a read fails.
inline std::optional<std::string> readAllText(int fd) {
    std::string text;
    char block[4096];
    ssize_t n;
    while ((n = readSome(fd, block, sizeof block)) > 0) text.append(block, static_cast<std::size_t>(n));
    if (n < 0) return std::nullopt;
    return text;
}

// The whole file at path; nullopt when it cannot be opened or read.
inline std::optional<std::string> readAllText(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    return readAllText(fd.get());
}

// Copies from from's position to its end onto to, in blocks of blockSize.
// Throws std::system_error with the errno of the read or write that failed.
inline void copyAll(int from, int to, std::size_t blockSize = 1 << 16) {
    std::vector<char> block(blockSize);
    for (;;) {
        ssize_t n = readSome(from, block.data(), block.size());
        if (n < 0) throw std::system_error(errno, std::generic_category(), "read");
        if (n == 0) return;
        if (!writeAll(to, block.data(), static_cast<std::size_t>(n)))
            throw std::system_error(errno, std::generic_category(), "write");
    }
}

} // namespace plx
