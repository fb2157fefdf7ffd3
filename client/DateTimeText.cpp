#include "client/DateTimeText.h"

#include <cstdint>
#include <cstdio>

namespace plx {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A run of minDigits to maxDigits digits at the front of text, consumed.
std::optional<int> takeNumber(std::string_view& text, std::size_t minDigits, std::size_t maxDigits) {
    std::size_t n = 0;
    int value = 0;
    while (n < text.size() && n < maxDigits && isDigit(text[n])) value = value * 10 + (text[n++] - '0');
    if (n < minDigits) return std::nullopt;
    text.remove_prefix(n);
    return value;
}

bool takeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

bool isCalendarDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

std::int64_t secondsOf(const LocalDateTime& date, const TimeText& time) {
    return daysFromCivil(date.year, date.month, date.day) * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
}

} // namespace

std::optional<LocalDateTime> parseDateText(std::string_view text) {
    auto year = takeNumber(text, 4, 4);
    if (!year || !takeChar(text, '/')) return std::nullopt;
    auto month = takeNumber(text, 1, 2);
    if (!month || !takeChar(text, '/')) return std::nullopt;
    auto day = takeNumber(text, 1, 2);
    if (!day || !text.empty() || !isCalendarDate(*year, *month, *day)) return std::nullopt;
    return LocalDateTime{*year, *month, *day, 0, 0, 0};
}

std::optional<TimeText> parseTimeText(std::string_view text) {
    TimeText time;
    auto hour = takeNumber(text, 1, 2);
    if (!hour || *hour > 23 || !takeChar(text, ':')) return std::nullopt;
    auto minute = takeNumber(text, 2, 2);
    if (!minute || *minute > 59) return std::nullopt;
    time.hour = *hour;
    time.minute = *minute;
    if (takeChar(text, ':')) {
        auto second = takeNumber(text, 2, 2);
        if (!second || *second > 59) return std::nullopt;
        time.second = *second;
        time.withSeconds = true;
    }
    if (!text.empty()) return std::nullopt;
    return time;
}

std::string formatLogTime(std::string_view stamp) {
    if (!isAllDigits(stamp, 14) || stamp.size() != 14) return std::string(stamp);
    auto at = [&](std::size_t pos, std::size_t len) {
        int value = 0;
        for (std::size_t i = pos; i < pos + len; ++i) value = value * 10 + (stamp[i] - '0');
        return value;
    };
    int year = at(0, 4), month = at(4, 2), day = at(6, 2), hour = at(8, 2), minute = at(10, 2), second = at(12, 2);
    if (!isCalendarDate(year, month, day) || hour > 23 || minute > 59 || second > 59) return std::string(stamp);
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %d:%02d", year, month, day, hour, minute);
    return text;
}

std::string normalizeDate(std::string_view text) {
    auto date = parseDateText(text);
    if (!date) return {};
    char out[16];
    std::snprintf(out, sizeof out, "%04d/%02d/%02d", date->year, date->month, date->day);
    return out;
}

bool isTimeText(std::string_view text) { return parseTimeText(text).has_value(); }

bool isRangeInOrder(std::string_view dateFrom, std::string_view timeFrom, std::string_view dateTo,
                    std::string_view timeTo) {
    auto fromDate = parseDateText(dateFrom);
    auto toDate = parseDateText(dateTo);
    auto fromTime = timeFrom.empty() ? std::optional<TimeText>(TimeText{0, 0, 0, true}) : parseTimeText(timeFrom);
    auto toTime = timeTo.empty() ? std::optional<TimeText>(TimeText{23, 59, 59, true}) : parseTimeText(timeTo);
    if (!fromDate || !toDate || !fromTime || !toTime) return false;
    return secondsOf(*fromDate, *fromTime) <= secondsOf(*toDate, *toTime);
}

bool isAllDigits(std::string_view text, std::size_t count) {
    if (count > text.size()) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (!isDigit(text[i])) return false;
    return true;
}

} // namespace plx
