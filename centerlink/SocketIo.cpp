#include "centerlink/SocketIo.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>

#include "centerlink/SessionControl.h"
#include "centerlink/SocketError.h"

namespace plx {

namespace {

using Clock = std::chrono::steady_clock;

thread_local std::optional<Clock::time_point> waitDeadline;

// The earlier of deadline and seconds from now (0 or less: no limit of its own).
std::optional<Clock::time_point> earliest(std::optional<Clock::time_point> deadline, int seconds) {
    if (seconds <= 0) return deadline;
    auto own = Clock::now() + std::chrono::seconds(seconds);
    return !deadline || own < *deadline ? own : deadline;
}

// poll() for events beside the session event, restarting after signals
// with the time that is left: 1 when ready.
SocketResult pollFor(int fd, short events, int seconds) {
    const std::optional<Clock::time_point> deadline = earliest(waitDeadline, seconds);
    for (;;) {
        int wait = -1;
        if (deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd p[2] = {{fd, events, 0}, {SessionEvent::waitFd(), POLLIN, 0}};
        int rc = ::poll(p, 2, wait);
        if (rc > 0 && (p[1].revents & POLLIN)) return SocketResult::failed(kSessionStopped);
        if (rc > 0) return SocketResult::done(1);
        if (rc == 0) return SocketResult::failed(kSocketTimeoutMarker);
        if (errno != EINTR) return SocketResult::failedWithErrno(errno);
    }
}

void setTcpOption(int fd, int option, int value) { ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value); }

bool setBlocking(int fd, bool blocking) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

} // namespace

SocketResult waitReadable(int fd, int seconds) { return pollFor(fd, POLLIN, seconds); }

void setNoDelay(int fd) { setTcpOption(fd, TCP_NODELAY, 1); }

CorkScope::CorkScope(int fd) : fd_(fd) { setTcpOption(fd_, TCP_CORK, 1); }

// Uncorking sends what is held at once.
CorkScope::~CorkScope() { setTcpOption(fd_, TCP_CORK, 0); }

WaitDeadline::WaitDeadline(int seconds) : outer_(waitDeadline) { waitDeadline = earliest(waitDeadline, seconds); }

WaitDeadline::~WaitDeadline() { waitDeadline = outer_; }

SocketResult receiveWithTimeout(int fd, void* buffer, std::size_t size, int seconds) {
    if (SocketResult ready = pollFor(fd, POLLIN, seconds); !ready.ok()) return ready;
    ssize_t n;
    while ((n = ::recv(fd, buffer, size, 0)) < 0 && errno == EINTR) {
    }
    return n < 0 ? SocketResult::failedWithErrno(errno) : SocketResult::done(n);
}

SocketResult sendBytes(int fd, const void* data, std::size_t length) {
    for (;;) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return SocketResult::done(n);
        int err = errno;
        if (err == EINTR) continue;
        if (err != EAGAIN && err != EWOULDBLOCK) return SocketResult::failedWithErrno(err);
        // Full: wait for room as a blocking send would, but wake on a stop.
        timeval limit{};
        socklen_t size = sizeof limit;
        if (::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, &size) != 0) limit = timeval{};
        int seconds = static_cast<int>(limit.tv_sec) + (limit.tv_usec > 0 ? 1 : 0);
        SocketResult ready = pollFor(fd, POLLOUT, seconds);
        // The send time-out expired.
        if (ready.error == kSocketTimeoutMarker) return SocketResult::failedWithErrno(EAGAIN);
        if (!ready.ok()) return ready;
    }
}

SocketResult sendAll(int fd, const void* data, std::size_t length) {
    auto* p = static_cast<const char*>(data);
    std::size_t left = length;
    while (left > 0) {
        SocketResult sent = sendBytes(fd, p, left);
        if (!sent.ok()) return sent;
        if (sent.count == 0) return SocketResult::failed(0);
        p += sent.count;
        left -= static_cast<std::size_t>(sent.count);
    }
    return SocketResult::done(static_cast<ssize_t>(length));
}

namespace {

// Fails with err, the socket back in blocking mode.
SocketResult connectFailed(int fd, int err) {
    SocketResult failure = SocketResult::failedWithErrno(err);
    setBlocking(fd, true);
    return failure;
}

} // namespace

SocketResult connectWithTimeout(int fd, const sockaddr* address, socklen_t length, int seconds) {
    if (seconds < 0) seconds = 0;
    if (!setBlocking(fd, false)) return SocketResult::failedWithErrno(errno);
    if (::connect(fd, address, length) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) return connectFailed(fd, errno);
        if (SocketResult ready = pollFor(fd, POLLOUT, seconds); !ready.ok()) {
            setBlocking(fd, true);
            return ready;
        }
        int pending = 0;
        socklen_t len = sizeof pending;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &len) != 0) pending = errno;
        if (pending != 0) return connectFailed(fd, pending);
    }
    if (!setBlocking(fd, true)) return SocketResult::failedWithErrno(errno);
    timeval sendLimit{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    return SocketResult::done(0);
}

} // namespace plx
