#include "platform/SingleInstance.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>

#include "platform/NamedMutex.h"

namespace plx {

std::string singleInstanceLockPath(const std::string& name) {
    std::string file;
    for (char c : name) file += (c == '/' || c == '\\') ? '_' : c;
    return runtimeFolder() + "/" + file + ".instance";
}

std::optional<UniqueFd> takeSingleInstanceLock(const std::string& name) {
    std::string folder = runtimeFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::system_error(errno, std::generic_category(), "mkdir " + folder);
    std::string path = singleInstanceLockPath(name);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) throw std::system_error(errno, std::generic_category(), "open " + path);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return std::nullopt;
        throw std::system_error(errno, std::generic_category(), "flock " + path);
    }
    return fd;
}

} // namespace plx
