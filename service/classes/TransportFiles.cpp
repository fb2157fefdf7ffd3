// File routines shared by the Transport operations.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/CenterRegister.h"
#include "common/IniLocks.h"
#include "common/Paths.h"
#include "platform/FdIo.h"
#include "platform/IniFile.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "service/classes/Transport.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyBlock = 102400;

bool copyContent(int from, int to) { return copyAll(from, to, kCopyBlock); }

bool stampNow(int fd) {
    timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    return ::futimens(fd, now) == 0;
}

} // namespace

bool copyFileStamped(const fs::path& existingPath, const fs::path& newPath, bool failIfExists) {
    UniqueFd source(::open(existingPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source) return false;
    fs::path folder = newPath.has_parent_path() ? newPath.parent_path() : fs::path(".");
    fs::path temp;
    try {
        // The application's file: mode from its umask, not a private scratch mode.
        temp = createUniqueFile(folder, ".plx", 0666);
    } catch (...) {
        return false;
    }
    ScopedFileRemoval removeTemp(temp);
    UniqueFd target(::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!target || !copyContent(source.get(), target.get()) || !stampNow(target.get()) || ::fsync(target.get()) != 0)
        return false;
    if (::close(target.release()) != 0) return false;
    if (failIfExists) {
        // link() fails when the name exists: no window in which it could be overwritten.
        if (::link(temp.c_str(), newPath.c_str()) != 0) return false;
    } else if (::rename(temp.c_str(), newPath.c_str()) != 0) {
        return false;
    } else {
        removeTemp.release();
    }
    return true;
}

bool appendFileStamped(const fs::path& source, const fs::path& target) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (!out) return false;
    if (!copyContent(in.get(), out.get())) return false;
    stampNow(out.get());
    return ::close(out.release()) == 0;
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
