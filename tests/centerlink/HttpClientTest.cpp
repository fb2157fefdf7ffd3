#include "centerlink/HttpClient.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>

#include "centerlink/HttpMessage.h"
#include "centerlink/SessionControl.h"
#include "centerlink/SocketError.h"
#include "platform/FdIo.h"
#include "tests/TestSupport.h"
#include "tests/centerlink/LoopbackPeer.h"

using namespace plx;
using test::LoopbackPeer;
using test::readFile;
using test::ScopedHome;
using test::sendText;
using test::writeFile;

namespace {

// A program folder whose center is a peer on 127.0.0.1, and a request.
struct ClientHome {
    ScopedHome home;
    CenterRoute route;
    OutgoingMessage request;
    explicit ClientHome(int port, const std::string& body = "<RequestAuthentication/>") {
        writeFile(home / "plterm.ini", "[terminfo]\ncenterurl=http://127.0.0.1:" + std::to_string(port) + "/\n");
        writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + home.path().string() + "\n");
        route = readCenterRoute().value();
        HttpMessage m;
        m.setMethod("POST");
        m.setRequestTarget("/putfile", route);
        OutgoingMessage content;
        content.append(body);
        request = m.request(std::move(content));
    }
};

struct Reply {
    HttpOutcome::Phase result = HttpOutcome::kDone;
    std::string header;
    std::filesystem::path body;
    int error = -1;
};

Reply exchange(HttpClient& client, const OutgoingMessage& request) {
    Reply r;
    HttpOutcome outcome = client.Write(request, r.header, r.body);
    r.result = outcome.phase;
    r.error = outcome.error;
    return r;
}

class RecordingSink : public TransferProgressSink {
public:
    void onSendProgress(std::int32_t total, std::int32_t sent, std::int32_t) override {
        std::lock_guard lock(mutex);
        sends.emplace_back(total, sent);
    }
    void onRecvProgress(std::int32_t total, std::int32_t received, std::int32_t) override {
        std::lock_guard lock(mutex);
        receives.emplace_back(total, received);
    }
    std::mutex mutex;
    std::vector<std::pair<int, int>> sends, receives;
};

// Clears the process-wide session event after a test that sets it.
struct EventGuard {
    EventGuard() { SessionEvent::reset(); }
    ~EventGuard() { SessionEvent::reset(); }
};

} // namespace

