#pragma once
// Reading received HTTP header text.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plx {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The (name, value) pairs of a header block: every line holding ":" gives
// the text before its first ":" and the text after it, each losing one
// leading and one trailing CR, LF or blank.
HeaderList parseHeaders(std::string_view headerBlock);

// A "Connection" or "Proxy-Connection" header says "keep-alive".
bool isKeepAlive(std::string_view headerText);

struct StatusLine {
    int statusCode = 0;
    std::string reason;
};
// The first line must read "HTTP/<version> <code>[ <reason>]".
bool parseStatusLine(StatusLine& out, std::string_view text);

} // namespace plx
