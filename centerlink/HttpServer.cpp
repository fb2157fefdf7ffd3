#include "centerlink/HttpServer.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <vector>

#include "centerlink/Connection.h"
#include "centerlink/HttpReceiver.h"
#include "centerlink/SessionControl.h"
#include "centerlink/SocketError.h"
#include "centerlink/SocketIo.h"
#include "common/Settings.h"
#include "platform/FdIo.h"
#include "platform/MemoryReturn.h"
#include "platform/TempFile.h"

namespace plx {

namespace {

constexpr int kBacklog = 100;
constexpr int kAcceptSendTimeout = 60; // seconds, until the settings are read
constexpr int kHandshakeTimeout = 30;  // seconds
constexpr int kExchanges = 3;
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::int64_t kMaxBodyBytes = (std::int64_t{1} << 31) - 1;
constexpr int kAcceptBackoffMs = 200;

void setSendTimeout(int fd, int seconds) {
    timeval tv{};
    tv.tv_sec = seconds > 0 ? seconds : 0;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Read at the accept and again after each exchange: the settings may be
// changed while the service runs. Null when missing or unreadable: the
// time-outs then are the defaults.
std::shared_ptr<const Settings> settingsOrNull() {
    try {
        return loadSettings();
    } catch (...) {
        return nullptr;
    }
}

int firstByteTimeout(const Settings& s, int exchange) {
    switch (exchange) {
    case 1: return s.tcpTimeout;
    case 2: return s.centerFileTimeout;
    default: return s.centerReportTimeout;
    }
}

struct SendOutcome {
    std::int32_t error = 0;
    std::int32_t level = 0; // 0 sent; otherwise the level of the handler's failure call
};

// Sends the reply as it is produced; an empty one is nothing to send.
SendOutcome sendReply(Connection& connection, const OutgoingMessage& reply, int seconds) {
    if (reply.empty()) return {0, 2};
    Connection::Streamed sent = connection.stream(reply, seconds);
    if (sent.end == Connection::Streamed::kSent) return {};
    if (sent.end == Connection::Streamed::kStopped) return {kSessionStopped, 1};
    return {recordedSocketError(sent.error), 1};
}

} // namespace

struct HttpServer::Impl {
    int requestedPort;
    std::string certFile;
    std::string keyFile;

    std::mutex lifecycle; // start() and stop()
    std::mutex handlerMutex;
    GatewayHandler* handler = nullptr;

    UniqueFd listener;
    UniqueFd wake; // eventfd that ends the accept wait
    SslCtxPtr tlsContext;
    std::thread acceptThread;
    std::atomic<bool> stopping{false};
    std::atomic<int> boundPort{0};

    // The socket being served, so that stop() can wake a blocked read.
    std::mutex clientMutex;
    int clientFd = -1;