TEST(HttpClientReceive, SplitReplyWithBlankLinesInItsBody) {
    std::string body = "line\n\nafter a blank line\r\n\r\nand more";
    LoopbackPeer peer([&](int fd) {
        std::string request = test::readHttpMessage(fd);
        std::string reply =
            "HTTP/1.1 200 OK\r\nSet-Cookie: ZORVANTIKE=abc\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body + "SURPLUS";
        for (char c : reply) { // one byte per segment
            sendText(fd, std::string(1, c));
            if (c == '\n') std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    ClientHome h(peer.port());
    HttpClient client;
    ASSERT_TRUE(client.Connect(h.route));
    Reply r = exchange(client, h.request);
    ASSERT_EQ(r.result, HttpOutcome::kDone);
    EXPECT_EQ(readFile(r.body), body);
    EXPECT_EQ(r.header.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(r.header.substr(r.header.size() - 2), "\n\n");
    EXPECT_EQ(HttpMessage(r.header).getCookie().value_or(""), "ZORVANTIKE=abc");
    EXPECT_FALSE(client.isConnected()); // "close" was asked for
    std::filesystem::remove(r.body);
}

TEST(HttpClientReceive, KeepAliveServesSeveralExchangesAndCloseReconnects) {
    std::vector<std::string> seen;
    LoopbackPeer peer(
        [&](int fd) {
            for (int i = 0; i < 2; ++i) {
                std::string request = test::readHttpMessage(fd);
                if (request.empty()) return;
                seen.push_back(request);
                bool last = seen.size() == 2;
                sendText(fd, std::string("HTTP/1.1 200 OK\r\nConnection: ") + (last ? "close" : "Keep-Alive") +
                                 "\r\nContent-Length: 0\r\n\r\n");
                if (last) return;
            }
        },
        2);
    ClientHome h(peer.port());
    HttpClient client;
    ASSERT_TRUE(client.Connect(h.route));
    for (int i = 0; i < 3; ++i) {
        Reply r = exchange(client, h.request);
        ASSERT_EQ(r.result, HttpOutcome::kDone) << i;
        EXPECT_EQ(std::filesystem::file_size(r.body), 0u);
        std::filesystem::remove(r.body);
    }
    // Two exchanges on the first connection, the third on a new one.
    EXPECT_EQ(peer.accepted(), 2);
    ASSERT_EQ(seen.size(), 3u);
    std::string sent;
    ASSERT_TRUE(h.request.toText(sent));
    EXPECT_EQ(seen[0], sent);
}

TEST(HttpClientReceive, RepliesThatCannotCompleteFailTheReceive) {
    struct Case {
        const char* name;
        std::string reply;
    } cases[] = {
        {"bad first byte", "XTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
        {"no length", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody"},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"},
        {"huge header", "HTTP/1.1 200 OK\r\nX: " + std::string(70000, 'x') + "\r\nContent-Length: 0\r\n\r\n"},
        {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this"},
    };
    for (const auto& c : cases) {
        LoopbackPeer peer([&](int fd) {
            test::readHttpMessage(fd);
            sendText(fd, c.reply);
        });
        ClientHome h(peer.port());
        HttpClient client;
        client.setReadTimeout(5);
        ASSERT_TRUE(client.Connect(h.route));
        Reply r = exchange(client, h.request);
        EXPECT_EQ(r.result, HttpOutcome::kReceiveFailed) << c.name;
        EXPECT_EQ(r.error, 0) << c.name;
        EXPECT_FALSE(client.isConnected()) << c.name; // no half-read reply stays on the connection
    }
}

TEST(HttpClientReceive, SilentPeerEndsAfterTheFirstByteTimeout) {
    std::atomic<bool> done{false};
    LoopbackPeer peer([&](int fd) {
        test::readHttpMessage(fd);
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    ClientHome h(peer.port());
    HttpClient client;
    client.setFirstByteTimeout(1);
    ASSERT_TRUE(client.Connect(h.route));
    Reply r = exchange(client, h.request);
    done = true;
    EXPECT_EQ(r.result, HttpOutcome::kReceiveFailed);
    EXPECT_EQ(r.error, 0);
}

TEST(HttpClientConnect, RefusedConnectShowsAsAFailedSend) {
    int port;
    {
        test::SilentListener closed;
        port = closed.port();
    }
    ClientHome h(port);
    HttpClient client;
    HttpOutcome refused = client.Connect(h.route);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error, 10061);
    Reply r = exchange(client, h.request);
    EXPECT_EQ(r.result, HttpOutcome::kSendFailed);
    EXPECT_EQ(r.error, 10061);
    HttpClient unknown;
    CenterRoute nowhere;
    nowhere.center = {false, "no-such-host.invalid", 80};
    HttpOutcome notFound = unknown.Connect(nowhere);
    EXPECT_FALSE(notFound);
    EXPECT_EQ(notFound.error, 11001);
}

// A request in pieces leaves without Nagle's wait for the center's delayed
// acknowledgement: no delay on the socket, and the pieces held together.
TEST(HttpClientSend, PiecesOfARequestAreCorkedOnANoDelaySocket) {
    LoopbackPeer peer([](int fd) {
        test::readHttpMessage(fd);
        sendText(fd, "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n");
    });
    ClientHome h(peer.port());
    HttpClient client;
    ASSERT_TRUE(client.Connect(h.route));
    int fd = test::socketConnectedTo(peer.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(test::tcpOption(fd, TCP_NODELAY), 1);
    int corkedWhileSending = -1;
    OutgoingMessage request;
    request.append("POST /putfile HTTP/1.1\r\nContent-Length: 7\r\n\r\n");
    request.appendProduced(4, [&](const ByteSink& sink) {
        corkedWhileSending = test::tcpOption(fd, TCP_CORK);
        return sink("body", 4);
    });
    request.append("end");
    std::string header;
    std::filesystem::path body;
    ASSERT_EQ(client.Write(request, header, body).phase, HttpOutcome::kDone);
    std::filesystem::remove(body);
    EXPECT_EQ(corkedWhileSending, 1);
    ASSERT_TRUE(client.isConnected());
    EXPECT_EQ(test::tcpOption(fd, TCP_CORK), 0); // released once the request is out
}

TEST(HttpClientSession, EventStopsTheSend) {
    EventGuard guard;
    std::atomic<bool> done{false};
    LoopbackPeer peer([&](int fd) {
        char buffer[4096];
        // Read slowly so the client sends block after block.
        while (!done && ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    ClientHome h(peer.port(), std::string(32 << 20, 'b'));
    HttpClient client;
    ASSERT_TRUE(client.Connect(h.route));
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        SessionEvent::set();
    });
    Reply r = exchange(client, h.request);
    stopper.join();
    done = true;
    EXPECT_EQ(r.result, HttpOutcome::kSendFailed);
    EXPECT_EQ(r.error, kSessionStopped);
}

TEST(HttpClientSession, EventStopsTheReceiveAndLeavesNoBodyFile) {
    EventGuard guard;
    std::atomic<bool> done{false};
    std::atomic<bool> replying{false};
    LoopbackPeer peer([&](int fd) {
        test::readHttpMessage(fd);
        sendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
        replying = true;
        while (!done) {
            sendText(fd, std::string(1024, 'x'));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    ClientHome h(peer.port());
    test::TempDir scratch;
    test::ScopedEnv tmp("TMPDIR", scratch.path().string());
    HttpClient client;
    ASSERT_TRUE(client.Connect(h.route));
    std::thread stopper([&] {
        test::waitFor([&] { return replying.load(); });
        SessionEvent::set();
    });
    Reply r = exchange(client, h.request);
    stopper.join();
    done = true;
    EXPECT_EQ(r.result, HttpOutcome::kReceiveFailed);
    EXPECT_EQ(r.error, kSessionStopped);
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path())); // the partial body is gone
}

// Sets the session event once the test's call is under way (underway holds,
// or after a moment when nothing shows it). The call's own limits are two
// minutes: ending long before them shows the event did it.
struct DelayedStop {
    static constexpr int kOwnLimit = 120;
    explicit DelayedStop(const std::function<bool()>& underway = {})
        : thread([underway] {
              if (underway)
                  test::waitFor(underway);
              else
                  std::this_thread::sleep_for(std::chrono::milliseconds(200));
              SessionEvent::set();
          }) {}
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::thread thread;
    ~DelayedStop() { thread.join(); }
    bool endedEarly() const { return std::chrono::steady_clock::now() - start < std::chrono::seconds(kOwnLimit / 2); }
};

// One exchange with a peer that goes silent, after reading the request or
// without reading at all, while the session event is set.
Reply stopWhileThePeerIsSilent(bool readsRequest, const std::string& body) {
    std::atomic<bool> done{false};
    std::atomic<bool> requestRead{false};
    LoopbackPeer peer([&](int fd) {
        if (readsRequest) test::readHttpMessage(fd);
        requestRead = readsRequest;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    ClientHome h(peer.port(), body);
    HttpClient client;
    client.setFirstByteTimeout(DelayedStop::kOwnLimit);
    client.setConnectTimeout(DelayedStop::kOwnLimit); // also the send time-out
    EXPECT_TRUE(client.Connect(h.route));
    Reply r;
    {
        // A peer that reads shows when the request is out and the reply awaited.
        DelayedStop stop(readsRequest ? std::function<bool()>([&] { return requestRead.load(); }) : nullptr);
        r = exchange(client, h.request);
        EXPECT_TRUE(stop.endedEarly());
    }
    done = true;
    EXPECT_FALSE(client.isConnected());
    return r;
}

// A closing service must not wait out a silent center: every wait of an
// exchange ends on the session event, whatever its own limit.
TEST(HttpClientSession, EventEndsTheWaitsOfAnExchange) {
    EventGuard guard;
    Reply firstByte = stopWhileThePeerIsSilent(true, "<RequestAuthentication/>");
    EXPECT_EQ(firstByte.result, HttpOutcome::kReceiveFailed);
    EXPECT_EQ(firstByte.error, kSessionStopped);
    SessionEvent::reset();
    Reply fullSocket = stopWhileThePeerIsSilent(false, std::string(64 << 20, 'w'));
    EXPECT_EQ(fullSocket.result, HttpOutcome::kSendFailed);
    EXPECT_EQ(fullSocket.error, kSessionStopped);
}

TEST(HttpClientSession, EventEndsTheTlsHandshake) {
    EventGuard guard;
    test::SilentListener silent; // connects, never answers the handshake
    ScopedHome home;
    writeFile(home / "plterm.ini", "[terminfo]\ncenterurl=https://127.0.0.1:" + std::to_string(silent.port()) + "/\n");
    HttpClient client;
    client.setConnectTimeout(DelayedStop::kOwnLimit);
    HttpOutcome connected;
    {
        DelayedStop stop;
        connected = client.Connect(readCenterRoute().value());
        EXPECT_TRUE(stop.endedEarly());
    }
    EXPECT_FALSE(connected);
    EXPECT_EQ(connected.error, kSessionStopped);
}

TEST(HttpClientProgress, OwnPhaseIsReportedAndTheThreadRunsOnlyWhenAsked) {
    std::string payload(300000, 'p');
    auto serve = [&](int fd) {
        test::readHttpMessage(fd);
        sendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(payload.size()) + "\r\n\r\n");
        for (std::size_t i = 0; i < payload.size(); i += 10000) {
            sendText(fd, payload.substr(i, 10000));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    {
        LoopbackPeer peer(serve);
        ClientHome h(peer.port(), "body");
        RecordingSink sink;
        HttpClient client;
        client.setProgressDirection(HttpClient::kReceiving);
        client.startProgressThread(&sink, 0);
        ASSERT_TRUE(client.Connect(h.route));
        Reply r = exchange(client, h.request);
        ASSERT_EQ(r.result, HttpOutcome::kDone);
        std::filesystem::remove(r.body);
        EXPECT_TRUE(sink.sends.empty());
        ASSERT_EQ(sink.receives.size(), 1u); // only the final report
        EXPECT_EQ(sink.receives[0], std::make_pair(300000, 300000));
    }
    {
        LoopbackPeer peer(serve);
        ClientHome h(peer.port(), "body");
        RecordingSink sink;
        HttpClient client;
        client.setProgressDirection(HttpClient::kReceiving);
        client.startProgressThread(&sink, 5);
        ASSERT_TRUE(client.Connect(h.route));
        Reply r = exchange(client, h.request);
        ASSERT_EQ(r.result, HttpOutcome::kDone);
        std::filesystem::remove(r.body);
        std::lock_guard lock(sink.mutex);
        EXPECT_GT(sink.receives.size(), 1u);
        for (auto [total, received] : sink.receives) EXPECT_LE(received, total);
        EXPECT_TRUE(sink.sends.empty());
    }
}
