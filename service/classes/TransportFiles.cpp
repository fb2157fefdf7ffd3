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

} // namespace

bool copyFileStamped(const fs::path& existingPath, const fs::path& newPath, bool failIfExists) {
    // The last name is never followed: a link planted in a folder must not
    // lend the service's reach.
    UniqueFd source(::open(existingPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    fs::path folder = newPath.has_parent_path() ? newPath.parent_path() : fs::path(".");
    UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!source || !dir) return false;
    try {
        // The application's file: mode from its umask, not a private scratch mode.
        PendingFile target(dir.get(), 0666);
        if (!appendStamped(source.get(), target.fd())) return false;
        // link() fails when the name exists: no window in which it could be overwritten.
        if (failIfExists)
            target.linkAs(newPath.filename().string());
        else
            target.replace(newPath.filename().string());
    } catch (const std::system_error& e) {
        errno = e.code().value();
        return false;
    }
    return true;
}

bool appendFileStamped(const fs::path& source, const fs::path& target) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!out || !appendStamped(in.get(), out.get())) return false;
    return ::close(out.release()) == 0;
}

bool appendStamped(int from, int to) {
    if (!copyAll(from, to, kCopyBlock)) return false;
    timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    return ::futimens(to, now) == 0;
}

bool ChangeGetStatus(const std::string& sectionName, std::int32_t status) {
    try {
        return updateCenterStatus(sectionName, status);
    } catch (...) {
        return false;
    }
}

bool isWritableFolder(const fs::path& path, bool pathIsFile) {
    fs::path folder = pathIsFile ? path.parent_path() : path;
    return pathExists(folder, true);
}

} // namespace plx
