#pragma once
// Uniquely named files: "<prefix><HEX>.tmp", created exclusively.

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace plx {

// A name prefix + upper-case hex digits + ".tmp", random; whoever uses it
// must create it exclusively (O_EXCL, link()) and try again on EEXIST.
std::string uniqueFileName(std::string_view prefix);

// Creates an empty file named prefix + upper-case hex digits + ".tmp" in
// folder with O_EXCL, retrying on collision. Throws std::system_error when
// the folder cannot take a new file.
std::filesystem::path createUniqueFile(const std::filesystem::path& folder, std::string_view prefix,
                                       mode_t mode = 0600);

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
