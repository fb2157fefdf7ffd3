#include "common/CenterUrl.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "platform/Numbers.h"
#include "platform/Utf8.h"

namespace plx {

namespace {

// A URL cut into its parts, blanks around it dropped.
struct UrlParts {
    std::optional<std::string_view> scheme;
    std::string_view host;
    std::optional<std::string_view> port; // the text after the host's ":"
};

UrlParts splitUrl(std::string_view url) {
    while (!url.empty() && (url.front() == ' ' || url.front() == '\t')) url.remove_prefix(1);
    while (!url.empty() && (url.back() == ' ' || url.back() == '\t')) url.remove_suffix(1);
    UrlParts parts;
    std::string_view rest = url;
    if (auto scheme = url.find("://"); scheme != std::string_view::npos) {
        parts.scheme = url.substr(0, scheme);
        rest = url.substr(scheme + 3);
    }
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    parts.host = authority;
    if (!authority.empty() && authority.front() == '[') { // [IPv6]:port
        auto close = authority.find(']');
        parts.host = authority.substr(0, close == std::string_view::npos ? authority.size() : close + 1);
        if (close != std::string_view::npos && close + 1 < authority.size() && authority[close + 1] == ':')
            parts.port = authority.substr(close + 2);
    } else if (auto colon = authority.find(':'); colon != std::string_view::npos) {
        parts.host = authority.substr(0, colon);
        parts.port = authority.substr(colon + 1);
    }
    return parts;
}

std::optional<int> portNumber(std::string_view text) {
    auto port = parseDigits(text);
    if (port && *port >= 1 && *port <= 65535) return static_cast<int>(*port);
    return std::nullopt;
}

} // namespace

CenterUrl parseCenterUrl(std::string_view url) {
    UrlParts parts = splitUrl(url);
    CenterUrl result;
    result.https = parts.scheme && equalsIgnoreCase(*parts.scheme, "https");
    result.host = toUpperAscii(parts.host);
    auto port = portNumber(parts.port.value_or(""));
    result.port = port ? *port : (result.https ? 443 : defaultHttpPort());
    return result;
}

bool isCenterUrl(std::string_view url) {
    UrlParts parts = splitUrl(url);
    if (parts.scheme && !equalsIgnoreCase(*parts.scheme, "http") && !equalsIgnoreCase(*parts.scheme, "https"))
        return false;
    std::string_view host = parts.host;
    bool bracketed = !host.empty() && host.front() == '[';
    bool hostOk = bracketed ? host.size() > 2 && host.back() == ']' : !host.empty();
    // No name or address holds a blank or a control character.
    hostOk = hostOk && std::none_of(host.begin(), host.end(),
                                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; });
    return hostOk && (!parts.port || portNumber(*parts.port));
}

int defaultHttpPort() {
    if (const char* text = std::getenv("PLX_TEST_HTTP_PORT"); text && *text) {
        auto port = parseDigits(text);
        if (port && *port >= 1 && *port <= 65535) return static_cast<int>(*port);
    }
    return 80;
}

} // namespace plx
