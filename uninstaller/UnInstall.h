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
#include <set>
#include <string>
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

// A listed file the removal left in place, and why.
struct KeptFile {
    std::string path; // as listed, with its macros replaced
    std::string reason;
    bool failed = false; // it should have gone (the result is kFilesKept)
};

class TCVUnInstall : public TCVInstData {
public:
    enum Result { kRemoved = 0, kInfoFileKept = 1, kFilesKept = 3, kUnregisterFailed = 6 };

    explicit TCVUnInstall(RegistryStore registry = RegistryStore());

    // First undoes the registrations of the self-registering files that
    // will go: when one cannot be undone (or is refused), nothing is removed
    // and the result is kUnregisterFailed (unregisterFailure() says why).
    // Then removes what the loaded file lists, then deletes infoFile (last,
    // and only when no listed file stayed, so that a run that stops early or
    // leaves files can be run again) and, when it lies in the installation's
    // base folder, the folders it leaves empty. A listed path that is
    // relative, holds ".." after its macros, or passes through a symbolic
    // link below BaseDir or the macro folder it names is kept (a file kept),
    // and the empty folders above an item go only within BaseDir or a macro
    // folder the item names. startedProgram, when set, is left alone: the
    // program deletes it itself when it ends.
    // Returns kRemoved, kInfoFileKept when infoFile stayed, or kFilesKept
    // when a listed file could not be deleted (infoFile then stays too).
    int run(RemovalView& view, const std::filesystem::path& infoFile, const std::filesystem::path& startedProgram = {});
    bool ran() const { return ran_; }

    // The folders never removed, from the macro table.
    FolderGuard folderGuard() const;
    // The installation's base folder with its macros replaced.
    std::string baseDir() const { return expand(header.baseDir); }
    // The listed files the last run left: those it could not delete (or
    // refused), and those kept by rule (changed since the install, still
    // counted by another program, or answered no).
    const std::vector<KeptFile>& keptFiles() const { return kept_; }
    const std::string& unregisterFailure() const { return unregisterFailure_; }
    // Where ".desktop" files were removed from in the last run.
    const std::vector<std::filesystem::path>& shortcutFolders() const { return shortcutFolders_; }

private:
    // The paths of the listed files, macros replaced (empty: a blank entry).
    std::vector<std::filesystem::path> expandedPaths() const;
    // Undoes the registrations of the self-registering files that will go
    // without a question; false (with unregisterFailure_) when one fails.
    bool unregisterFirst(const std::vector<std::filesystem::path>& paths, const std::filesystem::path& startedProgram);
    // One file item at path (confined).
    void removeItem(const TCVFileItem& item, const std::filesystem::path& path, RemovalView& view,
                    const FolderGuard& guard, bool& fontMet);
    // The folders an item's upward walk stays in: BaseDir and the macro
    // folders its path names.
    std::vector<std::string> walkRoots(const TCVFileItem& item) const;
    void removeFile(const TCVFileItem& item, const std::filesystem::path& path, int folder, const std::string& name);
    void keep(const std::filesystem::path& path, std::string reason, bool failed);
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
    std::vector<KeptFile> kept_;
    std::set<std::filesystem::path> unregistered_;
    std::string unregisterFailure_;
};

} // namespace plx::uninst
