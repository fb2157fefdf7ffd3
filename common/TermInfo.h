#pragma once
// How the center is reached, read from plterm.ini section `terminfo` once
// for a conversation: the center URL, the proxy and its keep-alive. The
// HTTP layer builds its connections and request heads from this record
// alone.

#include <optional>
#include <string>

#include "common/CenterUrl.h"
#include "platform/IniFile.h"

namespace plx {

struct ProxySetting {
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
};

struct CenterRoute {
    std::string centerUrl;                 // `centerurl` as stored; empty when missing
    CenterUrl center = parseCenterUrl(""); // its scheme, host and port
    // Only a complete setting: `proxyserver` "host:port", `proxyuser` and
    // `proxypassword` all non-empty.
    std::optional<ProxySetting> proxy;
    // Always without a proxy; with one only when `proxykeepalive` is "yes".
    bool keepAlive = true;

    bool https() const { return center.https; }
    // Where to connect: the proxy when there is one, else the center (an
    // empty host for an empty URL: there is nothing to connect to).
    const std::string& connectHost() const { return proxy ? proxy->host : center.host; }
    int connectPort() const { return proxy ? proxy->port : center.port; }
};

inline constexpr const char* kTermSection = "terminfo";

// plterm.ini in the program folder, the one reader of the file for the
// terminal record and the route; nullopt when it is not there, throws
// when it cannot be read.
std::optional<IniDocument> loadTermIni();

// The route a read plterm.ini gives.
CenterRoute centerRouteOf(const IniDocument& term);

// plterm.ini read once; nullopt without the file or when it cannot be
// read. A default CenterRoute is the route of an empty URL and no proxy.
std::optional<CenterRoute> readCenterRoute();

// TLS anywhere: towards the center (its URL is https) or at the gateway
// (plconfig.ini `http` / `ssl`); false without plterm.ini.
bool isSSLUsed(const std::optional<CenterRoute>& route);

} // namespace plx
