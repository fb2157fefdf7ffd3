#include "platform/FileAccess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>

namespace plx {

namespace {

[[noreturn]] void failWith(int error, const char* what) {
    throw std::system_error(error, std::generic_category(), what);
}

// Rights that held only through the mask are what they were, once every
// entry stands on its own.
AccessAcl unmasked(const AccessAcl& acl) {
    AccessAcl out = AccessAcl::fromMode(0);
    unsigned mask = acl.hasMask() ? acl.perm(AccessAcl::kMask) : 7u;
    for (const AccessAcl::Entry& e : acl.entries()) {
        switch (e.tag) {
        case AccessAcl::kOwner:
        case AccessAcl::kOther: out.set(e.tag, e.perm); break;
        case AccessAcl::kOwningGroup: out.set(e.tag, e.perm & mask); break;
        case AccessAcl::kUser:
        case AccessAcl::kGroup: out.grant(e.tag, e.id, e.perm & mask); break;
        case AccessAcl::kMask: break;
        }
    }
    return out;
}

// The kernel's stored form: a little-endian version word, then one
// (tag, perm, id) record per entry, ordered by tag and id.
constexpr const char* kAclName = "system.posix_acl_access";
constexpr std::uint32_t kAclVersion = 2;
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kEntrySize = 8;

std::uint32_t readLittle(const unsigned char* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void writeLittle(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string fdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool grants(unsigned perm, unsigned want) { return (perm & want) == want; }

// What the capabilities of who allow without looking at the permissions.
bool capabilityPermits(const Credentials& who, const struct stat& st, unsigned want) {
    bool directory = S_ISDIR(st.st_mode);
    if (who.overridesAccess) {
        // Execution of a plain file still needs some execute bit.
        if (directory || !(want & kAccessSearch) || (st.st_mode & 0111)) return true;
    }
    if (who.readsAll) {
        unsigned readable = directory ? (kAccessRead | kAccessSearch) : kAccessRead;
        if ((want & ~readable) == 0) return true;
    }
    return false;
}

} // namespace

AccessAcl AccessAcl::fromMode(mode_t mode) {
    AccessAcl acl;
    acl.entries_ = {{kOwner, (mode >> 6) & 7u}, {kOwningGroup, (mode >> 3) & 7u}, {kOther, mode & 7u}};
    return acl;
}

std::optional<AccessAcl> AccessAcl::ofFile(int fd, const struct stat& st) {
    std::string path = fdPath(fd);
    std::vector<unsigned char> raw(kHeaderSize + 32 * kEntrySize);
    ssize_t size;
    while ((size = ::getxattr(path.c_str(), kAclName, raw.data(), raw.size())) < 0 && errno == ERANGE) {
        ssize_t needed = ::getxattr(path.c_str(), kAclName, nullptr, 0);
        if (needed < 0) break;
        raw.resize(static_cast<std::size_t>(needed) + kEntrySize);
    }
    if (size < 0) {
        if (errno == ENODATA || errno == ENOTSUP) return fromMode(st.st_mode);
        return std::nullopt;
    }
    auto bytes = static_cast<std::size_t>(size);
    if (bytes < kHeaderSize || (bytes - kHeaderSize) % kEntrySize != 0 || readLittle(raw.data(), 4) != kAclVersion) {
        errno = EINVAL;
        return std::nullopt;
    }
    AccessAcl acl;
    for (std::size_t at = kHeaderSize; at < bytes; at += kEntrySize) {
        Entry e{static_cast<Tag>(readLittle(&raw[at], 2)), readLittle(&raw[at + 2], 2) & 7u,
                readLittle(&raw[at + 4], 4)};
        acl.entries_.push_back(e);
    }
    return acl;
}

// The order of the kernel's posix_acl_permission(): the owner's entry, a
// named user's (masked), the groups (masked; any one that grants all of
// want suffices, any that matched and did not denies), else others.
bool AccessAcl::permits(const Credentials& who, const struct stat& st, unsigned want) const {
    if (capabilityPermits(who, st, want)) return true;
    auto mask = std::find_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.tag == kMask; });
    auto masked = [&](unsigned perm) { return mask == entries_.end() ? perm : perm & mask->perm; };
    if (who.uid == st.st_uid) return grants(perm(kOwner), want);
    for (const Entry& e : entries_)
        if (e.tag == kUser && e.id == who.uid) return grants(masked(e.perm), want);
    bool groupMatched = false;
    for (const Entry& e : entries_) {
        bool member = (e.tag == kOwningGroup && who.inGroup(st.st_gid)) || (e.tag == kGroup && who.inGroup(e.id));
        if (!member) continue;
        groupMatched = true;
        // Without named entries there is no mask: the owning group's bits stand alone.
        if (grants(masked(e.perm), want)) return true;
    }
    return !groupMatched && grants(perm(kOther), want);
}

void AccessAcl::grant(Tag tag, std::uint32_t id, unsigned perm) {
    auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.tag == tag && e.id == id; });
    if (it == entries_.end())
        entries_.push_back({tag, perm & 7u, id});
    else
        it->perm |= perm & 7u;
}

