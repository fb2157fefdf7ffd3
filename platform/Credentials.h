#pragma once
// Who a process is to the kernel's file permission checks: its file-system
// user and group, its supplementary groups, and the two capabilities that
// override those checks.

#include <cstdint>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace plx {

struct Credentials {
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    std::vector<gid_t> groups;    // supplementary
    bool overridesAccess = false; // CAP_DAC_OVERRIDE
    bool readsAll = false;        // CAP_DAC_READ_SEARCH

    // gid is the primary or a supplementary group.
    bool inGroup(gid_t id) const;
};

// When process pid started (in clock ticks after boot): with the pid, it
// names one process, never a later one given the same pid. nullopt when it
// is gone or cannot be looked at.
std::optional<std::uint64_t> processStartTime(pid_t pid);

// The credentials process pid holds now, provided it still runs as uid (its
// effective user) and, with started, is the process that started then;
// nullopt when it is gone, runs as someone else, or its status cannot be
// read (a /proc mounted with hidepid). Its capabilities count only when it
// is in this process's user namespace (or one mapping every id alike): a
// capability held in a namespace of its own is no right over our files.
std::optional<Credentials> processCredentials(pid_t pid, uid_t uid, std::optional<std::uint64_t> started = {});

// What user uid alone holds: its own files and what is open to everybody;
// no group and no override, whatever its user database entry says.
Credentials userAlone(uid_t uid);

} // namespace plx
