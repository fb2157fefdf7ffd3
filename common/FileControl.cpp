#include "common/FileControl.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "common/CenterRegister.h"
#include "common/Md5.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

bool hasTempPrefix(std::string_view name) {
    return name.size() >= 3 && equalsIgnoreCase(name.substr(0, 3), kTempPrefix);
}

std::string canonicalText(const fs::path& path) {
    std::error_code ec;
    fs::path c = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal().string() : c.string();
}

} // namespace

OpenTempFile makeOpenTempFile(const fs::path& folder) {
    return OpenTempFile::create(folder.empty() ? systemTempFolder() : folder, kTempPrefix);
}

int purgeTempFiles(const fs::path& given) {
    fs::path folder = given.empty() ? systemTempFolder() : given;
    // A file the register still names is a staged or delivered file that
    // an application has yet to see; it must survive a restart.
    std::set<std::string> registered;
    try {
        for (const CenterRecord& record : loadCenterRecords())
            if (!record.tempFilePath.empty()) registered.insert(canonicalText(record.tempFilePath));
    } catch (...) {
        return 0; // an unreadable register: deleting blind could lose data
    }

    int deleted = 0;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return 0;
    while (dirent* entry = ::readdir(dir.get())) {
        if (!hasTempPrefix(entry->d_name)) continue;
        fs::path path = folder / entry->d_name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (registered.count(canonicalText(path))) continue;
        if (::unlink(path.c_str()) == 0) ++deleted;
    }
    return deleted;
}

bool isOwnTempFile(const fs::path& path, const fs::path& tempFolder) {
    if (path.empty() || tempFolder.empty() || !hasTempPrefix(path.filename().string())) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::error_code ec1, ec2;
    fs::path parent = fs::canonical(path.parent_path().empty() ? fs::path(".") : path.parent_path(), ec1);
    fs::path folder = fs::canonical(tempFolder, ec2);
    return !ec1 && !ec2 && parent == folder;
}

bool deleteStoredFile(const fs::path& path) {
    auto settings = loadSettings();
    if (!settings || !isOwnTempFile(path, settings->tempFolder)) return false;
    return ::unlink(path.c_str()) == 0;
}

bool truncateStoredFile(const fs::path& path, std::int64_t size) {
    auto settings = loadSettings();
    if (!settings || !isOwnTempFile(path, settings->tempFolder)) return false;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return false;
    if (st.st_size <= size) return true;
    return ::ftruncate(fd.get(), size) == 0 && ::fsync(fd.get()) == 0;
}

bool forceDeleteFile(const fs::path& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(path.c_str()) == 0;
}

bool queryFileSize(const fs::path& path, std::int64_t& size) {
    size = 0;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    size = static_cast<std::int64_t>(st.st_size);
    return true;
}

bool getFileWriteTime(const fs::path& path, FileTime& out) {
    out = FileTime{};
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    out = FileTime::fromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return true;
}

std::string getFileMD5(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return {};
    Md5 md5;
    std::vector<unsigned char> block(1 << 16);
    for (;;) {
        ssize_t n = readSome(fd.get(), block.data(), block.size());
        if (n < 0) return {};
        if (n == 0) break;
        md5.update(block.data(), static_cast<std::size_t>(n));
    }
    return md5.finishHex();
}

std::string chooseTargetName(std::string_view requested, std::string_view centerName) {
    if (!requested.empty()) return std::string(requested);
    return isPlainFileName(centerName) ? std::string(centerName) : std::string();
}

} // namespace plx
