#pragma once
// The kernel's file permission check, made for someone else: whether given
// credentials may read, write or search a file, from its owner, mode and
// POSIX access ACL, as the kernel itself would decide. And the ACL of a
// file we own, read and written.

#include <cstdint>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

#include "platform/Credentials.h"

namespace plx {

// Access bits, as in a mode's "rwx" triple.
enum Access : unsigned { kAccessSearch = 1, kAccessWrite = 2, kAccessRead = 4 };

// A POSIX access ACL: the owner, group and other entries of the mode plus
// named users and groups and their mask.
class AccessAcl {
public:
    enum Tag : std::uint16_t {
        kOwner = 0x01,
        kUser = 0x02,
        kOwningGroup = 0x04,
        kGroup = 0x08,
        kMask = 0x10,
        kOther = 0x20
    };
    struct Entry {
        Tag tag;
        unsigned perm;                                     // Access bits
        std::uint32_t id = static_cast<std::uint32_t>(-1); // named users and groups only
    };

    // The ACL that a mode alone stands for.
    static AccessAcl fromMode(mode_t mode);
    // The ACL of the file behind fd (an O_PATH descriptor will do): its
    // stored ACL, or the one of its mode when it has none. nullopt (errno
    // set) when the ACL cannot be read or is malformed.
    static std::optional<AccessAcl> ofFile(int fd, const struct stat& st);

    // Whether who may have all of want, as the kernel's check decides (the
    // capabilities of who included).
    bool permits(const Credentials& who, const struct stat& st, unsigned want) const;

    // Adds (or widens) a named user's or group's entry.
    void grant(Tag tag, std::uint32_t id, unsigned perm);
    // Sets the entry of the owner, the owning group or others.
    void set(Tag tag, unsigned perm);
    unsigned perm(Tag tag) const;
    bool hasNamedEntries() const;
    bool hasMask() const;

    // Stores the ACL on the file behind fd, which this process must own
    // (its mode follows), with a mask that holds exactly what the named
    // entries and the owning group hold. False with errno set.
    bool applyTo(int fd) const;

    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
};

// AccessAcl::ofFile(fd, st)->permits(who, st, want); false also when the
// ACL cannot be read.
bool mayAccess(const Credentials& who, int fd, const struct stat& st, unsigned want);

// Gives the file behind fd (ours) the permissions of the file behind oldFd
// (an O_PATH descriptor will do), whose status is old: its mode bits (never
// set-user or set-group ids), its owner and group where this process may
// set them, and its ACL. An owner or group that cannot be kept gets a named
// ACL entry with its old rights, so nobody loses access; their old rights
// never pass to the new owner's group. Throws std::system_error when that
// cannot be done (a file system without ACLs, say).
void keepPermissions(int fd, int oldFd, const struct stat& old);

} // namespace plx
