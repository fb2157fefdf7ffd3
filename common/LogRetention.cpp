#include "common/LogRetention.h"

#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "common/FileControl.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "platform/FileTime.h"
#include "platform/Utf8.h"

namespace plx {

namespace {

// The day number of the date in "<prefix>YYYYMMDD.log", or nullopt for any
// other name: a name we cannot date is never deleted.
std::optional<std::int64_t> logFileDay(std::string_view name, std::string_view prefix) {
    constexpr std::string_view kSuffix = ".log";
    if (name.size() != prefix.size() + 8 + kSuffix.size()) return std::nullopt;
    if (!equalsIgnoreCase(name.substr(0, prefix.size()), prefix) ||
        !equalsIgnoreCase(name.substr(name.size() - kSuffix.size()), kSuffix))
        return std::nullopt;
    int day = daysSinceEpoch(name.substr(prefix.size(), 8));
    if (day < 0) return std::nullopt;
    return day;
}

void deleteOldFiles(const std::string& folder, std::string_view prefix, int keepDays, std::int64_t today) {
    if (folder.empty() || keepDays <= 0) return;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return;
    while (dirent* entry = ::readdir(dir.get())) {
        std::string_view name = entry->d_name;
        auto day = logFileDay(name, prefix);
        if (!day || today - keepDays < *day) continue;
        std::string path = joinPath(folder, name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) forceDeleteFile(path);
    }
}

} // namespace

int daysSinceEpoch(std::string_view dateText) {
    if (dateText.size() != 8) return -1;
    int y = 0, m = 0, d = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        char c = dateText[i];
        if (c < '0' || c > '9') return -1;
        int digit = c - '0';
        if (i < 4)
            y = y * 10 + digit;
        else if (i < 6)
            m = m * 10 + digit;
        else
            d = d * 10 + digit;
    }
    if (!isValidDateTime(LocalDateTime{y, m, d, 0, 0, 0})) return -1;
    std::int64_t days = daysFromCivil(y, m, d);
    return days < 0 ? -1 : static_cast<int>(days);
}

void deleteExpiredLogs() {
    if (auto settings = loadSettings()) deleteExpiredLogs(*settings);
}

void deleteExpiredLogs(const Settings& settings) {
    auto now = localNow();
    if (!now) return;
    // Calendar days, so daylight-saving changes never move a file by a day.
    std::int64_t today = daysFromCivil(now->year, now->month, now->day);
    deleteOldFiles(settings.sessionLogFolder, "plsession", settings.sessionLogDays, today);
    deleteOldFiles(settings.apiLogFolder, "plapi", settings.apiLogDays, today);
}

} // namespace plx
