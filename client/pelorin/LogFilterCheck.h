#pragma once
// The log viewer's check of its four filter boxes before a re-display.

#include <optional>
#include <string>

#include "platform/FileTime.h"

namespace plx::pelorin {

inline constexpr const char* kInputCheckTitle = "Korvane PLX 入力データチェック";

struct FilterBoxes {
    std::string dateFrom;
    std::string timeFrom;
    std::string dateTo;
    std::string timeTo;
};

enum class FilterBox { DateFrom, TimeFrom, DateTo, TimeTo };

struct FilterFault {
    FilterBox box; // where the focus goes
    std::string message;
};

// Checks start date, start time, end date, end time and then their order,
// and reports the first fault. Each date that passes is rewritten
// "yyyy/mm/dd" in boxes as it passes. The messages show now as the form
// to use.
std::optional<FilterFault> checkFilter(FilterBoxes& boxes, const LocalDateTime& now);

} // namespace plx::pelorin
