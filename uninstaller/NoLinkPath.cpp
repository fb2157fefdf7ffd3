#include "uninstaller/NoLinkPath.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace plx::uninst {

namespace fs = std::filesystem;

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Opens name in folder without following it; ELOOP when it is a link.
int openBelow(int folder, const std::string& name, UniqueFd& out) {
    out.reset(::openat(folder, name.c_str(), kFolderFlags | O_NOFOLLOW));
    if (out) return 0;
    int error = errno;
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) return ELOOP;
    return error;
}

} // namespace

ParentFolder ParentFolder::open(const fs::path& path, const std::string& anchor) {
    ParentFolder parent;
    parent.name_ = path.filename().string();
    std::string text = path.string();
    bool below = !anchor.empty() && text.size() > anchor.size() && text.starts_with(anchor) &&
                 (anchor == "/" || text[anchor.size()] == '/');
    if (!below) {
        parent.fd_.reset(::open(path.parent_path().c_str(), kFolderFlags));
        if (!parent.fd_) parent.error_ = errno;
        return parent;
    }
    UniqueFd folder(::open(anchor.c_str(), kFolderFlags));
    if (!folder) {
        parent.error_ = errno;
        return parent;
    }
    fs::path rest = fs::path(text.substr(anchor.size())).relative_path().parent_path();
    for (const auto& part : rest) {
        UniqueFd next;
        if (int error = openBelow(folder.get(), part.string(), next); error != 0) {
            parent.error_ = error;
            return parent;
        }
        folder = std::move(next);
    }
    parent.fd_ = std::move(folder);
    return parent;
}

} // namespace plx::uninst
