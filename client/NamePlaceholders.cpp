#include "client/NamePlaceholders.h"

#include <string_view>

namespace plx {

namespace {

std::string replaceAll(std::string text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

std::string expandPlaceholders(const std::string& text, const LocalDateTime& now) {
    std::string date = std::to_string(now.year * 10000L + now.month * 100L + now.day);
    std::string time = std::to_string(now.hour * 10000L + now.minute * 100L + now.second);
    return replaceAll(replaceAll(text, "%D", date), "%S", time);
}

} // namespace plx
