#include "centerlink/HttpServer.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

#include "centerlink/Connection.h"
#include "centerlink/SessionControl.h"
#include "centerlink/SocketError.h"
#include "centerlink/SocketIo.h"
#include "tests/TestSupport.h"
#include "tests/centerlink/LoopbackPeer.h"
#include "tests/centerlink/TestCertificates.h"
#include "tests/centerlink/TestPeers.h"

using namespace plx;
namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

namespace {

struct Call {
    std::int32_t level = -1;
    std::int32_t error = -1;
    std::string header;
    std::optional<std::string> body; // nullopt: the server passed no body
};

class RecordingHandler : public GatewayHandler {
public:
    using Responder = std::function<OutgoingMessage(RecordingHandler&, const std::string& body)>;
    // What to answer a complete request with; by default a reply naming the body.
    void respondWith(Responder responder) {
        std::lock_guard lock(mutex_);
        responder_ = std::move(responder);
    }

    void beginConnection() override {
        std::lock_guard lock(mutex_);
        ++begins_;
    }
    OutgoingMessage respond(const GatewayRequest& r) override {
        Call call = record(r);
        Responder responder;
        {
            std::lock_guard lock(mutex_);
            responder = responder_;
        }
        return responder ? responder(*this, *call.body) : writeReply("reply to " + *call.body);
    }
    void endConnection(const GatewayRequest& r) override { record(r); }
    bool authenticated() const override { return true; }

    Call record(const GatewayRequest& r) {
        Call call{r.level, r.errorCode, r.header, std::nullopt};
        if (r.body) {
            call.body = readFile(*r.body);
            fs::remove(*r.body);
        }
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(call);
        }
        changed_.notify_all();
        return call;
    }

    OutgoingMessage writeReply(const std::string& body) {
        std::lock_guard lock(mutex_);
        replyTexts_.push_back("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        OutgoingMessage reply;
        reply.append(replyTexts_.back());
        return reply;
    }
    std::vector<Call> waitForCalls(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, test::hangCeiling(), [&] { return calls_.size() >= n; });
        return calls_;
    }
    std::string replyText(std::size_t i) {
        std::lock_guard lock(mutex_);
        return replyTexts_.at(i);
    }
    int begins() {
        std::lock_guard lock(mutex_);
        return begins_;
    }

private:
    std::mutex mutex_;
    Responder responder_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
    std::vector<std::string> replyTexts_;
    int begins_ = 0;
};

std::string request(const std::string& body) {
    return "POST /gw HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

UniqueFd connectTo(int port, int receiveBuffer = 0) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    timeval tv{20, 0}; // a bound for failing servers, never reached by a working one
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (receiveBuffer) ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!connectWithTimeout(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr, 5).ok()) return {};
    return fd;
}

// A TLS client connection; closed when the handshake fails.
Connection tlsClient(int port) {
    UniqueFd fd = connectTo(port);
    SslCtxPtr ctx = makeClientContext();
    SslPtr ssl = newTlsConnection(ctx.get(), fd.get());
    if (tlsConnectWithTimeout(ssl.get(), 10).count != 1) return {};
    Connection c(std::move(fd));
    c.attachTls(std::move(ctx), std::move(ssl));
    return c;
}

void put(const UniqueFd& fd, const std::string& text) { (void)sendAll(fd.get(), text.data(), text.size()); }

std::string roundTrip(const UniqueFd& fd, const std::string& body) {
    put(fd, request(body));
    return test::readHttpMessage(fd.get());
}

// True when the server ended the connection (not when our wait ran out).
bool closedByServer(const UniqueFd& fd) {
    char c;
    ssize_t n = ::recv(fd.get(), &c, 1, 0);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

bool isEnd(const Call& c, std::int32_t error = 0, std::int32_t level = 2) {
    return c.level == level && c.error == error && !c.body && c.header.empty();
}

class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SessionEvent::reset();
        writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + home.path().string() + "\n");
        timeouts(10, 10);
    }
    void TearDown() override { SessionEvent::reset(); }
    void timeouts(int tcp, int later) {
        writeFile(home / "pltimeout.ini", "[timeout]\ntcp=" + std::to_string(tcp) +
                                              "\ncenter_file=" + std::to_string(later) +
                                              "\ncenter_report=" + std::to_string(later) + "\n");
    }
    // The received text is read before the handler's reply is looked up.
    void expectReply(const std::string& received, std::size_t i) { EXPECT_EQ(received, handler.replyText(i)); }
    int start() {
        server.setHandler(&handler);
        EXPECT_TRUE(server.start());
        return server.port();
    }

    test::ScopedHome home;
    RecordingHandler handler;
    HttpServer server{0};
};

} // namespace

