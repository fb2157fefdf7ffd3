#include "common/TermInfo.h"

#include "api/TextLimits.h"

#include "common/Paths.h"
#include "common/Settings.h"
#include "platform/IniFile.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"

namespace plx {

namespace {

std::string termValue(const IniDocument& doc, const char* key) {
    return utf8Truncate(doc.get(kTermSection, key, ""), kTextLimit);
}

std::optional<ProxySetting> proxyFrom(const IniDocument& doc) {
    std::string server = termValue(doc, "proxyserver");
    std::string user = termValue(doc, "proxyuser");
    std::string password = termValue(doc, "proxypassword");
    auto colon = server.find(':');
    if (server.empty() || user.empty() || password.empty() || colon == std::string::npos) return std::nullopt;
    ProxySetting proxy;
    proxy.host = server.substr(0, colon);
    proxy.port = clampToInt32(leadingDecimal(std::string_view(server).substr(colon + 1)));
    proxy.user = user;
    proxy.password = password;
    return proxy;
}

} // namespace

std::optional<IniDocument> loadTermIni() {
    auto path = findIniFile(kTermIni);
    if (!path) return std::nullopt;
    return IniDocument::load(*path);
}

CenterRoute centerRouteOf(const IniDocument& term) {
    CenterRoute route;
    route.centerUrl = termValue(term, "centerurl");
    route.center = parseCenterUrl(route.centerUrl);
    route.proxy = proxyFrom(term);
    route.keepAlive = !route.proxy || equalsIgnoreCase(termValue(term, "proxykeepalive"), "yes");
    return route;
}

std::optional<CenterRoute> readCenterRoute() {
    try {
        auto term = loadTermIni();
        if (!term) return std::nullopt;
        return centerRouteOf(*term);
    } catch (...) {
        return std::nullopt;
    }
}

bool isSSLUsed(const std::optional<CenterRoute>& route) { return route && (route->https() || isHttpSSL()); }

} // namespace plx
