#pragma once
// A new file written unseen into a folder and put in place in one step: an
// unnamed file (O_TMPFILE) that gets its name only once it is complete, so
// a failure or a crash before that leaves nothing in the folder.
//
// On a file system without unnamed files a hidden ".plx<HEX>.tmp" stands in,
// removed again when the file goes without being put in place. A replace
// links the file under such a name for the moment of its rename. Both names
// are recorded before they exist (LinkRecord), so a process killed while
// one exists leaves it for its next start to remove.
//
// Failures throw std::system_error with the errno of the failing call.

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "platform/LinkJournal.h"
#include "platform/UniqueFd.h"

namespace plx {

class PendingFile {
public:
    // An empty file in the folder behind dirFd (a descriptor that stays
    // open while this file lives; O_PATH will do), created with mode as
    // the umask and the folder's default ACL allow.
    PendingFile(int dirFd, mode_t mode);
    ~PendingFile();
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Open for writing (and reading back).
    int fd() const { return fd_.get(); }

    // Gives the file old's permissions: its mode bits (never set-user or
    // set-group ids), its owner and group where this process may set them,
    // and its ACL. An owner or group that cannot be kept gets a named ACL
    // entry with its old rights, so nobody loses access; their old rights
    // never pass to the new owner's group.
    void keepPermissionsOf(int oldFd, const struct stat& old);

    // Flushes the file and gives it name, which must not exist (EEXIST).
    void linkAs(std::string_view name);
    // Flushes it and gives it a new name prefix + hex + ".tmp"; the name.
    std::string linkUnique(std::string_view prefix);
    // Flushes it and puts it in place of name in one rename: whoever opens
    // name sees the old or the new file, never a part of either.
    void replace(std::string_view name);

private:
    void flush();
    // A name for the file, for the moment of a rename.
    std::string linkHidden();

    int dirFd_;
    UniqueFd fd_;
    std::string stagedName_; // a named stand-in, or the moment's hidden link
    LinkRecord record_;      // of stagedName_, or of the name being tried
    bool placed_ = false;
};

// Gives path the content text: a new file of mode (as the umask allows),
// written unseen in path's folder and put in place of path in one rename.
// Throws std::system_error with the errno of the failing call and the path.
void replaceFileText(const std::filesystem::path& path, std::string_view text, mode_t mode);

} // namespace plx