    void acceptLoop();
    void waitForWake(int ms);
    void serve(UniqueFd fd);
    void exchanges(Connection& connection, GatewayHandler* h, std::shared_ptr<const Settings> read, bool& endReported,
                   std::optional<WaitDeadline>& untilAuthenticated);
    bool track(int fd);
    void untrack();
};

void HttpServer::Impl::waitForWake(int ms) {
    pollfd p{wake.get(), POLLIN, 0};
    ::poll(&p, 1, ms);
}

void HttpServer::Impl::acceptLoop() {
    while (!stopping) {
        pollfd fds[2] = {{listener.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
        int rc = ::poll(fds, 2, -1);
        if (stopping) break;
        if (rc < 0) {
            if (errno != EINTR) waitForWake(kAcceptBackoffMs);
            continue;
        }
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: the pending connection stays queued, so
            // polling again at once would spin.
            int err = errno;
            if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) waitForWake(kAcceptBackoffMs);
            continue;
        }
        serve(UniqueFd(fd));
    }
}

bool HttpServer::Impl::track(int fd) {
    std::lock_guard lock(clientMutex);
    // stop() sets the flag before it looks at clientFd: one of the two sees the other.
    if (stopping) return false;
    clientFd = fd;
    return true;
}

void HttpServer::Impl::untrack() {
    std::lock_guard lock(clientMutex);
    clientFd = -1;
}

void HttpServer::Impl::serve(UniqueFd fd) {
    GatewayHandler* h;
    {
        std::lock_guard lock(handlerMutex);
        h = handler;
    }
    Connection connection(std::move(fd));
    if (!track(connection.fd())) return;
    // Until a center has authenticated, the connection has the tcp time-out
    // from its accept, however many reads a peer that feeds a byte now and
    // then makes it take: the gateway serves one connection at a time.
    std::shared_ptr<const Settings> settings = settingsOrNull();
    std::optional<WaitDeadline> untilAuthenticated;
    untilAuthenticated.emplace(settings ? settings->tcpTimeout : Settings{}.tcpTimeout);
    bool endReported = false;
    try {
        if (h) h->beginConnection();
        setSendTimeout(connection.fd(), kAcceptSendTimeout);
        setNoDelay(connection.fd());
        bool ready = true;
        if (tlsContext) {
            SslPtr ssl = newTlsConnection(tlsContext.get(), connection.fd());
            ready = static_cast<bool>(ssl);
            if (ready) {
                // The connection owns the TLS state from here, so every path
                // closes it in the same order.
                connection.attachTls(SslCtxPtr{}, std::move(ssl));
                WaitDeadline handshake(kHandshakeTimeout); // for the whole handshake, not each read
                ready = tlsAcceptWithTimeout(connection.tls(), kHandshakeTimeout).ok();
            }
        }
        if (ready) exchanges(connection, h, std::move(settings), endReported, untilAuthenticated);
    } catch (...) {
        untrack();
        connection.close();
        if (h && !endReported) {
            try {
                h->endConnection(GatewayRequest{-1, nullptr, {}, 0, 2, nullptr});
            } catch (...) {
            }
        }
    }
    untrack();
    connection.close();
}

void HttpServer::Impl::exchanges(Connection& connection, GatewayHandler* h, std::shared_ptr<const Settings> read,
                                 bool& endReported, std::optional<WaitDeadline>& untilAuthenticated) {
    MemoryReturnScope memory;
    CountingSemaphore session(kSessionCount, kSessionSemaphoreName);
    if (!session.acquireUnlessStopped(1, kSessionWaitMs)) return;

    const int socket = connection.fd();
    // A failure or the end: the handler's answer is not used.
    auto end = [&](std::int32_t error, std::int32_t level) {
        endReported = true;
        if (h) h->endConnection(GatewayRequest{socket, nullptr, {}, error, level, nullptr});
    };

    for (int exchange = 1; exchange <= kExchanges; ++exchange) {
        if (exchange > 1) read = settingsOrNull();
        const Settings settings = read ? *read : Settings{};
        const int tcp = settings.tcpTimeout;
        setSendTimeout(socket, tcp);

        ReceiveOptions options;
        options.reader = h ? h->requestReader() : nullptr;
        options.firstByteTimeout = firstByteTimeout(settings, exchange);
        options.readTimeout = tcp;
        options.wholeTimeout = tcp; // one slow peer must not hold the gateway
        options.maxHeaderBytes = kMaxHeaderBytes;
        options.maxBodyBytes = kMaxBodyBytes;
        options.stopRequested = [] { return SessionEvent::isSet(); };
        ReceivedMessage request = receiveHttpMessage(connection, options);
        ScopedFileRemoval body(request.bodyFile);

        // A close that came while the request was read stops it, complete or
        // cut by a failed read.
        bool stopped = SessionEvent::isSet() &&
                       (request.status == ReceiveStatus::Complete || request.status == ReceiveStatus::ReadFailed);
        if (stopped) return end(kSessionStopped, 2);
        if (request.status != ReceiveStatus::Complete) return end(recordedReceiveError(request), 2);

        if (!h) return;
        std::filesystem::path bodyPath = body.path();
        body.release(); // the handler's from now on
        OutgoingMessage reply = h->respond(GatewayRequest{socket, &bodyPath, request.headerText, 0, 0, read});
        // From here the time-outs of a center's conversation apply; a peer
        // that did not authenticate gets its answer and nothing more.
        const bool authenticated = h->authenticated();
        if (authenticated) untilAuthenticated.reset();

        auto [error, level] = sendReply(connection, reply, tcp);
        reply = OutgoingMessage(); // what it holds (files) goes before the handler hears more
        if (level != 0) return end(error, level);
        if (!authenticated) break;
    }
    end(0, 2);
}

HttpServer::HttpServer(int port, std::string certFile, std::string keyFile) : impl_(std::make_unique<Impl>()) {
    impl_->requestedPort = port;
    impl_->certFile = std::move(certFile);
    impl_->keyFile = std::move(keyFile);
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::setHandler(GatewayHandler* handler) {
    std::lock_guard lock(impl_->handlerMutex);
    impl_->handler = handler;
}

bool HttpServer::start() {
    Impl& s = *impl_;
    std::lock_guard lock(s.lifecycle);
    if (s.acceptThread.joinable() || s.listener) return false;

    // A server that listens but cannot do TLS would take connections and
    // answer none of them.
    SslCtxPtr ctx;
    if (!s.certFile.empty() && !s.keyFile.empty()) {
        try {
            ctx = makeServerContext();
        } catch (...) {
            return false;
        }
        if (!loadCertificate(ctx.get(), s.certFile) || !loadPrivateKey(ctx.get(), s.keyFile)) return false;
    }

    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener) return false;
    int one = 1;
    if (::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::setsockopt(listener.get(), SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) != 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(s.requestedPort));
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
    if (::listen(listener.get(), kBacklog) != 0) return false;
    socklen_t length = sizeof addr;
    if (::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &length) != 0) return false;

    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) return false;

    s.listener = std::move(listener);
    s.wake = std::move(wake);
    s.tlsContext = std::move(ctx);
    s.boundPort = ntohs(addr.sin_port);
    s.stopping = false;
    try {
        s.acceptThread = std::thread([&s] { s.acceptLoop(); });
    } catch (...) {
        s.listener.reset();
        s.wake.reset();
        s.tlsContext.reset();
        return false;
    }
    return true;
}

bool HttpServer::stop() {
    Impl& s = *impl_;
    std::lock_guard lock(s.lifecycle);
    if (s.acceptThread.joinable()) {
        s.stopping = true;
        std::uint64_t one = 1;
        (void)!::write(s.wake.get(), &one, sizeof one);
        {
            // The serving thread clears clientFd before it closes the socket,
            // so this never touches a reused descriptor.
            std::lock_guard client(s.clientMutex);
            if (s.clientFd >= 0) ::shutdown(s.clientFd, SHUT_RDWR);
        }
        s.acceptThread.join();
    }
    s.listener.reset();
    s.wake.reset();
    s.tlsContext.reset();
    return true;
}

int HttpServer::port() const {
    int bound = impl_->boundPort;
    return bound != 0 ? bound : impl_->requestedPort;
}

} // namespace plx
