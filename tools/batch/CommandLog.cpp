#include "tools/batch/CommandLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace {

LocalDateTime systemClock() { return localNow().value_or(LocalDateTime{}); }

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
        std::error_code ec;
        std::filesystem::create_directories(folder, ec); // a failure shows in the open below
        path = folder / commandLogFileName(prefix_, now);
        std::string line = commandLogLine(now, type, pid_, text) + "\n";
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
        if (!fd || !writeAll(fd.get(), line.data(), line.size())) error = errno;
    } catch (...) {
        error = ENOMEM;
    }
    if (error == 0 || warned_) return;
    warned_ = true;
    std::fprintf(stderr, "ログファイルに書き込めません: %s: %s\n", path.c_str(), std::strerror(error));
}

} // namespace plx
