#include "platform/FileTransaction.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/TempFile.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(int error, const std::string& what, const fs::path& path) {
    throw std::system_error(error, std::generic_category(), what + " " + path.string());
}

bool present(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

fs::path folderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

} // namespace

FileTransaction::~FileTransaction() {
    if (!kept_) undo();
}

void FileTransaction::makeFolders(const fs::path& folder) {
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !present(p); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0755) != 0 && errno != EEXIST) fail(errno, "create folder", *it);
        madeFolders_.push_back(*it);
    }
}

void FileTransaction::openFolder(Change& c) {
    c.dir.reset(::open(folderOf(c.target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!c.dir) fail(errno, "open folder of", c.target);
}

FileTransaction::Change FileTransaction::stage(const fs::path& path) {
    Change change;
    change.target = path;
    change.name = path.filename().string();
    return change;
}

void FileTransaction::write(const fs::path& path, std::string_view text, mode_t mode) {
    makeFolders(folderOf(path));
    Change change = stage(path);
    openFolder(change);
    change.staged.emplace(change.dir.get(), 0600);
    int fd = change.staged->fd();
    if (!writeAll(fd, text.data(), text.size()) || ::fchmod(fd, mode) != 0) fail(errno, "write", path);
    changes_.push_back(std::move(change));
}

void FileTransaction::remove(const fs::path& path) { changes_.push_back(stage(path)); }

// The old file under a hidden name beside it, recorded like a replace's
// (LinkRecord): by a second link while a new file takes its place, else by
// a rename.
void FileTransaction::setAside(Change& c, bool keepLinked) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = uniqueFileName(kHiddenLinkPrefix);
        c.asideRecord = LinkRecord(c.dir.get(), name);
        int done = keepLinked ? ::linkat(c.dir.get(), c.name.c_str(), c.dir.get(), name.c_str(), 0)
                              : ::renameat2(c.dir.get(), c.name.c_str(), c.dir.get(), name.c_str(), RENAME_NOREPLACE);
        if (done == 0) {
            c.aside = name;
            return;
        }
        if (errno != EEXIST) fail(errno, keepLinked ? "keep the old" : "remove", c.target);
    }
    fail(EEXIST, "no free name beside", c.target);
}

void FileTransaction::commit() {
    for (Change& c : changes_) {
        bool old = present(c.target);
        if (!c.staged) {
            if (!old) continue;
            openFolder(c); // a removal's folder need not exist when it is staged
            setAside(c, false);
        } else {
            // A second link keeps the old file at its path until the
            // replace below puts the new one there in one step.
            if (old) setAside(c, true);
            c.staged->replace(c.name);
        }
        c.done = true;
    }
}

void FileTransaction::keep() {
    kept_ = true;
    for (Change& c : changes_)
        if (!c.aside.empty()) ::unlinkat(c.dir.get(), c.aside.c_str(), 0);
    changes_.clear();
    madeFolders_.clear();
}

void FileTransaction::undo() noexcept {
    for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
        Change& c = *it;
        if (c.done) {
            if (!c.aside.empty())
                ::renameat(c.dir.get(), c.aside.c_str(), c.dir.get(), c.name.c_str());
            else if (c.staged)
                ::unlinkat(c.dir.get(), c.name.c_str(), 0); // it did not exist before
        } else if (!c.aside.empty()) {
            ::unlinkat(c.dir.get(), c.aside.c_str(), 0); // the second link only
        }
    }
    changes_.clear(); // a staged file that was not placed leaves nothing
    for (auto it = madeFolders_.rbegin(); it != madeFolders_.rend(); ++it) ::rmdir(it->c_str());
    madeFolders_.clear();
}

} // namespace plx
