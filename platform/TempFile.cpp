#include "platform/TempFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <system_error>
#include <unistd.h>
#include <utility>

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

namespace {

fs::path createUnique(const fs::path& folder, std::string_view prefix, mode_t mode, UniqueFd& fd) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        fs::path candidate = folder / uniqueFileName(prefix);
        fd.reset(::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
        if (fd) return candidate;
        if (errno != EEXIST) throw std::system_error(errno, std::generic_category(), "create " + candidate.string());
    }
    throw std::system_error(EEXIST, std::generic_category(), "no free temporary name in " + folder.string());
}

} // namespace

fs::path createUniqueFile(const fs::path& folder, std::string_view prefix, mode_t mode) {
    UniqueFd fd;
    return createUnique(folder, prefix, mode, fd);
}

OpenTempFile OpenTempFile::create(const fs::path& folder, std::string_view prefix, mode_t mode) {
    OpenTempFile file;
    file.path_ = createUnique(folder, prefix, mode, file.fd_);
    return file;
}

OpenTempFile::OpenTempFile(OpenTempFile&& other) noexcept
    : path_(std::exchange(other.path_, {})), fd_(std::move(other.fd_)) {}

OpenTempFile& OpenTempFile::operator=(OpenTempFile&& other) noexcept {
    if (this != &other) {
        fd_.reset();
        if (!path_.empty()) ::unlink(path_.c_str());
        path_ = std::exchange(other.path_, {});
        fd_ = std::move(other.fd_);
    }
    return *this;
}

OpenTempFile::~OpenTempFile() {
    fd_.reset();
    if (!path_.empty()) ::unlink(path_.c_str());
}

bool OpenTempFile::close() {
    if (!fd_) return true;
    return ::close(fd_.release()) == 0;
}

fs::path OpenTempFile::keep() { return std::exchange(path_, {}); }

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
