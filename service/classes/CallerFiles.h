#pragma once
// The files a caller names, opened with that caller's rights checked, so a
// caller sends and receives only what it could read and write itself.
//
// The service opens every file with its own rights (the kernel checks
// those) and checks the caller's rights on the same opened objects: every
// folder on the way must be searchable by the caller, a source readable, a
// target folder writable; a symbolic link as the last name is never
// followed. Where the caller may but the service may not, the call fails
// with the service's system error: the service never lends its rights and
// never widens anybody's.
//
// Whatever is written into a caller's folder appears in one step, complete:
// an unnamed file gets its name only at commit, so a failure or a crash
// leaves nothing behind.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>

#include "platform/Credentials.h"
#include "platform/PendingFile.h"
#include "platform/UniqueFd.h"

namespace plx {

// Who a call came from.
class Caller {
public:
    // The service itself (in-process callers such as the gateway): its own
    // rights, nothing checked beyond the kernel's.
    static Caller service();
    // A caller on the bus with what it holds.
    static Caller withCredentials(Credentials credentials);
    // A caller whose credentials could not be had: no file is its.
    static Caller unknown();

    // May the caller have want (Access bits) on the object behind fd?
    bool may(int fd, const struct stat& st, unsigned want) const;
    // May the caller replace or remove file, an entry of folder? (A folder
    // with the sticky bit keeps others' files from it.)
    bool mayReplace(const struct stat& folder, const struct stat& file) const;

private:
    enum class Kind { kService, kCaller, kUnknown };
    Kind kind_ = Kind::kUnknown;
    Credentials credentials_;
};

// A caller's file could not be had.
class CallerFileError : public std::system_error {
public:
    enum Kind {
        kMissing, // the name or a folder on its way does not exist
        kNotFile, // the name is a folder, a device, a pipe, a file of /proc ...
        kRefused, // the caller may not: its rights, a link
        kSystem,  // the service itself failed (its rights, the disk)
    };
    CallerFileError(Kind kind, int error, const std::string& what);
    Kind kind() const { return kind_; }
    int error() const { return code().value(); }

private:
    Kind kind_;
};

enum class FolderUse {
    kRead,  // names in it are opened
    kWrite, // files are made or replaced in it
};

// A folder of the caller's, opened once: names in it are looked up through
// this descriptor, so the folder cannot be swapped underneath.
class CallerFolder {
public:
    // folder must be absolute. Every folder on the way must be searchable
    // by caller; for kWrite the folder itself writable and searchable. Links
    // on the way resolve as the kernel would. Throws CallerFileError.
    CallerFolder(Caller caller, std::string_view folder, FolderUse use);

    const std::string& path() const { return path_; }
    int fd() const { return fd_.get(); }
    const Caller& caller() const { return caller_; }
    const struct stat& status() const { return st_; }

    // name (a plain name) open for reading: a regular file, not on a file
    // system of the kernel's own (/proc, /sys, ...), not a link, readable
    // by the caller. Throws CallerFileError.
    UniqueFd openSource(std::string_view name) const;
    // name as a target finds it, opened O_PATH: nullopt when it does not
    // exist; refused when it is a link, not a regular file, or the caller
    // may not replace it (or, with forAppend, write it). Throws
    // CallerFileError.
    struct Entry {
        UniqueFd fd;
        struct stat st;
    };
    std::optional<Entry> openTarget(std::string_view name, bool forAppend) const;

private:
    Caller caller_;
    std::string path_;
    UniqueFd fd_; // O_PATH
    struct stat st_ {};
};

enum class WriteMode {
    kReplace, // the target is created or replaced whole
    kAppend,  // the data goes after what the target holds (created when missing)
};

// One file written into a caller's folder. Write the data into fd(); commit()
// puts it in place. Until then nothing of it can be seen: a new or
// replacing file is unnamed, and an append is cut back off the target when
// the write goes without commit.
class CallerTarget {
public:
    // name empty: the file gets a new name "@zv<HEX>.tmp" at commit. Throws
    // CallerFileError.
    CallerTarget(const CallerFolder& folder, std::string name, WriteMode mode);
    ~CallerTarget();
    CallerTarget(const CallerTarget&) = delete;
    CallerTarget& operator=(const CallerTarget&) = delete;

    int fd() const;
    // Flushes and puts the file in place; returns its name. A replaced file
    // keeps its permissions (see PendingFile::keepPermissionsOf) and loses
    // only a read-only state; a new one gets 0666 less the umask (and the
    // folder's default ACL). Throws CallerFileError.
    std::string commit();

private:
    const CallerFolder& folder_;
    std::string name_;
    std::optional<PendingFile> pending_; // a new or replacing file
    UniqueFd appended_;                  // an existing file appended to
    off_t appendedFrom_ = 0;
    bool committed_ = false;
};

} // namespace plx
