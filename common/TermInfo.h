#pragma once
// Readers of plterm.ini section `terminfo` that decide how the center is reached.

#include <string>

namespace plx {

struct ProxySetting {
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
};

std::string getCenterUrl(); // `centerurl` as stored; empty when missing
bool isCenterHttps();
bool isSSLUsed();
// True only with a complete setting: `proxyserver` "host:port", `proxyuser`
// and `proxypassword` all non-empty.
bool getProxy(ProxySetting& out);
bool noProxyConfigured();
bool useKeepAlive();
std::string getCenterHost();
int getCenterPort();

} // namespace plx
