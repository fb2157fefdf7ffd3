#include "tools/batch/CommandLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace {

// The log is shared by every user of the tools: the folder lets its group
// add files (but not remove or replace another's) and hands its group down
// to them, and each day's file is writable by that group, whatever the umask
// of the user who made it.
constexpr mode_t kFolderMode = S_ISGID | S_ISVTX | 0775;
constexpr mode_t kFileMode = 0664;

LocalDateTime systemClock() { return localNow().value_or(LocalDateTime{}); }

void makeSharedFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), kFolderMode) == 0) ::chmod(folder.c_str(), kFolderMode);
    // a failure shows in the open that follows
}

// The day's file for appending, never through a link another user of the
// folder put in its place, and never a FIFO or device there that would hold
// the tool for as long as nobody reads it; errno tells a failure.
UniqueFd openShared(const std::filesystem::path& path) {
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    UniqueFd fd(::open(path.c_str(), kFlags | O_CREAT | O_EXCL, kFileMode));
    if (fd) {
        (void)::fchmod(fd.get(), kFileMode); // the umask took group write away
        return fd;
    }
    if (errno != EEXIST) return fd;
    fd = UniqueFd(::open(path.c_str(), kFlags));
    struct stat info {};
    if (fd && (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
        fd.reset();
        errno = EINVAL;
    }
    return fd;
}

// The text for a day's file that could not be written.
std::string whyNotWritten(const std::filesystem::path& path, int error) {
    struct stat info {};
    if (error != ENOENT && ::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return "通常のファイルではありません";
    return std::strerror(error);
}

} // namespace

std::filesystem::path commandLogFolder() {
    if (const char* dir = std::getenv("PLX_LOG_DIR"); dir && *dir) return dir;
    return "/var/log/plx/";
}

std::string commandLogFileName(std::string_view prefix, const LocalDateTime& day) {
    return std::string(prefix) + formatDate(day) + ".log";
}

std::string commandLogLine(const LocalDateTime& at, char type, std::optional<int> pid, std::string_view text) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %d:%02d:%02d <%c-", at.year, at.month, at.day, at.hour,
                  at.minute, at.second, type);
    std::string line = stamp;
    if (pid) line += std::to_string(*pid);
    line += "> ";
    // One record is one line, whatever a path or message holds.
    for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
    return line;
}

CommandLog::CommandLog(std::string filePrefix, bool withPid, Clock clock)
    : prefix_(std::move(filePrefix)), clock_(clock ? std::move(clock) : Clock(systemClock)) {
    if (withPid) pid_ = static_cast<int>(::getpid());
}

void CommandLog::write(char type, std::string_view text) noexcept {
    std::filesystem::path path;
    int error = 0;
    try {
        LocalDateTime now = clock_();
        std::filesystem::path folder = commandLogFolder();
        makeSharedFolder(folder.lexically_normal());
        path = folder / commandLogFileName(prefix_, now);
        std::string line = commandLogLine(now, type, pid_, text) + "\n";
        UniqueFd fd = openShared(path);
        if (!fd || !writeAll(fd.get(), line.data(), line.size())) error = errno;
    } catch (...) {
        error = ENOMEM;
    }
    if (error == 0 || warned_) return;
    warned_ = true;
    std::fprintf(stderr, "ログファイルに書き込めません: %s: %s\n", path.c_str(), whyNotWritten(path, error).c_str());
}

} // namespace plx
