#include "platform/FileTransaction.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = ".plx";

[[noreturn]] void fail(int error, const std::string& what, const fs::path& path) {
    throw std::system_error(error, std::generic_category(), what + " " + path.string());
}

bool present(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A free name beside path for its old file.
fs::path freeNameBeside(const fs::path& path) {
    fs::path name = createUniqueFile(path.parent_path(), kPrefix, 0600);
    ::unlink(name.c_str());
    return name;
}

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

void FileTransaction::write(const fs::path& path, std::string_view text, mode_t mode) {
    makeFolders(path.parent_path());
    Change change{path, createUniqueFile(path.parent_path(), kPrefix, 0600), {}};
    changes_.push_back(change); // from here on undo() removes the staged file
    UniqueFd fd(::open(change.staged.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) fail(errno, "open", change.staged);
    if (!writeAll(fd.get(), text.data(), text.size()) || ::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0)
        fail(errno, "write", change.staged);
}

void FileTransaction::remove(const fs::path& path) { changes_.push_back(Change{path, {}, {}}); }

void FileTransaction::commit() {
    for (Change& c : changes_) {
        bool old = present(c.target);
        if (c.staged.empty()) {
            if (!old) continue;
            fs::path aside = freeNameBeside(c.target);
            if (::rename(c.target.c_str(), aside.c_str()) != 0) fail(errno, "remove", c.target);
            c.aside = aside;
        } else {
            if (old) {
                // A second link keeps the old file at its path until the
                // rename below replaces it in one step.
                fs::path aside = freeNameBeside(c.target);
                if (::link(c.target.c_str(), aside.c_str()) != 0) fail(errno, "keep the old", c.target);
                c.aside = aside;
            }
            if (::rename(c.staged.c_str(), c.target.c_str()) != 0) fail(errno, "replace", c.target);
        }
        c.done = true;
    }
}

void FileTransaction::keep() {
    kept_ = true;
    for (Change& c : changes_) {
        if (!c.aside.empty()) ::unlink(c.aside.c_str());
        if (!c.done && !c.staged.empty()) ::unlink(c.staged.c_str());
    }
    changes_.clear();
    madeFolders_.clear();
}

void FileTransaction::undo() noexcept {
    for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
        Change& c = *it;
        if (c.done) {
            if (!c.aside.empty())
                ::rename(c.aside.c_str(), c.target.c_str());
            else if (!c.staged.empty())
                ::unlink(c.target.c_str()); // it did not exist before
        } else {
            if (!c.aside.empty()) ::unlink(c.aside.c_str()); // the second link only
            if (!c.staged.empty()) ::unlink(c.staged.c_str());
        }
    }
    changes_.clear();
    for (auto it = madeFolders_.rbegin(); it != madeFolders_.rend(); ++it) ::rmdir(it->c_str());
    madeFolders_.clear();
}

} // namespace plx
