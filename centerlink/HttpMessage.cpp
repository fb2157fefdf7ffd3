#include "centerlink/HttpMessage.h"

#include "centerlink/HttpReceiver.h"
#include "common/Base64.h"
#include "platform/Utf8.h"

namespace plx {

HttpMessage::HttpMessage(std::string receivedText) : received_(std::move(receivedText)) {
    std::size_t sep = 0;
    std::size_t end = findHeaderEnd(received_, sep);
    received_ = end == std::string::npos ? std::string() : received_.substr(0, end);
    // The request line: method, target, version; the target is kept.
    std::string_view first = std::string_view(received_).substr(0, received_.find('\n'));
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    auto sp1 = first.find(' ');
    if (sp1 != std::string_view::npos) {
        auto rest = first.substr(sp1 + 1);
        receivedTarget_ = rest.substr(0, rest.find(' '));
    }
}

void HttpMessage::addHeader(std::string_view name, std::string_view value) {
    headers_.emplace_back(std::string(name), std::string(value));
}

void HttpMessage::setRequestTarget(std::string_view path, const CenterRoute& route) {
    keepAlive_ = route.keepAlive;
    proxy_ = route.proxy;
    addHeader("Host", route.center.host);
    addHeader("port", std::to_string(route.center.port));
    if (!proxy_) {
        target_ = path;
        addHeader("Connection", "keep-alive");
    } else if (route.https()) {
        target_ = path; // travels inside the tunnel
        addHeader("Connection", keepAlive_ ? "keep-alive" : "close");
    } else {
        addHeader("Proxy-Connection", keepAlive_ ? "keep-alive" : "close");
        // The built-in default stands only here, as the proxy's absolute target.
        std::string url = route.centerUrl.empty() ? std::string(kDefaultCenterUrl) : route.centerUrl;
        while (!url.empty() && url.back() == '/') url.pop_back();
        target_ = url + std::string(path);
    }
}

std::string HttpMessage::requestHead() const {
    std::string head = method_ + " " + target_ + (keepAlive_ ? " HTTP/1.1" : " HTTP/1.0") + "\r\n";
    for (const auto& [name, value] : headers_) head += name + ": " + value + "\r\n";
    head += "Pragma: no-cache\r\n";
    if (proxy_) head += "Proxy-Authorization:Basic " + encodeBase64(proxy_->user + ":" + proxy_->password) + "\r\n";
    return head;
}

std::string HttpMessage::responseHead() const {
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (const auto& [name, value] : headers_) head += name + ": " + value + "\r\n";
    head += "Pragma: no-cache\r\n";
    head += "Connection: Keep-Alive\r\n";
    return head;
}

OutgoingMessage HttpMessage::request(OutgoingMessage body) const {
    body.prepend(requestHead() + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    return body;
}

OutgoingMessage HttpMessage::response(OutgoingMessage body) const {
    body.prepend(responseHead() + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    return body;
}

HeaderList HttpMessage::parseHeaders() const { return plx::parseHeaders(received_); }

std::optional<std::string> HttpMessage::getCookie() const {
    for (const auto& [name, value] : parseHeaders())
        if (equalsIgnoreCase(name, "Set-Cookie") || equalsIgnoreCase(name, "Cookie")) return value;
    return std::nullopt;
}

std::string cookieSessionValue(std::string_view cookie) {
    auto eq = cookie.find('=');
    if (eq == std::string_view::npos) return {};
    std::string_view value = cookie.substr(eq + 1);
    // Attributes follow a ";"; one at the very start is part of the value.
    std::size_t semicolon = value.find(';');
    if (semicolon != std::string_view::npos && semicolon > 0) value = value.substr(0, semicolon);
    return std::string(value);
}

} // namespace plx
