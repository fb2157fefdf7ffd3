#pragma once
// Blocking socket operations with time-outs in whole seconds (0 or less:
// no limit). Each gives its SocketResult: an expired wait fails with
// kSocketTimeoutMarker (10000). Every wait also ends when the session event
// is set (the service closes): a failure with kSessionStopped.

#include <chrono>
#include <cstddef>
#include <optional>
#include <sys/socket.h>
#include <sys/types.h>

#include "centerlink/SocketError.h"

namespace plx {

// One recv after waiting for data: bytes received, 0 when the peer closed.
SocketResult receiveWithTimeout(int fd, void* buffer, std::size_t size, int seconds);
// One send (no SIGPIPE): bytes sent. When the socket cannot take more,
// waits at most the socket's send time-out (SO_SNDTIMEO; expired: 10060).
SocketResult sendBytes(int fd, const void* data, std::size_t length);
// Sends until every byte is out (count: length); the first failure ends it.
SocketResult sendAll(int fd, const void* data, std::size_t length);
// Connects (count 0). Afterwards sends are bounded by the same time-out.
SocketResult connectWithTimeout(int fd, const sockaddr* address, socklen_t length, int seconds);
// Waits until fd is readable (count 1).
SocketResult waitReadable(int fd, int seconds);
// Small writes leave at once instead of waiting for the peer's
// acknowledgement of the one before (Nagle's delay, up to 40 ms a message).
// Best effort: a socket that refuses the option only stays slower.
void setNoDelay(int fd);

// Holds back partly filled segments while one message is written in
// several pieces, so that its head and first piece leave together; the
// rest leaves when the scope ends. Best effort, as setNoDelay.
class CorkScope {
public:
    explicit CorkScope(int fd);
    ~CorkScope();
    CorkScope(const CorkScope&) = delete;
    CorkScope& operator=(const CorkScope&) = delete;

private:
    int fd_;
};

// While it lives, every wait of this thread (TLS reads' own included) ends
// seconds from now at the latest, as its time-out would: a peer that feeds
// a byte now and then cannot stretch a message past it. 0 or less: none.
class WaitDeadline {
public:
    explicit WaitDeadline(int seconds);
    ~WaitDeadline();
    WaitDeadline(const WaitDeadline&) = delete;
    WaitDeadline& operator=(const WaitDeadline&) = delete;

private:
    std::optional<std::chrono::steady_clock::time_point> outer_;
};

} // namespace plx
