#include "centerlink/HttpClient.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "centerlink/HttpMessage.h"
#include "centerlink/HttpReceiver.h"
#include "centerlink/SessionControl.h"
#include "centerlink/SoapMessages.h"
#include "centerlink/SocketError.h"
#include "centerlink/SocketIo.h"
#include "common/Base64.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/HeaderText.h"
#include "platform/FdIo.h"
#include "platform/Numbers.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace {

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)";
constexpr std::size_t kProxyAnswerLimit = 8 * 1024;
constexpr int kHostNotFound = 11001;

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int32_t clamp32(std::int64_t v) { return clampToInt32(v); }

} // namespace

HttpClient::~HttpClient() {
    if (progressThread_.joinable()) {
        {
            std::lock_guard lock(stopMutex_);
            stopProgress_ = true;
        }
        stopSignal_.notify_all();
        progressThread_.join();
    }
    Disconnect();
}

// Whatever a wait reported, an exchange that failed once the session event
// was set was stopped by it.
HttpOutcome HttpClient::failed(HttpOutcome::Phase phase, int error) {
    return {phase, SessionEvent::isSet() ? kSessionStopped : error};
}

std::int32_t HttpClient::elapsedMs() const { return clamp32(nowMs() - startTick_.load()); }

void HttpClient::startProgressThread(TransferProgressSink* sink, int intervalMs) {
    sink_ = sink;
    if (progressThread_.joinable()) return;
    if (intervalMs > 0 && sink_) progressThread_ = std::thread([this, intervalMs] { progressLoop(intervalMs); });
}

void HttpClient::progressLoop(int intervalMs) {
    std::unique_lock lock(stopMutex_);
    while (!stopProgress_) {
        int mode = progressMode_.load();
        if (mode != kNoProgress && mode == progressDirection_.load()) {
            lock.unlock();
            if (mode == kSending)
                sink_->onSendProgress(clamp32(totalBytes_), clamp32(doneBytes_), elapsedMs());
            else
                sink_->onRecvProgress(clamp32(totalBytes_), clamp32(recvBytes_), elapsedMs());
            lock.lock();
        }
        stopSignal_.wait_for(lock, std::chrono::milliseconds(intervalMs), [&] { return stopProgress_; });
    }
}

HttpOutcome HttpClient::openSocket(const std::string& host, int port) {
    // No host is no address: never a default one.
    if (host.empty()) return failed(HttpOutcome::kSendFailed, kHostNotFound);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return failed(HttpOutcome::kSendFailed, kHostNotFound);
    sockaddr_in address = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
    ::freeaddrinfo(found);
    address.sin_port = htons(static_cast<std::uint16_t>(port));

    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return failed(HttpOutcome::kSendFailed, recordedSocketError(winsockFromErrno(errno)));
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setNoDelay(fd.get());
    SocketResult connected =
        connectWithTimeout(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address, connectTimeout_);
    if (!connected.ok()) return failed(HttpOutcome::kSendFailed, recordedSocketError(connected.error));
    connection_ = Connection(std::move(fd));
    return {};
}

HttpClient::ProxyAnswer HttpClient::readProxyAnswer() {
    // A silent proxy must not hang the caller: bound the wait even when no
    // first-byte limit is set yet.
    int wait = firstByteTimeout_ > 0 ? firstByteTimeout_ : connectTimeout_;
    std::string answer;
    char buffer[1024];
    std::size_t sep = 0;
    while (findHeaderEnd(answer, sep) == std::string::npos) {
        if (answer.size() > kProxyAnswerLimit) return {};
        SocketResult read = connection_.read(buffer, sizeof buffer, wait);
        if (!read.gotBytes()) return {.error = read.error};
        answer.append(buffer, static_cast<std::size_t>(read.count));
    }
    StatusLine line;
    if (!parseStatusLine(line, answer)) return {};
    return {.status = line.statusCode};
}

HttpOutcome HttpClient::openTunnel() {
    const ProxySetting& proxy = *route_.proxy;
    const std::string& centerHost = route_.center.host;
    std::string request = "CONNECT " + centerHost + ":" + std::to_string(route_.center.port) + " HTTP/1.1\r\n" +
                          "User-Agent: " + kUserAgent + "\r\nHost: " + centerHost + "\r\nContent-Length: 0\r\n" +
                          "Pragma: no-cache\r\n";
    int status = 0;
    auto ask = [&](const std::string& text) -> HttpOutcome {
        if (SocketResult sent = connection_.writeAll(text.data(), text.size(), readTimeout_); !sent.ok())
            return failed(HttpOutcome::kSendFailed, recordedSocketError(sent.error));
        ProxyAnswer answer = readProxyAnswer();
        status = answer.status;
        if (answer.status == 0) return failed(HttpOutcome::kSendFailed, recordedSocketError(answer.error));
        return {};
    };

    HttpOutcome asked = ask(request + "\r\n");
    if (asked && status == 407) {
        connection_.close();
        if (HttpOutcome reopened = openSocket(route_.connectHost(), route_.connectPort()); !reopened) return reopened;
        asked =
            ask(request + "Proxy-Authorization:Basic " + encodeBase64(proxy.user + ":" + proxy.password) + "\r\n\r\n");
    }
    if (asked && status != 200) asked = failed(HttpOutcome::kSendFailed, 0);
    if (!asked) connection_.close();
    return asked;
}

