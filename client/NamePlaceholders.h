#pragma once
// "%D" and "%S" in a transfer's folder and file name: the date as
// yyyymmdd and the time as h*10000 + m*100 + s without leading zeros
// (90503 at 09:05:03, 0 at midnight). Case counts: "%d" stays.

#include <string>

#include "platform/FileTime.h"

namespace plx {

std::string expandPlaceholders(const std::string& text, const LocalDateTime& now);

} // namespace plx
