#pragma once
// Removal of daily log files older than the configured retention.

#include <string_view>

namespace plx {

struct Settings;

// Deletes plsessionYYYYMMDD.log and plapiYYYYMMDD.log files whose date lies
// at least the configured number of days before today.
void deleteExpiredLogs();
void deleteExpiredLogs(const Settings& settings);

// Days since 1970 of the local date YYYYMMDD at the current time of day;
// -1 when the text is not a valid date.
int daysSinceEpoch(std::string_view dateText);

} // namespace plx
