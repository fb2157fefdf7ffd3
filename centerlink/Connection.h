#pragma once
// One TCP connection, plain or TLS, with its socket, TLS state and context
// released in the right order exactly once.

#include <cstddef>
#include <sys/types.h>

#include "centerlink/TlsIo.h"
#include "platform/UniqueFd.h"

namespace plx {

class Connection {
public:
    Connection() = default;
    explicit Connection(UniqueFd fd) : fd_(std::move(fd)) {}
    Connection(Connection&&) = default;
    Connection& operator=(Connection&& other) noexcept;
    ~Connection() { close(); }

    bool isOpen() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    SSL* tls() const { return ssl_.get(); }
    void attachTls(SslCtxPtr ctx, SslPtr ssl);

    // Bytes read (> 0), 0 when the peer closed a plain connection, or the failure (time-out
    // included) with its error.
    SocketResult read(void* buffer, std::size_t size, int seconds);
    // Every byte (count: size) or the first failure; TLS writes wait at most
    // seconds for the library's own reads.
    SocketResult writeAll(const void* data, std::size_t size, int seconds);
    // TLS close_notify when a session is up, then shutdown and close.
    void close();

private:
    UniqueFd fd_;
    SslCtxPtr ctx_;
    SslPtr ssl_;
};

} // namespace plx