TEST_F(HttpServerTest, ThreeExchangesThenTheEndCallAndNoFourthRequest) {
    int port = start();
    EXPECT_NE(port, 0);
    EXPECT_FALSE(server.start());
    UniqueFd c = connectTo(port);
    for (int i = 0; i < 3; ++i) expectReply(roundTrip(c, "R" + std::to_string(i)), i);
    put(c, request("R3"));
    EXPECT_TRUE(closedByServer(c));

    auto calls = handler.waitForCalls(4);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].header, "POST /gw HTTP/1.1\r\nContent-Length: 2\n\n");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].level, 0);
        EXPECT_EQ(calls[i].body, "R" + std::to_string(i));
    }
    EXPECT_TRUE(isEnd(calls[3]));
    EXPECT_EQ(handler.begins(), 1);
}

// A reply in pieces leaves without Nagle's wait for the gateway's delayed
// acknowledgement: no delay on the socket, and the pieces held together.
TEST_F(HttpServerTest, PiecesOfAReplyAreCorkedOnANoDelaySocket) {
    struct PiecedReply : RecordingHandler {
        OutgoingMessage respond(const GatewayRequest& r) override {
            record(r);
            noDelay = test::tcpOption(r.socket, TCP_NODELAY);
            OutgoingMessage reply;
            reply.append("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n");
            reply.appendProduced(4, [this, fd = r.socket](const ByteSink& sink) {
                corkedWhileSending = test::tcpOption(fd, TCP_CORK);
                return sink("body", 4);
            });
            reply.append("end");
            return reply;
        }
        std::atomic<int> noDelay{-1};
        std::atomic<int> corkedWhileSending{-1};
    } pieced;
    HttpServer own{0}; // stops before the handler goes
    own.setHandler(&pieced);
    ASSERT_TRUE(own.start());
    UniqueFd c = connectTo(own.port());
    EXPECT_EQ(roundTrip(c, "R0"), "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nbodyend");
    EXPECT_EQ(pieced.noDelay, 1);
    EXPECT_EQ(pieced.corkedWhileSending, 1);
}

TEST_F(HttpServerTest, SplitBodyIsReadExactlyAndTrailingBytesAreNotABody) {
    int port = start();
    UniqueFd c = connectTo(port);
    // Larger than one read, so the tail arrives after the header has been parsed.
    std::string body(100000, 'b');
    body.replace(10, 4, "\r\n\r\n");
    std::string text = request(body);
    put(c, text.substr(0, 7));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    put(c, text.substr(7, 40));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    put(c, text.substr(47) + "XYZ");
    expectReply(test::readHttpMessage(c.get()), 0);
    EXPECT_TRUE(closedByServer(c));
    auto calls = handler.waitForCalls(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].body == body);
    EXPECT_TRUE(isEnd(calls[1])); // "X" cannot start a request
}

TEST_F(HttpServerTest, SilentGatewayIsClosedAfterTheTcpTimeout) {
    timeouts(1, 60);
    UniqueFd c = connectTo(start());
    EXPECT_TRUE(closedByServer(c));
    auto calls = handler.waitForCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(isEnd(calls[0]));
}

