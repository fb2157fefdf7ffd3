#pragma once
// The system's date and time texts and their FILETIME conversions.

#include <string>
#include <string_view>

#include "platform/FileTime.h"

namespace plx {

std::string getNowStamp();    // YYYYMMDDhhmmss, local
std::string getNowTimeText(); // YYYY/MM/DD hh:mm.ss, local
FileTime getNowFileTime();    // UTC

// The local midnight that begins ft's local day, plus days whole days (UTC
// in and out). Saturates at FileTime::kNoExpiry.
void startOfDayPlusDays(FileTime& ft, long long days);

// Exactly fourteen digits of a valid local date and time.
bool dateTimeTextToFileTime(std::string_view text, FileTime& out);
// Eight digits of a valid local date; further characters are ignored.
bool dateTextToFileTime(std::string_view text, FileTime& out);
// Local texts of a UTC time; a year past 9999 gives "99991231235959" and
// "99991231".
bool fileTimeToDateTimeText(FileTime ft, std::string& out);
bool fileTimeToDateText(FileTime ft, std::string& out);

std::string formatTimeText(const LocalDateTime& t);

} // namespace plx
