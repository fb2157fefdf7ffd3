#pragma once
// The daily log files and how one line is added to them.

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/FileTime.h"

namespace plx {

// folder/<prefix>YYYYMMDD.log for the local date of day; nothing when the
// folder is not configured (never the working folder or "/").
std::optional<std::filesystem::path> dailyLogPath(std::string_view folder, std::string_view prefix,
                                                  const LocalDateTime& day);

// Appends line and "\n" with a single write() on an O_APPEND descriptor, so
// lines from other threads and processes never interleave with it. Throws
// std::system_error when the file cannot be opened or written.
void appendLine(const std::filesystem::path& file, std::string_view line);

} // namespace plx
