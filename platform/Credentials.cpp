#include "platform/Credentials.h"

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <iomanip>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace {

constexpr int kCapDacOverride = 1;
constexpr int kCapDacReadSearch = 2;

// The numbers after "Name:" in a /proc status text.
std::vector<std::uint64_t> statusNumbers(const std::string& status, const std::string& name, int base = 10) {
    std::vector<std::uint64_t> out;
    std::size_t at = status.find("\n" + name + ":");
    if (at == std::string::npos) return out;
    at += name.size() + 2;
    std::istringstream line(status.substr(at, status.find('\n', at) - at));
    line >> std::setbase(base);
    for (std::uint64_t n; line >> n;) out.push_back(n);
    return out;
}

// A small file of /proc, read whole relative to the process folder dir.
std::optional<std::string> readProcFile(int dir, const char* name) {
    UniqueFd fd(::openat(dir, name, O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    return readAllText(fd.get());
}

// Field 22 of its stat; the name before it, in parentheses, may hold anything.
std::optional<std::uint64_t> startTimeIn(int dir) {
    std::optional<std::string> stat = readProcFile(dir, "stat");
    std::size_t at = stat ? stat->rfind(')') : std::string::npos;
    if (at == std::string::npos) return std::nullopt;
    std::istringstream fields(stat->substr(at + 1));
    std::string skipped;
    for (int field = 3; field < 22; ++field) fields >> skipped;
    std::uint64_t started = 0;
    if (!(fields >> started)) return std::nullopt;
    return started;
}

// The same namespace object where we may look at it. Where we may not (a
// process of another user), the same id maps: only our own namespace, or
// one that maps every id as ours does, shows the maps we see of ourselves,
// and in such a namespace the kernel honours its capabilities over all our
// files alike.
bool sharesUserNamespace(int dir) {
    struct stat theirs {};
    struct stat ours {};
    if (::fstatat(dir, "ns/user", &theirs, 0) == 0)
        return ::stat("/proc/self/ns/user", &ours) == 0 && theirs.st_dev == ours.st_dev && theirs.st_ino == ours.st_ino;
    if (errno != EACCES) return false;
    UniqueFd self(::open("/proc/self", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const char* map : {"uid_map", "gid_map"}) {
        std::optional<std::string> theirMap = readProcFile(dir, map);
        if (!self || !theirMap || theirMap != readProcFile(self.get(), map)) return false;
    }
    return true;
}

UniqueFd openProcess(pid_t pid) {
    if (pid <= 0) return UniqueFd();
    std::string path = "/proc/" + std::to_string(pid);
    return UniqueFd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

} // namespace

bool Credentials::inGroup(gid_t id) const {
    return id == gid || std::find(groups.begin(), groups.end(), id) != groups.end();
}

std::optional<std::uint64_t> processStartTime(pid_t pid) {
    UniqueFd dir = openProcess(pid);
    return dir ? startTimeIn(dir.get()) : std::nullopt;
}

// Everything is read through one folder of /proc: once its process is gone
// nothing more can be read there, so a later process of the same pid never
// answers for it.
std::optional<Credentials> processCredentials(pid_t pid, uid_t uid, std::optional<std::uint64_t> started) {
    UniqueFd dir = openProcess(pid);
    if (!dir) return std::nullopt;
    std::optional<std::string> status = readProcFile(dir.get(), "status");
    if (!status || (started && startTimeIn(dir.get()) != started)) return std::nullopt;
    status->insert(0, "\n");

    // Real, effective, saved and file-system ids: the last decides file access.
    std::vector<std::uint64_t> uids = statusNumbers(*status, "Uid");
    std::vector<std::uint64_t> gids = statusNumbers(*status, "Gid");
    std::vector<std::uint64_t> caps = statusNumbers(*status, "CapEff", 16);
    if (uids.size() != 4 || gids.size() != 4 || caps.size() != 1 || uids[1] != uid) return std::nullopt;
    Credentials who;
    who.uid = static_cast<uid_t>(uids[3]);
    who.gid = static_cast<gid_t>(gids[3]);
    for (std::uint64_t g : statusNumbers(*status, "Groups")) who.groups.push_back(static_cast<gid_t>(g));
    if (sharesUserNamespace(dir.get())) {
        who.overridesAccess = (caps[0] >> kCapDacOverride) & 1;
        who.readsAll = (caps[0] >> kCapDacReadSearch) & 1;
    }
    return who;
}

Credentials userAlone(uid_t uid) {
    Credentials who;
    who.uid = uid;
    return who;
}

} // namespace plx
