#include "platform/ReplacementFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plx {

namespace fs = std::filesystem;

ReplacementFile ReplacementFile::create(const fs::path& folder) {
    ReplacementFile file;
    file.file_ = OpenTempFile::create(folder.empty() ? fs::path(".") : folder, ".plx", 0666);
    return file;
}

bool ReplacementFile::commit(const fs::path& target, bool failIfExists) {
    if (!file_) {
        errno = EBADF;
        return false;
    }
    const timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    // A write the file system could not place shows at the flush or the close.
    if (::futimens(file_.fd(), now) != 0 || ::fsync(file_.fd()) != 0 || !file_.close()) return false;
    if (failIfExists) {
        // link() fails when the name exists: no window in which it could be overwritten.
        return ::link(file_.path().c_str(), target.c_str()) == 0;
    }
    if (::rename(file_.path().c_str(), target.c_str()) != 0) return false;
    file_.keep();
    return true;
}

} // namespace plx
