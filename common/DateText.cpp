#include "common/DateText.h"

#include <cstdio>
#include <ctime>

namespace plx {

namespace {

constexpr int kLastFourDigitYear = 9999;

bool allDigits(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int number(std::string_view digits) {
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

} // namespace

std::string formatTimeText(const LocalDateTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %02d:%02d.%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}

std::string getNowStamp() { return formatStamp(localNow().value_or(LocalDateTime{})); }
std::string getNowTimeText() { return formatTimeText(localNow().value_or(LocalDateTime{})); }
FileTime getNowFileTime() { return FileTime::now(); }

void startOfDayPlusDays(FileTime& ft, long long days) {
    auto local = toLocal(ft);
    if (!local) return;
    std::int64_t day = daysFromCivil(local->year, local->month, local->day) + days;
    LocalDateTime midnight{};
    civilFromDays(day, midnight.year, midnight.month, midnight.day);
    if (day > daysFromCivil(30827, 12, 31) || midnight.year > 30827) {
        ft.ticks = FileTime::kNoExpiry;
        return;
    }
    auto result = fromLocal(midnight);
    if (!result) {
        ft.ticks = midnight.year < 1700 ? 0 : FileTime::kNoExpiry;
        return;
    }
    ft.ticks = result->ticks > FileTime::kNoExpiry ? FileTime::kNoExpiry : result->ticks;
}

bool dateTimeTextToFileTime(std::string_view text, FileTime& out) {
    out = FileTime{};
    if (text.size() != 14 || !allDigits(text)) return false;
    LocalDateTime t{number(text.substr(0, 4)), number(text.substr(4, 2)),  number(text.substr(6, 2)),
                    number(text.substr(8, 2)), number(text.substr(10, 2)), number(text.substr(12, 2))};
    auto ft = fromLocal(t);
    if (!ft) return false;
    out = *ft;
    return true;
}

bool dateTextToFileTime(std::string_view text, FileTime& out) {
    out = FileTime{};
    if (text.size() < 8 || !allDigits(text.substr(0, 8))) return false;
    LocalDateTime t{number(text.substr(0, 4)), number(text.substr(4, 2)), number(text.substr(6, 2)), 0, 0, 0};
    auto ft = fromLocal(t);
    if (!ft) return false;
    out = *ft;
    return true;
}

bool fileTimeToDateTimeText(FileTime ft, std::string& out) {
    auto local = toLocal(ft);
    if (!local) return false;
    out = local->year > kLastFourDigitYear ? "99991231235959" : formatStamp(*local);
    return true;
}

bool fileTimeToDateText(FileTime ft, std::string& out) {
    auto local = toLocal(ft);
    if (!local) return false;
    out = local->year > kLastFourDigitYear ? "99991231" : formatDate(*local);
    return true;
}

} // namespace plx
