#pragma once
// The date and time texts of the log viewer's filter and display.
//
// Grammar: a date is "yyyy/m/d" (four-digit year 0001-9999, month and day of
// one or two digits, a real calendar date); a time is "H:mm" or "H:mm:ss"
// (hour of one or two digits 0-23, minutes and seconds of two digits 0-59).
// Nothing else is accepted: no blanks, no other separators. None of these
// functions throws.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileTime.h"

namespace plx {

// The date of a date text, with the time fields 0.
std::optional<LocalDateTime> parseDateText(std::string_view text);

struct TimeText {
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool withSeconds = false; // "H:mm:ss" rather than "H:mm"
};
std::optional<TimeText> parseTimeText(std::string_view text);

// A fourteen-digit local stamp YYYYMMDDhhmmss as "yyyy/mm/dd h:nn" (hour
// without a leading zero, no seconds). "" for "". Any text that is not a
// valid stamp comes back unchanged.
std::string formatLogTime(std::string_view stamp);

// A valid date text written "yyyy/mm/dd"; "" for anything else (a date with
// a time of day included).
std::string normalizeDate(std::string_view text);

// True for a valid time text.
bool isTimeText(std::string_view text);

// True when date From plus time From is not later than date To plus time To.
// An empty time From counts as 0:00:00, an empty time To as 23:59:59. False
// when a date is not a valid date text or a non-empty time not a valid time.
bool isRangeInOrder(std::string_view dateFrom, std::string_view timeFrom, std::string_view dateTo,
                    std::string_view timeTo);

// True when text has at least count bytes and the first count are "0"-"9";
// true for count 0. Never reads past the text.
bool isAllDigits(std::string_view text, std::size_t count);

} // namespace plx
