#include "uninstaller/NoLinkPath.h"

#include <cerrno>
#include <fcntl.h>

#include "platform/FdIo.h"

namespace plx::uninst {

namespace fs = std::filesystem;

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

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
    if (rest.empty()) {
        parent.fd_ = std::move(folder);
        return parent;
    }
    parent.fd_ = openFolderWithoutLinks(folder.get(), rest);
    if (!parent.fd_) parent.error_ = errno;
    return parent;
}

} // namespace plx::uninst