TEST_F(HttpServerTest, BadHeadersEndTheConnectionWithoutWaitingForTheTimeout) {
    timeouts(60, 60);
    int port = start();
    UniqueFd noLength = connectTo(port);
    put(noLength, "POST /gw HTTP/1.1\r\nHost: t\r\n\r\nbody");
    EXPECT_TRUE(closedByServer(noLength));
    UniqueFd endless = connectTo(port);
    put(endless, "POST /gw HTTP/1.1\r\nX: " + std::string(70000, 'x'));
    EXPECT_TRUE(closedByServer(endless));
    auto calls = handler.waitForCalls(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(isEnd(calls[0]));
    EXPECT_TRUE(isEnd(calls[1]));
}

TEST_F(HttpServerTest, ConnectionsAreServedOneAfterTheOther) {
    int port = start();
    UniqueFd a = connectTo(port);
    expectReply(roundTrip(a, "A1"), 0);
    UniqueFd b = connectTo(port);
    put(b, request("B1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // room for a server that would take b now
    expectReply(roundTrip(a, "A2"), 1);
    ::shutdown(a.get(), SHUT_WR);
    expectReply(test::readHttpMessage(b.get()), 2);

    auto calls = handler.waitForCalls(4);
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0].body, "A1");
    EXPECT_EQ(calls[1].body, "A2");
    EXPECT_TRUE(isEnd(calls[2]));
    EXPECT_EQ(calls[3].body, "B1");
    EXPECT_EQ(handler.begins(), 2);
}

TEST_F(HttpServerTest, NoSessionMeansNoHandlerCall) {
    int port = start();
    SessionEvent::set();
    UniqueFd stopped = connectTo(port);
    put(stopped, request("E"));
    EXPECT_TRUE(closedByServer(stopped));
    SessionEvent::reset();

    CountingSemaphore all(kSessionCount, kSessionSemaphoreName);
    ASSERT_TRUE(all.acquire(kSessionCount, 0));
    UniqueFd busy = connectTo(port); // waits 5 s for a count
    put(busy, request("S"));
    EXPECT_TRUE(closedByServer(busy));
    EXPECT_TRUE(handler.waitForCalls(0).empty());
}

TEST_F(HttpServerTest, ReplyFailuresEndTheConnectionAndDeleteTheReply) {
    int port = start();
    handler.respondWith([](RecordingHandler&, const std::string&) { return OutgoingMessage(); });
    UniqueFd noReply = connectTo(port);
    put(noReply, request("N"));
    EXPECT_TRUE(closedByServer(noReply));

    handler.respondWith([](RecordingHandler& h, const std::string&) {
        SessionEvent::set();
        return h.writeReply("never sent");
    });
    UniqueFd stopped = connectTo(port);
    put(stopped, request("E"));
    EXPECT_TRUE(closedByServer(stopped));
    auto calls = handler.waitForCalls(4);
    SessionEvent::reset();

    // Far more than the socket buffers hold, so the reset hits a running send.
    handler.respondWith(
        [](RecordingHandler& h, const std::string&) { return h.writeReply(std::string(16 << 20, 'z')); });
    UniqueFd reset = connectTo(port, 4096);
    put(reset, request("R"));
    handler.waitForCalls(5);
    linger hard{1, 0};
    ::setsockopt(reset.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    reset.reset();
    calls = handler.waitForCalls(6);

    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].body, "N");
    EXPECT_TRUE(isEnd(calls[1]));
    EXPECT_EQ(calls[2].body, "E");
    EXPECT_TRUE(isEnd(calls[3], kSessionStopped, 1));
    EXPECT_EQ(calls[4].body, "R");
    EXPECT_TRUE(isEnd(calls[5], 10054, 1));
}

TEST_F(HttpServerTest, HandlerExceptionStillGetsTheEndCallAndNoHandlerIsAllowed) {
    handler.respondWith(
        [](RecordingHandler&, const std::string&) -> OutgoingMessage { throw std::runtime_error("broken"); });
    UniqueFd c = connectTo(start());
    put(c, request("X"));
    EXPECT_TRUE(closedByServer(c));
    auto calls = handler.waitForCalls(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(isEnd(calls[1]));

    HttpServer bare(0);
    ASSERT_TRUE(bare.start());
    UniqueFd d = connectTo(bare.port());
    put(d, request("Y"));
    EXPECT_TRUE(closedByServer(d));
}

TEST_F(HttpServerTest, StopEndsAnOpenConnection) {
    timeouts(60, 60);
    int port = start();
    UniqueFd c = connectTo(port);
    expectReply(roundTrip(c, "S"), 0);
    // The client's 20 s bound ends before the server's own 60 s wait would.
    std::thread stopper([&] { EXPECT_TRUE(server.stop()); });
    EXPECT_TRUE(closedByServer(c));
    stopper.join();
    auto calls = handler.waitForCalls(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].level, 2);
    EXPECT_FALSE(connectTo(port));
}

