#pragma once
// Who a process is to the kernel's file permission checks: its file-system
// user and group, its supplementary groups, and the two capabilities that
// override those checks.

#include <optional>
#include <sys/types.h>
#include <vector>

namespace plx {

struct Credentials {
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    std::vector<gid_t> groups; // supplementary
    bool overridesAccess = false; // CAP_DAC_OVERRIDE
    bool readsAll = false;        // CAP_DAC_READ_SEARCH

    // gid is the primary or a supplementary group.
    bool inGroup(gid_t id) const;
};

// The credentials process pid holds now, provided it still runs as uid (its
// effective user); nullopt when it is gone, runs as someone else, or its
// status cannot be read (a /proc mounted with hidepid).
std::optional<Credentials> processCredentials(pid_t pid, uid_t uid);

// What user uid holds at a fresh login: its primary group and the groups
// the group database lists it in, with root's capabilities for uid 0;
// nullopt for a uid the user database does not know.
std::optional<Credentials> userCredentials(uid_t uid);

} // namespace plx
