#include "uninstaller/UnInstall.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Numbers.h"
#include "platform/Utf8.h"
#include "uninstaller/NoLinkPath.h"
#include "uninstaller/SystemTools.h"
#include "uninstaller/Texts.h"

namespace plx::uninst {

namespace fs = std::filesystem;

namespace {

constexpr const char* kShortcutExtension = ".desktop";

bool isShortcut(const fs::path& path) { return toLowerAscii(path.extension().string()) == kShortcutExtension; }

bool samePath(const fs::path& a, const fs::path& b) {
    if (normalFolder(a) == normalFolder(b)) return true;
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// The file's age as the install step records it (mtime in whole seconds)
// matches the item's, or the item asks for no check.
bool unchangedSinceInstall(const TCVFileItem& item, const struct stat& st) {
    return item.fileTime == 0 || item.fileTime == static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

} // namespace

TCVUnInstall::TCVUnInstall(RegistryStore registry) : TCVInstData(std::move(registry)) {}

FolderGuard TCVUnInstall::folderGuard() const {
    std::vector<std::string> folders;
    for (const auto& macro : macros.entries()) folders.push_back(macro.value);
    return FolderGuard(folders);
}

std::vector<fs::path> TCVUnInstall::expandedPaths() const {
    std::vector<fs::path> paths;
    paths.reserve(files.size());
    for (const auto& item : files) paths.emplace_back(expand(item.path));
    return paths;
}

int TCVUnInstall::run(RemovalView& view, const fs::path& infoFile, const fs::path& startedProgram) {
    ran_ = true;
    yesToAll_ = noToAll_ = false;
    nextStageMark_ = 0;
    shortcutFolders_.clear();
    kept_.clear();
    unregistered_.clear();
    unregisterFailure_.clear();
    FolderGuard guard = folderGuard();
    std::vector<fs::path> paths = expandedPaths();

    view.setProgressRange(
        static_cast<int>(std::min<std::size_t>(files.size() + regs.size() + 1, std::numeric_limits<int>::max())));
    // A registration left behind would point at a deleted program: nothing
    // goes unless every one that goes with its file could be undone.
    if (!unregisterFirst(paths, startedProgram)) return kUnregisterFailed;
    showNextStageMark(view);
    showNextStageMark(view);

    bool shortcutMet = false;
    bool fontMet = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path& expanded = paths[i];
        if (!shortcutMet && isShortcut(expanded)) {
            shortcutMet = true;
            showNextStageMark(view);
        }
        if (!startedProgram.empty() && samePath(expanded, startedProgram)) continue;
        if (!expanded.empty()) {
            // A path that could lead out of what was installed is kept, whatever it names.
            if (auto path = confinedPath(expanded))
                removeItem(files[i], *path, view, guard, fontMet);
            else
                keep(expanded, kKeptOutside, true);
        }
        view.stepProgress();
        view.pause(kItemPause);
    }
    if (fontMet) refreshFontCache();
    showNextStageMark(view);
    if (!shortcutMet) showNextStageMark(view);

    for (const auto& item : regs) {
        removeRegistryItem(item);
        view.stepProgress();
        view.pause(kItemPause);
    }

    // The information file goes last, and only when everything listed went:
    // a run that stopped early, or left files, can be repeated. Inside the
    // installation, the folders it kept go with it.
    bool failed = std::any_of(kept_.begin(), kept_.end(), [](const KeptFile& k) { return k.failed; });
    bool infoKept = failed || ::unlink(infoFile.c_str()) != 0;
    if (!infoKept) guard.removeEmptyParents(infoFile, {baseDir()});
    showNextStageMark(view);
    if (failed) return kFilesKept;
    return infoKept ? kInfoFileKept : kRemoved;
}

bool TCVUnInstall::unregisterFirst(const std::vector<fs::path>& paths, const fs::path& startedProgram) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TCVFileItem& item = files[i];
        // A shared file goes only when the user says so, and is unregistered then.
        if (!item.selfRegistering || item.shared || paths[i].empty()) continue;
        if (!startedProgram.empty() && samePath(paths[i], startedProgram)) continue;
        auto path = confinedPath(paths[i]);
        if (!path) continue;
        ParentFolder parent = ParentFolder::open(*path, anchorOf(*path, walkRoots(item)));
        struct stat st {};
        if (!parent.opened() || ::fstatat(parent.fd(), parent.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            S_ISDIR(st.st_mode) || !unchangedSinceInstall(item, st) || sharedCount(*path) >= 1)
            continue; // it stays, registered
        try {
            unregisterFile(*path, kChildWaitLimit);
        } catch (const UnregisterError& e) {
            unregisterFailure_ = e.what();
            return false;
        }
        unregistered_.insert(*path);
    }
    return true;
}

void TCVUnInstall::removeItem(const TCVFileItem& item, const fs::path& path, RemovalView& view,
                              const FolderGuard& guard, bool& fontMet) {
    std::vector<std::string> roots = walkRoots(item);
    std::string anchor = anchorOf(path, roots);
    ParentFolder parent = ParentFolder::open(path, anchor);
    if (!parent.opened() && parent.error() == ELOOP) {
        keep(path, kKeptThroughLink, true);
        return;
    }
    struct stat st {};
    bool exists = parent.opened() && ::fstatat(parent.fd(), parent.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISDIR(st.st_mode)) {
        if (item.font) {
            fontMet = true;
            try {
                if (!item.fontValueName.empty()) registry_.deleteValue(kFontsKey, item.fontValueName);
            } catch (const std::exception&) {
                // a stale font entry harms nothing
            }
        }
        long count = sharedCount(path);
        if (item.shared) decrementSharedCount(path, count);
        if (!unchangedSinceInstall(item, st))
            keep(path, kKeptChanged, false);
        else if (count >= 1)
            keep(path, kKeptCounted, false);
        else if (item.shared && !confirmShared(path, view))
            keep(path, kKeptAnswered, false);
        else
            removeFile(item, path, parent.fd(), parent.name());
    } else if (exists && !guard.removeIfEmpty(path, anchor)) {
        keep(path, kKeptFolder, false);
    }
    if (item.text.empty()) guard.removeEmptyParents(path, roots);
}

std::vector<std::string> TCVUnInstall::walkRoots(const TCVFileItem& item) const {
    std::vector<std::string> roots{baseDir()};
    std::string named = toLowerAscii(item.path);
    for (const auto& macro : macros.entries())
        if (!macro.name.empty() && named.find(toLowerAscii(macro.name)) != std::string::npos)
            roots.push_back(macro.value);
    return roots;
}

void TCVUnInstall::removeFile(const TCVFileItem& item, const fs::path& path, int folder, const std::string& name) {
    if (item.selfRegistering && !unregistered_.contains(path)) {
        try {
            unregisterFile(path, kChildWaitLimit);
        } catch (const UnregisterError& e) {
            keep(path, formatText(kKeptRegistered, {e.what()}), true);
            return;
        }
    }
    if (::unlinkat(folder, name.c_str(), 0) != 0) {
        int error = errno;
        keep(path, formatText(kKeptUndeletable, {std::strerror(error)}), true);
        return;
    }
    if (isShortcut(path)) shortcutFolders_.push_back(path.parent_path());
    if (isJournalCatalog(path)) refreshJournalCatalog(path);
}

void TCVUnInstall::keep(const fs::path& path, std::string reason, bool failed) {
    kept_.push_back({path.string(), std::move(reason), failed});
}

bool TCVUnInstall::confirmShared(const fs::path& path, RemovalView& view) {
    if (yesToAll_) return true;
    if (noToAll_) return false;
    switch (view.askRemoveSharedFile(path)) {
    case SharedFileAnswer::Yes: return true;
    case SharedFileAnswer::YesToAll: yesToAll_ = true; return true;
    case SharedFileAnswer::NoToAll: noToAll_ = true; return false;
    case SharedFileAnswer::No: return false;
    }
    return false;
}

long TCVUnInstall::sharedCount(const fs::path& path) const {
    try {
        auto value = registry_.readValue(kSharedDllsKey, path.string());
        if (!value) return -1;
        std::string_view text = *value;
        bool negative = !text.empty() && text.front() == '-';
        auto digits = parseDigits(negative ? text.substr(1) : text);
        if (!digits) return -1;
        return static_cast<long>(clampToInt32(negative ? -*digits : *digits));
    } catch (const std::exception&) {
        return -1; // unreadable: treated as having no count
    }
}

void TCVUnInstall::decrementSharedCount(const fs::path& path, long& count) {
    if (count == -1) return;
    --count;
    try {
        if (count <= 0)
            registry_.deleteValue(kSharedDllsKey, path.string());
        else
            registry_.writeValue(kSharedDllsKey, path.string(), std::to_string(count));
    } catch (const std::exception&) {
        // the count stays as it was; the decision uses the new one
    }
}

void TCVUnInstall::removeRegistryItem(const TCVRegItem& item) {
    auto root = registryRootName(static_cast<std::uint32_t>(item.rootKey));
    if (!root || item.keyPath.empty() || item.keyPath == "\\") return;
    std::string path = item.keyPath;
    while (!path.empty() && path.front() == '\\') path.erase(0, 1);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    try {
        std::string key = registryKeyName(*root, path);
        // The whole key when asked for, else the value and the key it leaves empty.
        bool wholeKey = item.deleteKey && registry_.keyExists(key);
        if (wholeKey ||
            (registry_.deleteValue(key, item.valueName) && !registry_.hasSubkeys(key) && !registry_.hasValues(key)))
            registry_.deleteKey(key);
        // Up the parents, while each is left empty.
        for (std::size_t cut; (cut = path.rfind('\\')) != std::string::npos && cut > 0;) {
            path.erase(cut);
            std::string parent = registryKeyName(*root, path);
            if (!registry_.keyExists(parent) || registry_.hasSubkeys(parent) || registry_.hasValues(parent)) break;
            if (!registry_.deleteKey(parent)) break;
        }
    } catch (const std::exception&) {
        // a registry entry that stays does not stop the removal
    }
}

void TCVUnInstall::showNextStageMark(RemovalView& view) {
    if (nextStageMark_ < view.stageMarkCount()) view.showStageMark(nextStageMark_++);
}

} // namespace plx::uninst
