#pragma once
// The one reading of a center URL: scheme, host and port.

#include <string>
#include <string_view>

namespace plx {

struct CenterUrl {
    bool https = false; // scheme "https", in any case
    std::string host;   // upper case, no port
    int port = 80;      // the URL's port, else 443 for https and 80 otherwise
};

// "scheme://host[:port][/path]" or a bare "host[:port]". A port that is not
// a number in 1..65535 gives the scheme's default. An empty URL gives an
// empty host: there is no center to reach.
CenterUrl parseCenterUrl(std::string_view url);

// Whether url has a form parseCenterUrl reads without guessing: a scheme,
// when given, of "http" or "https" (any case), a host without blanks or
// control characters, and after a ":" a port in 1..65535.
bool isCenterUrl(std::string_view url);

// The default port of plain HTTP: 80. Only tests set PLX_TEST_HTTP_PORT,
// so that a listener of theirs stands where an address without a port
// would lead.
int defaultHttpPort();

} // namespace plx