void AccessAcl::set(Tag tag, unsigned perm) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.tag == tag; });
    if (it == entries_.end())
        entries_.push_back({tag, perm & 7u});
    else
        it->perm = perm & 7u;
}

unsigned AccessAcl::perm(Tag tag) const {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.tag == tag; });
    return it == entries_.end() ? 0 : it->perm;
}

bool AccessAcl::hasMask() const {
    return std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.tag == kMask; });
}

bool AccessAcl::hasNamedEntries() const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [](const Entry& e) { return e.tag == kUser || e.tag == kGroup; });
}

bool AccessAcl::applyTo(int fd) const {
    // The mask is what the named entries and the owning group hold together:
    // it cuts nobody's rights.
    std::vector<Entry> sorted;
    unsigned mask = 0;
    for (const Entry& e : entries_) {
        if (e.tag == kMask) continue;
        sorted.push_back(e);
        if (e.tag == kUser || e.tag == kGroup || e.tag == kOwningGroup) mask |= e.perm;
    }
    if (hasNamedEntries()) sorted.push_back({kMask, mask});
    std::sort(sorted.begin(), sorted.end(),
              [](const Entry& a, const Entry& b) { return a.tag != b.tag ? a.tag < b.tag : a.id < b.id; });
    std::string raw;
    writeLittle(raw, kAclVersion, 4);
    for (const Entry& e : sorted) {
        writeLittle(raw, e.tag, 2);
        writeLittle(raw, e.perm, 2);
        writeLittle(raw, e.tag == kUser || e.tag == kGroup ? e.id : static_cast<std::uint32_t>(-1), 4);
    }
    return ::fsetxattr(fd, kAclName, raw.data(), raw.size(), 0) == 0;
}

bool mayAccess(const Credentials& who, int fd, const struct stat& st, unsigned want) {
    std::optional<AccessAcl> acl = AccessAcl::ofFile(fd, st);
    return acl && acl->permits(who, st, want);
}

void keepPermissions(int fd, int oldFd, const struct stat& old) {
    bool ownerKept = old.st_uid == ::geteuid() || ::fchown(fd, old.st_uid, static_cast<gid_t>(-1)) == 0;
    bool groupKept = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
    std::optional<AccessAcl> oldAcl = AccessAcl::ofFile(oldFd, old);
    if (!oldAcl) failWith(errno, "read the permissions");
    AccessAcl acl = unmasked(*oldAcl);
    unsigned ownerPerm = (old.st_mode >> 6) & 7u;
    acl.set(AccessAcl::kOwner, ownerPerm);
    if (!ownerKept) acl.grant(AccessAcl::kUser, old.st_uid, ownerPerm);
    if (!groupKept) {
        // The old group keeps its rights by name; the new group gets none of them.
        acl.grant(AccessAcl::kGroup, old.st_gid, acl.perm(AccessAcl::kOwningGroup));
        acl.set(AccessAcl::kOwningGroup, 0);
    }
    if (!acl.hasNamedEntries()) {
        mode_t mode = (ownerPerm << 6) | (acl.perm(AccessAcl::kOwningGroup) << 3) | acl.perm(AccessAcl::kOther);
        if (::fchmod(fd, mode) != 0) failWith(errno, "set the mode");
    } else {
        if (!acl.applyTo(fd)) failWith(errno, "set the access list");
    }
}

} // namespace plx
