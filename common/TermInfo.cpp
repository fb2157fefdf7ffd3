#include "common/TermInfo.h"

#include "api/TextLimits.h"
#include <optional>

#include "common/CenterUrl.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "platform/IniFile.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"

namespace plx {

namespace {

std::optional<IniDocument> loadTerm() {
    try {
        auto path = findIniFile(kTermIni);
        if (!path) return std::nullopt;
        return IniDocument::load(*path);
    } catch (...) {
        return std::nullopt;
    }
}

std::string termValue(const IniDocument& doc, const char* key) {
    return utf8Truncate(doc.get("terminfo", key, ""), kTextLimit);
}

bool proxyFrom(const IniDocument& doc, ProxySetting& out) {
    std::string server = termValue(doc, "proxyserver");
    std::string user = termValue(doc, "proxyuser");
    std::string password = termValue(doc, "proxypassword");
    auto colon = server.find(':');
    if (server.empty() || user.empty() || password.empty() || colon == std::string::npos) return false;
    out.host = server.substr(0, colon);
    out.port = clampToInt32(leadingDecimal(std::string_view(server).substr(colon + 1)));
    out.user = user;
    out.password = password;
    return true;
}

} // namespace

std::string getCenterUrl() {
    auto term = loadTerm();
    return term ? termValue(*term, "centerurl") : std::string();
}

bool isCenterHttps() {
    auto term = loadTerm();
    return term && parseCenterUrl(termValue(*term, "centerurl")).https;
}

bool isSSLUsed() {
    auto term = loadTerm();
    if (!term) return false;
    if (parseCenterUrl(termValue(*term, "centerurl")).https) return true;
    return isHttpSSL();
}

bool getProxy(ProxySetting& out) {
    auto term = loadTerm();
    return term && proxyFrom(*term, out);
}

bool noProxyConfigured() {
    ProxySetting unused;
    return !getProxy(unused);
}

bool useKeepAlive() {
    auto term = loadTerm();
    ProxySetting proxy;
    if (!term || !proxyFrom(*term, proxy)) return true;
    return equalsIgnoreCase(termValue(*term, "proxykeepalive"), "yes");
}

std::string getCenterHost() {
    auto term = loadTerm();
    return term ? parseCenterUrl(termValue(*term, "centerurl")).host : std::string();
}

int getCenterPort() {
    auto term = loadTerm();
    return term ? parseCenterUrl(termValue(*term, "centerurl")).port : defaultHttpPort();
}

} // namespace plx