HttpOutcome HttpClient::startTls() {
    try {
        SslCtxPtr ctx = makeClientContext();
        if ((!certFile_.empty() && !loadCertificate(ctx.get(), certFile_)) ||
            (!keyFile_.empty() && !loadPrivateKey(ctx.get(), keyFile_))) {
            connection_.close();
            return failed(HttpOutcome::kSendFailed, 0);
        }
        SslPtr ssl = newTlsConnection(ctx.get(), connection_.fd());
        SocketResult handshake = ssl ? tlsConnectWithTimeout(ssl.get(), connectTimeout_) : SocketResult::failed(0);
        if (!handshake.ok()) {
            connection_.close();
            return failed(HttpOutcome::kSendFailed, recordedSocketError(handshake.error));
        }
        connection_.attachTls(std::move(ctx), std::move(ssl));
        return {};
    } catch (const std::exception&) {
        connection_.close();
        return failed(HttpOutcome::kSendFailed, 0);
    }
}

HttpOutcome HttpClient::Connect(const CenterRoute& route, const std::string& certFile, const std::string& keyFile) {
    if (connection_.isOpen()) return {HttpOutcome::kSendFailed, 0};
    route_ = route;
    certFile_ = certFile;
    keyFile_ = keyFile;
    return open();
}

HttpOutcome HttpClient::open() {
    HttpOutcome opened = openSocket(route_.connectHost(), route_.connectPort());
    if (!opened || !route_.https()) return opened; // plain HTTP, direct or with absolute targets through a proxy
    if (route_.proxy) {
        if (HttpOutcome tunnel = openTunnel(); !tunnel) return tunnel;
    }
    return startTls();
}

bool HttpClient::Disconnect() {
    bool wasOpen = connection_.isOpen();
    connection_.close();
    return wasOpen;
}

HttpOutcome HttpClient::sendRequest(const OutgoingMessage& request) {
    totalBytes_ = static_cast<std::int64_t>(request.size());
    doneBytes_ = 0;
    progressMode_ = kSending;
    Connection::Streamed sent = connection_.stream(
        request, readTimeout_, [this](std::size_t size) { doneBytes_ += static_cast<std::int64_t>(size); });
    progressMode_ = kNoProgress;
    if (sent.end != Connection::Streamed::kSent) {
        Disconnect();
        HttpOutcome outcome =
            failed(HttpOutcome::kSendFailed,
                   sent.end == Connection::Streamed::kStopped ? kSessionStopped : recordedSocketError(sent.error));
        outcome.producerError = sent.producerError;
        return outcome;
    }
    if (progressDirection_ == kSending && sink_)
        sink_->onSendProgress(clamp32(totalBytes_), clamp32(totalBytes_), elapsedMs());
    return {};
}

HttpOutcome HttpClient::receiveReply(ReceivedMessage& reply, BodyReader* reader) {
    doneBytes_ = totalBytes_.load();
    recvBytes_ = 0;
    totalBytes_ = 0;
    progressMode_ = kReceiving;
    try {
        ReceiveOptions options;
        options.firstByteTimeout = firstByteTimeout_;
        options.readTimeout = readTimeout_;
        options.reader = reader;
        options.stopRequested = [] { return SessionEvent::isSet(); };
        options.onProgress = [this](std::int64_t received, std::int64_t total) {
            totalBytes_ = total;
            recvBytes_ = received;
        };
        reply = receiveHttpMessage(connection_, options);
    } catch (const std::exception&) {
        reply.status = ReceiveStatus::ReadFailed;
        reply.socketError = 0;
    }
    progressMode_ = kNoProgress;
    if (reply.status == ReceiveStatus::Complete) return {};
    Disconnect();
    HttpOutcome outcome = failed(HttpOutcome::kReceiveFailed, recordedReceiveError(reply));
    if (reply.status == ReceiveStatus::NoBodyFile) outcome.replyFileError = reply.fileError;
    return outcome;
}

HttpOutcome HttpClient::Write(const OutgoingMessage& request, std::string& headerOut, std::filesystem::path& bodyOut,
                              BodyReader* reader) {
    // A connection that cannot be made again fails the send with its error.
    if (!connection_.isOpen()) {
        if (HttpOutcome connected = open(); !connected) return connected;
    }
    startTick_ = nowMs();
    if (HttpOutcome sent = sendRequest(request); !sent) return sent;
    ReceivedMessage reply;
    if (HttpOutcome received = receiveReply(reply, reader); !received) return received;
    if (progressDirection_ == kReceiving && sink_)
        sink_->onRecvProgress(clamp32(reply.contentLength), clamp32(reply.contentLength), elapsedMs());
    if (!isKeepAlive(reply.headerText)) Disconnect();
    headerOut = reply.headerText;
    bodyOut = reply.bodyFile;
    return {};
}

} // namespace plx
