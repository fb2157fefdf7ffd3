#pragma once
// An HTTP request or reply of the center link: built locally around a body
// to be streamed out, or wrapped around a received header block to read it.

#include <optional>
#include <string>
#include <string_view>

#include "common/HeaderText.h"
#include "common/OutgoingMessage.h"
#include "common/TermInfo.h"

namespace plx {

// The proxy's absolute target when plterm.ini names no center URL; never
// an address to connect to.
inline constexpr const char* kDefaultCenterUrl = "http://localhost";

class HttpMessage {
public:
    HttpMessage() = default;
    explicit HttpMessage(std::string receivedText);

    void addHeader(std::string_view name, std::string_view value);
    void setMethod(std::string_view method) { method_ = method; }
    // Stores the target for path ("/putfile", ...) and adds Host, "port" and
    // the connection header as route asks; the head follows it too.
    void setRequestTarget(std::string_view path, const CenterRoute& route);

    // The head with its Content-Length, followed by body, to be streamed out.
    OutgoingMessage request(OutgoingMessage body) const;
    OutgoingMessage response(OutgoingMessage body) const;

    HeaderList parseHeaders() const;
    // Value of the first "Set-Cookie" or "Cookie" header, name included.
    std::optional<std::string> getCookie() const;
    // From the first line of a received request.
    const std::string& receivedTarget() const { return receivedTarget_; }

private:
    std::string requestHead() const;
    std::string responseHead() const;

    std::string received_;
    std::string receivedTarget_;
    HeaderList headers_;
    std::string method_;
    std::string target_;
    bool keepAlive_ = true;
    std::optional<ProxySetting> proxy_; // its credentials go in the head
};

// The session value of a cookie header value: after its first "=", up to
// a ";" that follows it (empty when there is no "=").
std::string cookieSessionValue(std::string_view cookie);

} // namespace plx
