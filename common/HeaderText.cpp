#include "common/HeaderText.h"

#include "platform/Numbers.h"
#include "platform/Utf8.h"

namespace plx {

namespace {

bool isEdgeChar(char c) { return c == '\r' || c == '\n' || c == ' '; }

std::string_view dropOneEach(std::string_view s) {
    if (!s.empty() && isEdgeChar(s.front())) s.remove_prefix(1);
    if (!s.empty() && isEdgeChar(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (isEdgeChar(s.front()) || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (isEdgeChar(s.back()) || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

} // namespace

HeaderList parseHeaders(std::string_view block) {
    HeaderList pairs;
    // Lines end in LF; text with no LF at all is cut at CR.
    char separator = block.find('\n') != std::string_view::npos ? '\n' : '\r';
    while (!block.empty()) {
        std::size_t end = block.find(separator);
        std::string_view line = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view{} : block.substr(end + 1);
        auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        pairs.emplace_back(std::string(dropOneEach(line.substr(0, colon))),
                           std::string(dropOneEach(line.substr(colon + 1))));
    }
    return pairs;
}

bool isKeepAlive(std::string_view headerText) {
    for (const auto& [name, value] : parseHeaders(headerText)) {
        if ((equalsIgnoreCase(trimBlanks(name), "connection") ||
             equalsIgnoreCase(trimBlanks(name), "proxy-connection")) &&
            equalsIgnoreCase(trimBlanks(value), "keep-alive"))
            return true;
    }
    return false;
}

bool parseStatusLine(StatusLine& out, std::string_view text) {
    std::string_view line = text.substr(0, text.find('\n'));
    auto http = line.find("HTTP/");
    if (http == std::string_view::npos) return false;
    line.remove_prefix(http + 5);
    auto blank = line.find(' ');
    if (blank == std::string_view::npos) return false;
    line.remove_prefix(blank + 1);
    std::size_t digits = 0;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
    auto code = parseDigits(line.substr(0, digits));
    if (!code || (digits < line.size() && line[digits] != ' ' && line[digits] != '\r')) return false;
    std::string_view reason = line.substr(digits);
    while (!reason.empty() && reason.front() == ' ') reason.remove_prefix(1);
    if (!reason.empty() && reason.back() == '\r') reason.remove_suffix(1);
    out.statusCode = clampToInt32(*code);
    out.reason = std::string(reason);
    return true;
}

} // namespace plx
