#include "tests/centerlink/LoopbackPeer.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "centerlink/HttpReceiver.h"
#include "platform/FdIo.h"

namespace plx::test {

namespace {

UniqueFd listenOnLoopback(int& port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd.get(), 16) != 0)
        throw std::runtime_error("bind/listen");
    socklen_t len = sizeof addr;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

int tcpOption(int fd, int option) {
    int value = 0;
    socklen_t size = sizeof value;
    return ::getsockopt(fd, IPPROTO_TCP, option, &value, &size) == 0 ? value : -1;
}

int socketConnectedTo(int port) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0 && peer.sin_family == AF_INET &&
            ntohs(peer.sin_port) == port)
            return fd;
    }
    return -1;
}

LoopbackPeer::LoopbackPeer(Script script, int maxConnections) : listener_(listenOnLoopback(port_)) {
    thread_ = std::thread([this, script = std::move(script), maxConnections] {
        for (int i = 0; i < maxConnections && !stopping_; ++i) {
            pollfd p{listener_.get(), POLLIN, 0};
            while (!stopping_ && ::poll(&p, 1, 100) <= 0) {
            }
            if (stopping_) return;
            UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!client) continue;
            ++accepted_;
            script(client.get());
        }
    });
}

LoopbackPeer::~LoopbackPeer() {
    stopping_ = true;
    thread_.join();
}

std::string readHttpMessage(int fd) {
    std::string data;
    char buffer[65536];
    for (;;) {
        std::size_t sep = 0;
        std::size_t end = findHeaderEnd(data, sep);
        if (end != std::string::npos) {
            std::string header = data.substr(0, end);
            std::size_t length = 0;
            for (const char* name : {"Content-Length: ", "content-length: "}) {
                auto at = header.find(name);
                if (at != std::string::npos) length = std::stoul(header.substr(at + 16));
            }
            if (data.size() >= end + sep + length) return data;
        }
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return data;
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

void sendText(int fd, const std::string& text) {
    // The other side may close first: that must not raise SIGPIPE in the test.
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::send(fd, p, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

SilentListener::SilentListener() : listener_(listenOnLoopback(port_)) {}

} // namespace plx::test
