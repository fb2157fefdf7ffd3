#include "platform/FileTime.h"

#include <cstdio>
#include <ctime>

namespace plx {

namespace {

constexpr int kMinYear = 1601;
constexpr int kMaxYear = 30827;

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

std::tm brokenDown(const LocalDateTime& local) {
    std::tm tm{};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;
    return tm;
}

// A wall-clock reading as seconds, so that readings compare as numbers.
std::int64_t readingSeconds(const std::tm& tm) {
    std::tm copy = tm;
    return static_cast<std::int64_t>(::timegm(&copy));
}

// The first instant whose local reading is not before reading, near around:
// for a reading that a spring-forward change skipped, the change itself.
std::time_t firstInstantShowing(std::int64_t reading, std::time_t around) {
    constexpr std::time_t kDay = 86400;
    std::time_t low = around - kDay;
    std::time_t high = around + kDay;
    while (low < high) {
        std::time_t middle = low + (high - low) / 2;
        std::tm tm{};
        if (::localtime_r(&middle, &tm) && readingSeconds(tm) >= reading)
            high = middle;
        else
            low = middle + 1;
    }
    return high;
}

} // namespace

FileTime FileTime::fromUnix(std::time_t seconds, long nanoseconds) {
    std::int64_t since1601 = static_cast<std::int64_t>(seconds) + kUnixEpochSeconds;
    if (since1601 < 0) return FileTime{0};
    return FileTime{static_cast<std::uint64_t>(since1601) * kTicksPerSecond +
                    static_cast<std::uint64_t>(nanoseconds / 100)};
}

std::int64_t FileTime::toUnixSeconds() const {
    return static_cast<std::int64_t>(ticks / kTicksPerSecond) - kUnixEpochSeconds;
}

FileTime FileTime::now() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return fromUnix(ts.tv_sec, ts.tv_nsec);
}

FileTime FileTime::plusDaysCapped(std::int64_t days) const {
    if (days >= 0) {
        if (ticks >= kNoExpiry) return *this;
        std::uint64_t room = (kNoExpiry - ticks) / kTicksPerDay;
        if (static_cast<std::uint64_t>(days) > room) return FileTime{kNoExpiry};
        return FileTime{ticks + static_cast<std::uint64_t>(days) * kTicksPerDay};
    }
    std::uint64_t back = static_cast<std::uint64_t>(-(days + 1)) + 1;
    if (back > ticks / kTicksPerDay) return FileTime{0};
    return FileTime{ticks - back * kTicksPerDay};
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// Howard Hinnant's civil calendar algorithms.
std::int64_t daysFromCivil(int year, int month, int day) {
    std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    std::int64_t doe = days - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

bool isValidDateTime(const LocalDateTime& v) {
    return v.year >= kMinYear && v.year <= kMaxYear && v.month >= 1 && v.month <= 12 && v.day >= 1 &&
           v.day <= daysInMonth(v.year, v.month) && v.hour >= 0 && v.hour <= 23 && v.minute >= 0 && v.minute <= 59 &&
           v.second >= 0 && v.second <= 59;
}

std::optional<LocalDateTime> toLocal(FileTime utc) {
    std::time_t seconds = static_cast<std::time_t>(utc.toUnixSeconds());
    std::tm tm{};
    if (!::localtime_r(&seconds, &tm)) return std::nullopt;
    return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::optional<FileTime> fromLocal(const LocalDateTime& local) {
    if (!isValidDateTime(local)) return std::nullopt;
    const std::tm asked = brokenDown(local);
    std::tm tm = asked;
    tm.tm_isdst = -1; // let the zone rules decide, daylight saving included
    tm.tm_wday = -1;
    std::time_t seconds = ::mktime(&tm);
    if (tm.tm_wday < 0) return std::nullopt; // mktime failed
    // A reading the clock skipped comes back moved: it stands for the change,
    // so that a later reading never gives an earlier instant.
    if (readingSeconds(tm) != readingSeconds(asked)) seconds = firstInstantShowing(readingSeconds(asked), seconds);
    if (static_cast<std::int64_t>(seconds) + FileTime::kUnixEpochSeconds < 0) return std::nullopt;
    return FileTime::fromUnix(seconds);
}

std::optional<LocalDateTime> localNow() { return toLocal(FileTime::now()); }

std::string formatStamp(const LocalDateTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}

std::string formatDate(const LocalDateTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", t.year, t.month, t.day);
    return buffer;
}

} // namespace plx
