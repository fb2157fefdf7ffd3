#include "uninstaller/FolderGuard.h"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

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

FolderGuard::FolderGuard(const std::vector<std::string>& macroFolders, const fs::path& base)
    : homes_(homeFolders()), base_(base.empty() ? std::string() : normalFolder(base)) {
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

bool FolderGuard::removeIfEmpty(const fs::path& folder) const {
    return !isProtected(folder) && ::rmdir(normalFolder(folder).c_str()) == 0;
}

void FolderGuard::removeUpward(const fs::path& path, const std::function<bool(const std::string&)>& mayRemove,
                               const std::string& last) const {
    std::string folder = normalFolder(path);
    while (folder.size() > 1) {
        folder = folder.substr(0, std::max<std::size_t>(folder.rfind('/'), 1));
        if (!mayRemove(folder) || !removeIfEmpty(folder) || folder == last) return;
    }
}

void FolderGuard::removeEmptyParents(const fs::path& path) const {
    removeUpward(
        path, [](const std::string&) { return true; }, base_);
}

void FolderGuard::removeEmptyParents(const fs::path& path, const std::vector<std::string>& roots) const {
    std::vector<std::string> limits;
    for (const auto& root : roots)
        if (auto confined = confinedPath(root)) limits.push_back(normalFolder(*confined));
    auto within = [&](const std::string& folder) {
        return std::any_of(limits.begin(), limits.end(), [&](const std::string& root) {
            return folder == root || (folder.starts_with(root) && (root == "/" || folder[root.size()] == '/'));
        });
    };
    removeUpward(path, within, {});
}

} // namespace plx::uninst
