// File routines shared by the Transport operations.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "common/CenterRegister.h"
#include "common/IniLocks.h"
#include "common/Paths.h"
#include "platform/FdIo.h"
#include "platform/IniFile.h"
#include "platform/PendingFile.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "service/classes/Transport.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyBlock = 102400;

UniqueFd openOrThrow(const fs::path& path, int flags, mode_t mode = 0) {
    UniqueFd fd(::open(path.c_str(), flags, mode));
    if (!fd) throw std::system_error(errno, std::generic_category(), "open " + path.string());
    return fd;
}

} // namespace

void copyFileStamped(const fs::path& existingPath, const fs::path& newPath, bool failIfExists) {
    // The last name is never followed: a link planted in a folder must not
    // lend the service's reach.
    UniqueFd source = openOrThrow(existingPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    UniqueFd dir = openOrThrow(newPath.has_parent_path() ? newPath.parent_path() : fs::path("."),
                               O_PATH | O_DIRECTORY | O_CLOEXEC);
    // The application's file: mode from its umask, not a private scratch mode.
    PendingFile target(dir.get(), 0666);
    appendStamped(source.get(), target.fd());
    // link() fails when the name exists: no window in which it could be overwritten.
    if (failIfExists)
        target.linkAs(newPath.filename().string());
    else
        target.replace(newPath.filename().string());
}

void appendStamped(int from, int to) {
    copyAll(from, to, kCopyBlock);
    timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    if (::futimens(to, now) != 0) throw std::system_error(errno, std::generic_category(), "futimens");
}

bool ChangeGetStatus(const std::string& sectionName, std::int32_t status) {
    try {
        return updateCenterStatus(sectionName, status);
    } catch (...) {
        return false;
    }
}

} // namespace plx
