#include "uninstaller/FolderGuard.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include "uninstaller/NoLinkPath.h"

namespace plx::uninst {

namespace fs = std::filesystem;

namespace {

// System folders deeper than the top level (every top-level folder is kept).
constexpr const char* kSystemFolders[] = {
    "/usr/bin",
    "/usr/sbin",
    "/usr/lib",
    "/usr/lib32",
    "/usr/lib64",
    "/usr/libexec",
    "/usr/include",
    "/usr/share",
    "/usr/src",
    "/usr/games",
    "/usr/local",
    "/usr/local/bin",
    "/usr/local/sbin",
    "/usr/local/lib",
    "/usr/local/lib64",
    "/usr/local/libexec",
    "/usr/local/include",
    "/usr/local/share",
    "/usr/local/src",
    "/usr/local/games",
    "/usr/local/etc",
    "/usr/local/man",
    "/usr/share/applications",
    "/usr/share/fonts",
    "/usr/share/icons",
    "/usr/share/pixmaps",
    "/usr/share/doc",
    "/usr/share/man",
    "/usr/share/mime",
    "/usr/share/locale",
    "/usr/share/dbus-1",
    "/usr/share/dbus-1/services",
    "/usr/share/dbus-1/system-services",
    "/usr/share/dbus-1/system.d",
    "/usr/share/dbus-1/interfaces",
    "/usr/local/share/applications",
    "/usr/local/share/fonts",
    "/usr/local/share/icons",
    "/usr/local/share/pixmaps",
    "/usr/local/share/doc",
    "/usr/local/share/man",
    "/usr/local/share/mime",
    "/usr/local/share/locale",
    "/usr/lib/systemd",
    "/usr/lib/systemd/system",
    "/lib/systemd",
    "/lib/systemd/system",
    "/etc/systemd",
    "/etc/systemd/system",
    "/etc/xdg",
    "/etc/xdg/autostart",
    "/etc/fonts",
    "/etc/dbus-1",
    "/var/lib",
    "/var/log",
    "/var/cache",
    "/var/tmp",
    "/var/spool",
    "/var/opt",
    "/var/local",
};

// Folders below a home folder the desktop keeps its data and settings in.
constexpr const char* kHomeFolders[] = {
    ".local/share", ".local/share/applications", ".local/share/fonts", ".local/share/icons", ".local/bin",
    ".local/lib",   ".config/autostart",
};

std::vector<std::string> homeFolders() {
    std::vector<std::string> homes;
    auto add = [&](const char* home) {
        if (home && *home == '/') homes.push_back(normalFolder(home));
    };
    add(std::getenv("HOME"));
    if (const passwd* pw = ::getpwuid(::geteuid())) add(pw->pw_dir);
    for (const char* variable : {"SUDO_UID", "PKEXEC_UID"})
        if (const char* uid = std::getenv(variable); uid && *uid)
            if (const passwd* pw = ::getpwuid(static_cast<uid_t>(std::strtoul(uid, nullptr, 10)))) add(pw->pw_dir);
    return homes;
}

} // namespace

std::string normalFolder(const fs::path& path) {
    std::error_code ec;
    fs::path absolute = path.is_absolute() ? path : fs::absolute(path, ec);
    std::string s = absolute.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::optional<fs::path> confinedPath(const fs::path& path) {
    if (!path.is_absolute()) return std::nullopt;
    for (const auto& part : path)
        if (part == "..") return std::nullopt;
    return path.lexically_normal();
}

FolderGuard::FolderGuard(const std::vector<std::string>& macroFolders) : homes_(homeFolders()) {
    for (const char* folder : kSystemFolders) protected_.emplace_back(folder);
    for (const auto& folder : macroFolders)
        if (!folder.empty() && folder.front() == '/') protected_.push_back(normalFolder(folder));
    for (const auto& home : homes_) {
        protected_.push_back(home);
        for (const char* below : kHomeFolders) protected_.push_back(home + "/" + below);
    }
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"})
        if (const char* folder = std::getenv(variable); folder && *folder == '/')
            protected_.push_back(normalFolder(folder));
}

bool FolderGuard::isProtected(const fs::path& folder) const {
    std::string s = normalFolder(folder);
    if (s.find('/', 1) == std::string::npos) return true; // "/" and the top level
    if (std::find(protected_.begin(), protected_.end(), s) != protected_.end()) return true;
    std::string parent = s.substr(0, s.rfind('/'));
    return std::find(homes_.begin(), homes_.end(), parent) != homes_.end();
}

bool FolderGuard::removeIfEmpty(const fs::path& folder, const std::string& anchor) const {
    if (isProtected(folder)) return false;
    ParentFolder parent = ParentFolder::open(normalFolder(folder), anchor);
    return parent.opened() && ::unlinkat(parent.fd(), parent.name().c_str(), AT_REMOVEDIR) == 0;
}

void FolderGuard::removeEmptyParents(const fs::path& path, const std::vector<std::string>& roots) const {
    std::string folder = normalFolder(path);
    while (folder.size() > 1) {
        folder = folder.substr(0, std::max<std::size_t>(folder.rfind('/'), 1));
        std::string anchor = anchorOf(folder, roots);
        if (anchor.empty() || !removeIfEmpty(folder, anchor)) return;
    }
}

std::string anchorOf(const fs::path& path, const std::vector<std::string>& roots) {
    std::string folder = normalFolder(path);
    std::string deepest;
    for (const auto& root : roots) {
        auto confined = confinedPath(root);
        if (!confined) continue;
        std::string limit = normalFolder(*confined);
        bool within = folder == limit || (folder.starts_with(limit) && (limit == "/" || folder[limit.size()] == '/'));
        if (within && limit.size() > deepest.size()) deepest = limit;
    }
    return deepest;
}

} // namespace plx::uninst
