#include "platform/TempFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <system_error>
#include <unistd.h>

namespace plx {

namespace fs = std::filesystem;

namespace {

std::uint64_t randomSeed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^ static_cast<std::uint64_t>(::getpid());
}

} // namespace

std::string uniqueFileName(std::string_view prefix) {
    thread_local std::mt19937_64 generator(randomSeed());
    char hex[17];
    // Upper case only: names end up in case-insensitive section names.
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(generator() & 0xFFFFFFFFu));
    return std::string(prefix) + hex + ".tmp";
}

fs::path createUniqueFile(const fs::path& folder, std::string_view prefix, mode_t mode) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        fs::path candidate = folder / uniqueFileName(prefix);
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) throw std::system_error(errno, std::generic_category(), "create " + candidate.string());
    }
    throw std::system_error(EEXIST, std::generic_category(), "no free temporary name in " + folder.string());
}

fs::path systemTempFolder() {
    if (const char* dir = std::getenv("TMPDIR"); dir && *dir) return fs::path(dir);
    return fs::path("/tmp");
}

ScopedFileRemoval& ScopedFileRemoval::operator=(ScopedFileRemoval&& other) noexcept {
    if (this != &other) {
        if (!path_.empty()) ::unlink(path_.c_str());
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

ScopedFileRemoval::~ScopedFileRemoval() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

} // namespace plx
