#pragma once
// A set of files written and removed as one: either every change is in
// place or none is.
//
// write() and remove() only stage: new contents go to unnamed files beside
// their targets (PendingFile; folders are made as needed), nothing visible
// changes.
// commit() then moves every staged change in place, setting the replaced and
// removed files aside, and undoes its own steps when one of them fails. A
// transaction that ends without keep() puts everything back as it was: the
// old files, none of the new ones, none of the folders it made. keep() makes
// the committed state final.
//
// Failures throw std::system_error with the errno of the failing call and
// the path in its text. Undoing never throws; it does what it can.

#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "platform/LinkJournal.h"
#include "platform/PendingFile.h"
#include "platform/UniqueFd.h"

namespace plx {

class FileTransaction {
public:
    FileTransaction() = default;
    ~FileTransaction();
    FileTransaction(const FileTransaction&) = delete;
    FileTransaction& operator=(const FileTransaction&) = delete;

    // Stages text as the new content of path, with that mode.
    void write(const std::filesystem::path& path, std::string_view text, mode_t mode = 0644);
    // Stages the removal of path; a path that does not exist stays so.
    void remove(const std::filesystem::path& path);

    // Puts every staged change in place, in the order staged.
    void commit();
    // Makes the committed changes final and drops the old files.
    void keep();

private:
    struct Change {
        std::filesystem::path target;
        std::string name; // target's, in dir
        UniqueFd dir;
        std::optional<PendingFile> staged; // the new content; none for a removal
        std::string aside;                 // the old file's name while the change is undoable
        LinkRecord asideRecord;
        bool done = false;
    };
    static Change stage(const std::filesystem::path& path);
    static void openFolder(Change& c);
    void makeFolders(const std::filesystem::path& folder);
    static void setAside(Change& c, bool keepLinked);
    void undo() noexcept;

    std::list<Change> changes_;                      // stays put: a staged file holds its folder's descriptor
    std::vector<std::filesystem::path> madeFolders_; // outermost first
    bool kept_ = false;
};

} // namespace plx
