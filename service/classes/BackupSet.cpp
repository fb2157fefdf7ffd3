#include "service/classes/BackupSet.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>

#include "platform/TempFile.h"
#include "service/classes/Transport.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

// path + ".rlbk" with the file's bytes, mode and times. A file of that name
// that is not ours is never replaced: then a unique name is taken.
fs::path copyBeside(const fs::path& path, const struct stat& st) {
    fs::path copy = fs::path(path) += ".rlbk";
    try {
        copyFileStamped(path, copy, true);
    } catch (const std::system_error& e) {
        if (e.code().value() != EEXIST) throw;
        copy = createUniqueFile(path.parent_path().empty() ? fs::path(".") : path.parent_path(),
                                path.filename().string() + ".rlbk", st.st_mode & 0777);
        ScopedFileRemoval undo(copy);
        copyFileStamped(path, copy, false);
        undo.release();
    }
    ::chmod(copy.c_str(), st.st_mode & 07777);
    timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, copy.c_str(), times, 0);
    return copy;
}

} // namespace

BackupSet::~BackupSet() {
    if (!committed_) rollBack();
}

void BackupSet::protect(const fs::path& path) {
    if (find(path)) return;
    struct stat st {};
    // A link is never followed: only the file the call itself writes is copied.
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) throw std::system_error(errno, std::generic_category(), "lstat " + path.string());
        entries_.push_back({path, {}});
        return;
    }
    if (!S_ISREG(st.st_mode)) throw std::system_error(EISDIR, std::generic_category(), path.string());
    entries_.push_back({path, copyBeside(path, st)});
}

void BackupSet::noteCreated(const fs::path& path) {
    if (!find(path)) entries_.push_back({path, {}});
}

void BackupSet::commit() {
    committed_ = true;
    for (const Entry& e : entries_)
        if (!e.copy.empty()) ::unlink(e.copy.c_str());
}

bool BackupSet::find(const fs::path& path) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.path == path; });
}

void BackupSet::rollBack() noexcept {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->copy.empty())
            ::unlink(it->path.c_str());
        else
            ::rename(it->copy.c_str(), it->path.c_str()); // a copy that cannot go back stays for the user
    }
}

} // namespace plx
