#include "client/pelorin/LogFilterCheck.h"

#include <cstdio>

#include "client/DateTimeText.h"

namespace plx::pelorin {

namespace {

std::string formatMessage(const char* what, const std::string& example) {
    return std::string(what) + "\"" + example + "\"のフォーマットで入力してください";
}

std::optional<FilterFault> checkDate(std::string& date, FilterBox box, const LocalDateTime& now) {
    if (date.empty()) return std::nullopt;
    std::string normal = normalizeDate(date);
    if (normal.empty()) {
        char today[16];
        std::snprintf(today, sizeof today, "%04d/%02d/%02d", now.year, now.month, now.day);
        return FilterFault{box, formatMessage("日付に", today)};
    }
    date = normal;
    return std::nullopt;
}

std::optional<FilterFault> checkTime(const std::string& time, FilterBox box, const LocalDateTime& now) {
    if (time.empty() || isTimeText(time)) return std::nullopt;
    char current[16];
    std::snprintf(current, sizeof current, "%d:%02d", now.hour, now.minute);
    return FilterFault{box, formatMessage("時刻に", current)};
}

} // namespace

std::optional<FilterFault> checkFilter(FilterBoxes& boxes, const LocalDateTime& now) {
    if (auto fault = checkDate(boxes.dateFrom, FilterBox::DateFrom, now)) return fault;
    if (auto fault = checkTime(boxes.timeFrom, FilterBox::TimeFrom, now)) return fault;
    if (auto fault = checkDate(boxes.dateTo, FilterBox::DateTo, now)) return fault;
    if (auto fault = checkTime(boxes.timeTo, FilterBox::TimeTo, now)) return fault;
    if (!boxes.dateFrom.empty() && !boxes.dateTo.empty() &&
        !isRangeInOrder(boxes.dateFrom, boxes.timeFrom, boxes.dateTo, boxes.timeTo))
        return FilterFault{FilterBox::DateFrom, "日付時刻(From)を日付時刻(To)の前に設定してください"};
    return std::nullopt;
}

} // namespace plx::pelorin
