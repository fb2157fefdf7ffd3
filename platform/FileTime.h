#pragma once
// FILETIME values (100 ns units since 1601-01-01 UTC) and local calendar
// time, with every field range-checked.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace plx {

struct FileTime {
    std::uint64_t ticks = 0;

    static constexpr std::uint64_t kTicksPerSecond = 10'000'000ULL;
    static constexpr std::uint64_t kTicksPerDay = 864'000'000'000ULL;
    // Seconds from 1601-01-01 to 1970-01-01.
    static constexpr std::int64_t kUnixEpochSeconds = 11'644'473'600LL;
    // 9999-12-29 00:00:00 UTC: "never expires".
    static constexpr std::uint64_t kNoExpiry = 0x24C8580352830000ULL;

    friend bool operator==(FileTime, FileTime) = default;
    friend auto operator<=>(FileTime, FileTime) = default;

    static FileTime fromUnix(std::time_t seconds, long nanoseconds = 0);
    // Whole seconds since 1970 (floor).
    std::int64_t toUnixSeconds() const;
    static FileTime now();

    // ticks + days whole days, saturating at kNoExpiry instead of overflowing.
    FileTime plusDaysCapped(std::int64_t days) const;
};

struct LocalDateTime {
    int year = 1601, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

int daysInMonth(int year, int month);
// Day number of a proleptic Gregorian date, 0 for 1970-01-01, and back.
std::int64_t daysFromCivil(int year, int month, int day);
void civilFromDays(std::int64_t days, int& year, int& month, int& day);
// Year 1601..30827, month, day of that month, hour 0..23, minute and second 0..59.
bool isValidDateTime(const LocalDateTime& value);

// Local time of a UTC FILETIME; nullopt when the calendar cannot hold it.
std::optional<LocalDateTime> toLocal(FileTime utc);
// UTC FILETIME of a local time; nullopt for an invalid date or one outside
// the FILETIME range.
std::optional<FileTime> fromLocal(const LocalDateTime& local);
std::optional<LocalDateTime> localNow();

// The system's stamp texts: YYYYMMDDhhmmss and YYYYMMDD.
std::string formatStamp(const LocalDateTime& t);
std::string formatDate(const LocalDateTime& t);

} // namespace plx
