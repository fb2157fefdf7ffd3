#include "platform/Credentials.h"

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <grp.h>
#include <iomanip>
#include <pwd.h>
#include <sstream>
#include <string>
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

} // namespace

bool Credentials::inGroup(gid_t id) const { return id == gid || std::find(groups.begin(), groups.end(), id) != groups.end(); }

std::optional<Credentials> processCredentials(pid_t pid, uid_t uid) {
    if (pid <= 0) return std::nullopt;
    std::string path = "/proc/" + std::to_string(pid) + "/status";
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    std::string status = "\n";
    char block[4096];
    for (ssize_t n; (n = readSome(fd.get(), block, sizeof block)) > 0;) status.append(block, static_cast<std::size_t>(n));

    // Real, effective, saved and file-system ids: the last decides file access.
    std::vector<std::uint64_t> uids = statusNumbers(status, "Uid");
    std::vector<std::uint64_t> gids = statusNumbers(status, "Gid");
    std::vector<std::uint64_t> caps = statusNumbers(status, "CapEff", 16);
    if (uids.size() != 4 || gids.size() != 4 || caps.size() != 1 || uids[1] != uid) return std::nullopt;
    Credentials who;
    who.uid = static_cast<uid_t>(uids[3]);
    who.gid = static_cast<gid_t>(gids[3]);
    for (std::uint64_t g : statusNumbers(status, "Groups")) who.groups.push_back(static_cast<gid_t>(g));
    who.overridesAccess = (caps[0] >> kCapDacOverride) & 1;
    who.readsAll = (caps[0] >> kCapDacReadSearch) & 1;
    return who;
}

std::optional<Credentials> userCredentials(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
    Credentials who;
    who.uid = uid;
    who.gid = entry.pw_gid;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0)
        groups.resize(static_cast<std::size_t>(count));
    groups.resize(static_cast<std::size_t>(count));
    who.groups = std::move(groups);
    who.overridesAccess = who.readsAll = uid == 0;
    return who;
}

} // namespace plx
