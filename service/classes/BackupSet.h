#pragma once
// The files one call changes, so that a failure can put them all back: a
// copy beside each existing file before its first change, and a note of
// each file the call creates. Unless committed, the set puts everything
// back when it goes.

#include <filesystem>
#include <vector>

namespace plx {

class BackupSet {
public:
    BackupSet() = default;
    BackupSet(const BackupSet&) = delete;
    BackupSet& operator=(const BackupSet&) = delete;
    ~BackupSet();

    // Before path is first changed. Throws std::system_error when no copy
    // could be made: the caller must not touch the file then.
    void protect(const std::filesystem::path& path);
    // A file the call has just made itself: removed again on failure.
    void noteCreated(const std::filesystem::path& path);
    // Success: the copies go, the changes stay.
    void commit();

private:
    struct Entry {
        std::filesystem::path path;
        std::filesystem::path copy; // empty: the call created the file
    };

    bool find(const std::filesystem::path& path) const;
    void rollBack() noexcept;

    std::vector<Entry> entries_;
    bool committed_ = false;
};

} // namespace plx
