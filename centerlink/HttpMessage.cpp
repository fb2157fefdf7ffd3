#include "centerlink/HttpMessage.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "centerlink/HttpReceiver.h"
#include "common/Base64.h"
#include "common/CenterUrl.h"
#include "common/TermInfo.h"
#include "platform/FdIo.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

namespace plx {

HttpMessage::HttpMessage(std::string receivedText) : received_(std::move(receivedText)) {
    std::size_t sep = 0;
    std::size_t end = findHeaderEnd(received_, sep);
    received_ = end == std::string::npos ? std::string() : received_.substr(0, end);
    // The request line: method, target, version.
    std::string_view first = std::string_view(received_).substr(0, received_.find('\n'));
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    auto sp1 = first.find(' ');
    if (sp1 != std::string_view::npos) {
        receivedMethod_ = first.substr(0, sp1);
        auto rest = first.substr(sp1 + 1);
        receivedTarget_ = rest.substr(0, rest.find(' '));
    }
}

void HttpMessage::addHeader(std::string_view name, std::string_view value) {
    headers_.emplace_back(std::string(name), std::string(value));
}

void HttpMessage::setRequestTarget(std::string_view path) {
    std::string url = getCenterUrl();
    CenterUrl center = parseCenterUrl(url);
    addHeader("Host", center.host);
    addHeader("port", std::to_string(center.port));
    ProxySetting proxy;
    bool keepAlive = useKeepAlive();
    if (!getProxy(proxy)) {
        target_ = path;
        addHeader("Connection", "keep-alive");
    } else if (center.https) {
        target_ = path; // travels inside the tunnel
        addHeader("Connection", keepAlive ? "keep-alive" : "close");
    } else {
        addHeader("Proxy-Connection", keepAlive ? "keep-alive" : "close");
        // The built-in default stands only here, as the proxy's absolute target.
        if (url.empty()) url = kDefaultCenterUrl;
        while (!url.empty() && url.back() == '/') url.pop_back();
        target_ = url + std::string(path);
    }
}

std::string HttpMessage::requestHead() const {
    bool keepAlive = useKeepAlive();
    std::string head = method_ + " " + target_ + (keepAlive ? " HTTP/1.1" : " HTTP/1.0") + "\r\n";
    for (const auto& [name, value] : headers_) head += name + ": " + value + "\r\n";
    head += "Pragma: no-cache\r\n";
    ProxySetting proxy;
    if (getProxy(proxy))
        head += "Proxy-Authorization:Basic " + encodeBase64(proxy.user + ":" + proxy.password) + "\r\n";
    return head;
}

std::string HttpMessage::responseHead() const {
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (const auto& [name, value] : headers_) head += name + ": " + value + "\r\n";
    head += "Pragma: no-cache\r\n";
    head += "Connection: Keep-Alive\r\n";
    return head;
}

bool HttpMessage::writeRequest(const std::filesystem::path& file) const { return write(file, requestHead()); }

bool HttpMessage::writeResponse(const std::filesystem::path& file) const { return write(file, responseHead()); }

OutgoingMessage HttpMessage::request(OutgoingMessage body) const {
    body.prepend(requestHead() + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    return body;
}

OutgoingMessage HttpMessage::response(OutgoingMessage body) const {
    body.prepend(responseHead() + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    return body;
}

bool HttpMessage::write(const std::filesystem::path& file, const std::string& head) const {
    UniqueFd out(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!out) return false;
    bool ok = true;
    UniqueFd body;
    if (!bodyFile_.empty()) body.reset(::open(bodyFile_.c_str(), O_RDONLY | O_CLOEXEC));
    if (body) {
        off_t length = ::lseek(body.get(), 0, SEEK_END);
        ::lseek(body.get(), 0, SEEK_SET);
        std::string text = head + "Content-Length: " + std::to_string(length < 0 ? 0 : length) + "\r\n\r\n";
        ok = length >= 0 && writeAll(out.get(), text.data(), text.size());
        std::vector<char> block(64 * 1024);
        off_t copied = 0;
        while (ok && copied < length) {
            ssize_t n = readSome(body.get(), block.data(), block.size());
            if (n <= 0) {
                ok = false; // shorter than it was a moment ago
                break;
            }
            ok = writeAll(out.get(), block.data(), static_cast<std::size_t>(n));
            copied += n;
        }
    } else {
        std::string text = head + "\r\n";
        ok = writeAll(out.get(), text.data(), text.size());
    }
    if (::close(out.release()) != 0) ok = false;
    if (!ok) ::unlink(file.c_str());
    return ok;
}

HeaderList HttpMessage::parseHeaders() const { return plx::parseHeaders(received_); }

std::optional<std::string> HttpMessage::getCookie() const {
    for (const auto& [name, value] : parseHeaders())
        if (equalsIgnoreCase(name, "Set-Cookie") || equalsIgnoreCase(name, "Cookie")) return value;
    return std::nullopt;
}

std::string connectHost(std::string_view centerUrl) {
    ProxySetting proxy;
    if (getProxy(proxy)) return proxy.host;
    return parseCenterUrl(centerUrl).host;
}

int connectPort(std::string_view centerUrl) {
    ProxySetting proxy;
    if (getProxy(proxy)) return proxy.port;
    return parseCenterUrl(centerUrl).port;
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
