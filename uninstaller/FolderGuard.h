#pragma once
// The folders the uninstaller never removes, even when empty, and the walk
// that removes the empty folders above a removed file. Paths keep their case
// and are compared exactly.
//
// Never removed: "/" and every folder directly under it, a fixed list of
// system folders (uninstaller/FolderGuard.cpp), the macro folders of the
// install-information file, and the home folders ($HOME, the user's and, under
// sudo, the invoking user's) with every folder directly in them and the
// desktop's data and settings folders below them.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plx::uninst {

class FolderGuard {
public:
    // macroFolders: the values of the macro table (relative or empty ones
    // are ignored).
    explicit FolderGuard(const std::vector<std::string>& macroFolders);

    bool isProtected(const std::filesystem::path& folder) const;
    // Removes folder when it is empty and not protected, following no link
    // below anchor (uninstaller/NoLinkPath.h); false otherwise.
    bool removeIfEmpty(const std::filesystem::path& folder, const std::string& anchor = {}) const;
    // Removes the empty folders above path one by one, upward, while each is
    // one of roots or lies below one (roots that are not absolute, or hold
    // "..", count for nothing); stops at a protected folder, at one that
    // cannot be removed and at a link below its root.
    void removeEmptyParents(const std::filesystem::path& path, const std::vector<std::string>& roots) const;

private:
    std::vector<std::string> protected_; // exact folders
    std::vector<std::string> homes_;     // their direct children are protected too
};

// path made absolute and lexically normal, without a trailing "/".
std::string normalFolder(const std::filesystem::path& path);
// path lexically normal when it is absolute and has no ".." component:
// then it cannot name anything outside the folder it is written under.
std::optional<std::filesystem::path> confinedPath(const std::filesystem::path& path);
// The deepest of roots (as above) that path equals or lies below, as a
// normal folder; empty when none.
std::string anchorOf(const std::filesystem::path& path, const std::vector<std::string>& roots);

} // namespace plx::uninst
