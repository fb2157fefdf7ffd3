#include "common/CenterUrl.h"

#include <cstdlib>

#include "platform/Numbers.h"
#include "platform/Utf8.h"

namespace plx {

CenterUrl parseCenterUrl(std::string_view url) {
    while (!url.empty() && (url.front() == ' ' || url.front() == '\t')) url.remove_prefix(1);
    while (!url.empty() && (url.back() == ' ' || url.back() == '\t')) url.remove_suffix(1);

    CenterUrl result;
    std::string_view rest = url;
    if (auto scheme = url.find("://"); scheme != std::string_view::npos) {
        result.https = equalsIgnoreCase(url.substr(0, scheme), "https");
        rest = url.substr(scheme + 3);
    }
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    std::string_view host = authority;
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') { // [IPv6]:port
        auto close = authority.find(']');
        host = authority.substr(0, close == std::string_view::npos ? authority.size() : close + 1);
        if (close != std::string_view::npos && close + 1 < authority.size() && authority[close + 1] == ':')
            portText = authority.substr(close + 2);
    } else if (auto colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
    }
    result.host = toUpperAscii(host);
    auto port = parseDigits(portText);
    result.port =
        port && *port >= 1 && *port <= 65535 ? static_cast<int>(*port) : (result.https ? 443 : defaultHttpPort());
    return result;
}

int defaultHttpPort() {
    if (const char* text = std::getenv("PLX_TEST_HTTP_PORT"); text && *text) {
        auto port = parseDigits(text);
        if (port && *port >= 1 && *port <= 65535) return static_cast<int>(*port);
    }
    return 80;
}

} // namespace plx
