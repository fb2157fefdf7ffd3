#pragma once
// One TCP connection, plain or TLS, with its socket, TLS state and context
// released in the right order exactly once.

#include <cstddef>
#include <functional>
#include <optional>
#include <sys/types.h>

#include "centerlink/TlsIo.h"
#include "common/OutgoingMessage.h"
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
    // How a streamed message ended: sent whole, stopped between blocks
    // because the session event was set, or failed with the write's error
    // (0 when the producer failed or threw).
    struct Streamed {
        enum End { kSent, kStopped, kFailed } end = kSent;
        int error = 0;
        // kFailed by the message's producer: its system error (0: none).
        std::optional<int> producerError = std::nullopt;
    };
    // The whole message as it is produced, its pieces corked into as few
    // segments as they fill; onBlock hears of every block sent.
    Streamed stream(const OutgoingMessage& message, int seconds, const std::function<void(std::size_t)>& onBlock = {});
    // TLS close_notify when a session is up, then shutdown and close.
    void close();

private:
    UniqueFd fd_;
    SslCtxPtr ctx_;
    SslPtr ssl_;
};

} // namespace plx
