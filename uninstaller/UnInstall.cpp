#include "uninstaller/UnInstall.h"

#include <cstdio>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Numbers.h"
#include "platform/Utf8.h"
#include "uninstaller/SystemTools.h"

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

// The file's age as the install step records it: mtime in whole seconds.
std::int64_t fileAge(const struct stat& st) { return static_cast<std::int64_t>(st.st_mtim.tv_sec); }

} // namespace

TCVUnInstall::TCVUnInstall(RegistryStore registry) : TCVInstData(std::move(registry)) {}

FolderGuard TCVUnInstall::folderGuard() const {
    std::vector<std::string> folders;
    for (const auto& macro : macros.entries()) folders.push_back(macro.value);
    return FolderGuard(folders, expand(header.baseDir));
}

int TCVUnInstall::run(RemovalView& view, const fs::path& infoFile, const fs::path& startedProgram) {
    ran_ = true;
    yesToAll_ = noToAll_ = false;
    nextStageMark_ = 0;
    shortcutFolders_.clear();
    kept_.clear();
    FolderGuard guard = folderGuard();

    view.setProgressRange(
        static_cast<int>(std::min<std::size_t>(files.size() + regs.size() + 1, std::numeric_limits<int>::max())));
    showNextStageMark(view);
    showNextStageMark(view);

    bool shortcutMet = false;
    bool fontMet = false;
    for (const auto& item : files) {
        fs::path expanded = expand(item.path);
        if (!shortcutMet && isShortcut(expanded)) {
            shortcutMet = true;
            showNextStageMark(view);
        }
        if (!startedProgram.empty() && samePath(expanded, startedProgram)) continue;
        if (!expanded.empty()) {
            // A path that could lead out of what was installed is kept, whatever it names.
            if (auto path = confinedPath(expanded); !path || !removeItem(item, *path, view, guard, fontMet))
                kept_.push_back(expanded.string());
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
    bool infoKept = !kept_.empty() || ::unlink(infoFile.c_str()) != 0;
    if (!infoKept) guard.removeEmptyParents(infoFile, {expand(header.baseDir)});
    showNextStageMark(view);
    if (!kept_.empty()) return kFilesKept;
    return infoKept ? kInfoFileKept : kRemoved;
}

bool TCVUnInstall::removeItem(const TCVFileItem& item, const fs::path& path, RemovalView& view,
                              const FolderGuard& guard, bool& fontMet) {
    bool removed = true;
    struct stat st {};
    bool exists = ::lstat(path.c_str(), &st) == 0;
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
        if (item.fileTime == 0 || item.fileTime == fileAge(st)) {
            bool remove = count < 1 && (!item.shared || confirmShared(path, view));
            removed = !remove || removeFile(item, path);
        }
    } else if (exists) {
        guard.removeIfEmpty(path);
    }
    if (item.text.empty()) guard.removeEmptyParents(path, walkRoots(item));
    return removed;
}

std::vector<std::string> TCVUnInstall::walkRoots(const TCVFileItem& item) const {
    std::vector<std::string> roots{expand(header.baseDir)};
    std::string named = toLowerAscii(item.path);
    for (const auto& macro : macros.entries())
        if (!macro.name.empty() && named.find(toLowerAscii(macro.name)) != std::string::npos)
            roots.push_back(macro.value);
    return roots;
}

bool TCVUnInstall::removeFile(const TCVFileItem& item, const fs::path& path) {
    if (item.selfRegistering) {
        try {
            unregisterFile(path, kChildWaitLimit);
        } catch (const UnregisterError& e) {
            // never shown: the file is deleted all the same
            std::fprintf(stderr, "CVUninst: %s\n", e.what());
        }
    }
    if (::unlink(path.c_str()) != 0) return false;
    if (isShortcut(path)) shortcutFolders_.push_back(path.parent_path());
    return true;
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
