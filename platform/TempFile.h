#pragma once
// Uniquely named files: "<prefix><HEX>.tmp", created exclusively.

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/UniqueFd.h"

namespace plx {

// A name prefix + upper-case hex digits + ".tmp", random; whoever uses it
// must create it exclusively (O_EXCL, link()) and try again on EEXIST.
std::string uniqueFileName(std::string_view prefix);

// Creates an empty file named prefix + upper-case hex digits + ".tmp" in
// folder with O_EXCL, retrying on collision. Throws std::system_error when
// the folder cannot take a new file.
std::filesystem::path createUniqueFile(const std::filesystem::path& folder, std::string_view prefix,
                                       mode_t mode = 0600);

// A new file of createUniqueFile's kind, written and read through the
// descriptor that created it (a reopen with O_TRUNC would make the file
// system write the data back at close), and removed when it goes unless
// kept.
class OpenTempFile {
public:
    OpenTempFile() = default;
    // Throws std::system_error when the folder cannot take a new file.
    static OpenTempFile create(const std::filesystem::path& folder, std::string_view prefix, mode_t mode = 0600);
    OpenTempFile(OpenTempFile&&) noexcept;
    OpenTempFile& operator=(OpenTempFile&&) noexcept;
    ~OpenTempFile();

    explicit operator bool() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    int fd() const { return fd_.get(); }
    // Closes the descriptor; false (errno set) when the close reports a
    // failed write. The file stays until the object goes.
    bool close();
    // The file is no longer removed; returns its path.
    std::filesystem::path keep();
    // Hands the descriptor over (the file is still removed unless kept).
    UniqueFd takeFd() { return std::move(fd_); }

private:
    std::filesystem::path path_;
    UniqueFd fd_;
};

// $TMPDIR when set and non-empty, else /tmp.
std::filesystem::path systemTempFolder();

// Deletes its file when it goes out of scope, unless released.
class ScopedFileRemoval {
public:
    ScopedFileRemoval() = default;
    explicit ScopedFileRemoval(std::filesystem::path path) : path_(std::move(path)) {}
    ScopedFileRemoval(const ScopedFileRemoval&) = delete;
    ScopedFileRemoval& operator=(const ScopedFileRemoval&) = delete;
    ScopedFileRemoval(ScopedFileRemoval&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
    ScopedFileRemoval& operator=(ScopedFileRemoval&& other) noexcept;
    ~ScopedFileRemoval();

    const std::filesystem::path& path() const { return path_; }
    void release() { path_.clear(); }

private:
    std::filesystem::path path_;
};

} // namespace plx
