#pragma once
// The removal engine: removes what a loaded install-information file lists
// (files with their registrations, shared-file counts and fonts, empty
// folders, registry entries) while it moves the view's progress bar and
// stage marks. Errors of single items never stop the run; the result says
// whether anything stayed.
//
// Shared-file counts are values of the registry store's key kSharedDllsKey,
// one per file path; font entries are values of kFontsKey.

#include <chrono>
#include <filesystem>
#include <vector>

#include "uninstaller/FolderGuard.h"
#include "uninstaller/InstData.h"
#include "uninstaller/RemovalView.h"
#include "uninstaller/SelfRegistration.h"

namespace plx::uninst {

inline constexpr const char* kSharedDllsKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
inline constexpr const char* kFontsKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
inline constexpr std::chrono::milliseconds kItemPause{100};

class TCVUnInstall : public TCVInstData {
public:
    enum Result { kRemoved = 0, kInfoFileKept = 1, kFilesKept = 3 };

    explicit TCVUnInstall(RegistryStore registry = RegistryStore());

    // Removes what the loaded file lists, then deletes infoFile (last, and
    // only when no listed file stayed, so that a run that stops early or
    // leaves files can be run again) and, when it lies in the installation's
    // base folder, the folders it leaves empty. A listed path
    // that is relative or holds ".." after its macros is kept (a file kept),
    // and the empty folders above an item go only within BaseDir or a macro
    // folder the item names. startedProgram, when
    // set, is left alone: the program deletes it itself when it ends.
    // Returns kRemoved, kInfoFileKept when infoFile stayed, or kFilesKept
    // when a listed file could not be deleted (infoFile then stays too).
    int run(RemovalView& view, const std::filesystem::path& infoFile, const std::filesystem::path& startedProgram = {});
    bool ran() const { return ran_; }

    // The folders never removed and the limit of the walk upward, from the
    // macro table and BaseDir.
    FolderGuard folderGuard() const;
    // The listed files the last run could not delete (or refused), as listed
    // with their macros replaced.
    const std::vector<std::string>& keptFiles() const { return kept_; }
    // Where ".desktop" files were removed from in the last run.
    const std::vector<std::filesystem::path>& shortcutFolders() const { return shortcutFolders_; }

private:
    // One file item at path (confined); false when a file it would remove stayed.
    bool removeItem(const TCVFileItem& item, const std::filesystem::path& path, RemovalView& view,
                    const FolderGuard& guard, bool& fontMet);
    // The folders an item's upward walk stays in: BaseDir and the macro
    // folders its path names.
    std::vector<std::string> walkRoots(const TCVFileItem& item) const;
    // false when the file stayed (the result records it).
    bool removeFile(const TCVFileItem& item, const std::filesystem::path& path);
    bool confirmShared(const std::filesystem::path& path, RemovalView& view);
    void removeRegistryItem(const TCVRegItem& item);
    long sharedCount(const std::filesystem::path& path) const;
    void decrementSharedCount(const std::filesystem::path& path, long& count);
    void showNextStageMark(RemovalView& view);

    bool ran_ = false;
    bool yesToAll_ = false;
    bool noToAll_ = false;
    int nextStageMark_ = 0;
    std::vector<std::filesystem::path> shortcutFolders_;
    std::vector<std::string> kept_;
};

} // namespace plx::uninst
