#include "platform/PendingFile.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/FileAccess.h"
#include "platform/TempFile.h"

namespace plx {

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// Runs make(name) with fresh unique names until it does not report EEXIST.
template <typename Make>
std::string underUniqueName(std::string_view prefix, Make make) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = uniqueFileName(prefix);
        if (make(name)) return name;
        if (errno != EEXIST) fail(errno, "name " + name);
    }
    fail(EEXIST, "no free name");
}

} // namespace

PendingFile::PendingFile(int dirFd, mode_t mode) : dirFd_(dirFd) {
    fd_.reset(::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    if (fd_) return;
    int error = errno;
    // Only a file system without unnamed files gets a named stand-in.
    if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) fail(error, "create a file");
    stagedName_ = underUniqueName(kHiddenLinkPrefix, [&](const std::string& name) {
        record_ = LinkRecord(dirFd, name);
        fd_.reset(::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        return static_cast<bool>(fd_);
    });
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : dirFd_(other.dirFd_), fd_(std::move(other.fd_)), stagedName_(std::move(other.stagedName_)),
      record_(std::move(other.record_)), placed_(other.placed_) {
    other.stagedName_.clear();
    other.placed_ = true;
}

PendingFile::~PendingFile() {
    if (!placed_ && !stagedName_.empty()) ::unlinkat(dirFd_, stagedName_.c_str(), 0);
}

void PendingFile::keepPermissionsOf(int oldFd, const struct stat& old) { keepPermissions(fd_.get(), oldFd, old); }

void PendingFile::flush() {
    if (::fsync(fd_.get()) != 0) fail(errno, "flush");
}

std::string PendingFile::linkHidden() {
    if (!stagedName_.empty()) return stagedName_;
    std::string source = "/proc/self/fd/" + std::to_string(fd_.get());
    stagedName_ = underUniqueName(kHiddenLinkPrefix, [&](const std::string& name) {
        record_ = LinkRecord(dirFd_, name);
        return ::linkat(AT_FDCWD, source.c_str(), dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    return stagedName_;
}

void PendingFile::linkAs(std::string_view name) {
    flush();
    std::string target(name);
    if (stagedName_.empty()) {
        std::string source = "/proc/self/fd/" + std::to_string(fd_.get());
        if (::linkat(AT_FDCWD, source.c_str(), dirFd_, target.c_str(), AT_SYMLINK_FOLLOW) != 0)
            fail(errno, "link " + target);
    } else {
        if (::linkat(dirFd_, stagedName_.c_str(), dirFd_, target.c_str(), 0) != 0) fail(errno, "link " + target);
        ::unlinkat(dirFd_, stagedName_.c_str(), 0);
        stagedName_.clear();
        record_ = LinkRecord();
    }
    placed_ = true;
}

std::string PendingFile::linkUnique(std::string_view prefix) {
    flush();
    std::string source = "/proc/self/fd/" + std::to_string(fd_.get());
    std::string name = underUniqueName(prefix, [&](const std::string& candidate) {
        return stagedName_.empty()
                   ? ::linkat(AT_FDCWD, source.c_str(), dirFd_, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0
                   : ::linkat(dirFd_, stagedName_.c_str(), dirFd_, candidate.c_str(), 0) == 0;
    });
    if (!stagedName_.empty()) ::unlinkat(dirFd_, stagedName_.c_str(), 0);
    stagedName_.clear();
    record_ = LinkRecord();
    placed_ = true;
    return name;
}

void PendingFile::replace(std::string_view name) {
    flush();
    std::string hidden = linkHidden();
    std::string target(name);
    if (::renameat(dirFd_, hidden.c_str(), dirFd_, target.c_str()) != 0) fail(errno, "replace " + target);
    stagedName_.clear();
    record_ = LinkRecord();
    placed_ = true;
}

void replaceFileText(const std::filesystem::path& path, std::string_view text, mode_t mode) {
    std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    try {
        UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!dir) fail(errno, "open folder");
        PendingFile file(dir.get(), mode);
        if (!writeAll(file.fd(), text.data(), text.size())) fail(errno, "write");
        file.replace(path.filename().string());
    } catch (const std::system_error& e) {
        throw std::system_error(e.code(), "replace " + path.string());
    }
}

} // namespace plx