TEST_F(HttpServerTest, TlsExchangeWithTheTerminalsKeySize) {
    auto files = test::makeSelfSignedCertificate(home.path(), 1024);
    HttpServer tls(0, files.cert, files.key);
    tls.setHandler(&handler);
    ASSERT_TRUE(tls.start());

    Connection c = tlsClient(tls.port());
    ASSERT_TRUE(c.isOpen());
    std::string text = request("T");
    ASSERT_TRUE(c.writeAll(text.data(), text.size(), 10).ok());
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (reply.empty() || reply.size() < handler.replyText(0).size()) &&
                    (n = c.read(buffer, sizeof buffer, 10).count) > 0;)
        reply.append(buffer, static_cast<std::size_t>(n));
    expectReply(reply, 0);
    c.close();

    auto calls = handler.waitForCalls(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].body, "T");
    EXPECT_TRUE(isEnd(calls[1]));
}

// A peer that feeds its TLS handshake a byte at a time, each well within a
// read's time-out, is cut at the connection's deadline: the tcp time-out
// from its accept. The next client is served.
TEST_F(HttpServerTest, ATrickledTlsHandshakeIsCutAtTheConnectionsDeadline) {
    const auto tcp = std::chrono::seconds(1); // each read alone would wait 30 s
    timeouts(static_cast<int>(tcp.count()), 60);
    auto files = test::makeSelfSignedCertificate(home.path(), 1024);
    HttpServer tls(0, files.cert, files.key);
    tls.setHandler(&handler);
    ASSERT_TRUE(tls.start());

    UniqueFd trickler = connectTo(tls.port());
    auto started = std::chrono::steady_clock::now();
    put(trickler, std::string("\x16\x03\x01\x3e\x80", 5)); // a handshake record of 16,000 bytes
    bool cut = false;
    while (!cut && std::chrono::steady_clock::now() - started < test::scaled(tcp)) {
        (void)::send(trickler.get(), "\x01", 1, MSG_NOSIGNAL);
        pollfd p{trickler.get(), POLLIN, 0};
        cut = ::poll(&p, 1, 200) > 0 && closedByServer(trickler); // a byte every 200 ms
    }
    EXPECT_TRUE(cut);
    EXPECT_TRUE(handler.waitForCalls(0).empty()); // no request reached the handler

    Connection c = tlsClient(tls.port());
    ASSERT_TRUE(c.isOpen());
    std::string text = request("T");
    ASSERT_TRUE(c.writeAll(text.data(), text.size(), 10).ok());
    EXPECT_EQ(handler.waitForCalls(1).at(0).body, "T");
}

TEST_F(HttpServerTest, FailedTlsSetupMeansNothingListens) {
    test::TempDir a, b;
    auto mine = test::makeSelfSignedCertificate(a.path(), 1024);
    auto foreign = test::makeSelfSignedCertificate(b.path(), 1024);
    int port = test::freeLoopbackPort();
    HttpServer missing(port, mine.cert, (a / "missing.pem").string());
    EXPECT_FALSE(missing.start());
    HttpServer mismatched(port, mine.cert, foreign.key);
    EXPECT_FALSE(mismatched.start());
    EXPECT_FALSE(connectTo(port));
}

// The service closing while the last bytes of a request came in: the
// request is stopped, not handled.
TEST_F(HttpServerTest, ARequestCompletedWhileTheServiceClosesIsStopped) {
    struct ClosingReader : BodyReader {
        fs::path file;
        bool begin(std::int64_t) override { return true; }
        bool take(const char*, std::size_t) override { return true; }
        fs::path finish() override {
            SessionEvent::set(); // the close comes with the last byte
            writeFile(file, "");
            return file;
        }
    };
    struct Handler : RecordingHandler {
        ClosingReader reader;
        BodyReader* requestReader() override { return &reader; }
    } closing;
    closing.reader.file = home / "body";
    server.setHandler(&closing);
    ASSERT_TRUE(server.start());
    UniqueFd c = connectTo(server.port());
    put(c, request("complete"));
    EXPECT_TRUE(closedByServer(c));
    auto calls = closing.waitForCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(isEnd(calls[0], kSessionStopped));
    EXPECT_FALSE(fs::exists(home / "body"));
}
