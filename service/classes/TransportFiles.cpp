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
#include "platform/ReplacementFile.h"
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
    ReplacementFile target;
    try {
        target = ReplacementFile::create(newPath.parent_path());
    } catch (const std::system_error& e) {
        errno = e.code().value();
        return false;
    }
    return copyContent(source.get(), target.fd()) && target.commit(newPath, failIfExists);
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
