#include "centerlink/SocketIo.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <thread>
#include <unistd.h>

#include "centerlink/SocketError.h"
#include "tests/centerlink/LoopbackPeer.h"

using namespace plx;
using test::LoopbackPeer;

namespace {

UniqueFd connectTo(int port, int seconds = 5) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!connectWithTimeout(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr, seconds).ok()) fd.reset();
    return fd;
}

int unusedPort() {
    test::SilentListener l; // bound, then closed with the object
    return l.port();
}

} // namespace

TEST(SocketIo, SilentPeerTimesOutAndTheNextCallWaitsAgain) {
    std::atomic<bool> release{false};
    LoopbackPeer peer([&](int fd) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        test::sendText(fd, "late");
    });
    UniqueFd fd = connectTo(peer.port());
    ASSERT_TRUE(fd);
    char buffer[16];
    SocketResult silent = receiveWithTimeout(fd.get(), buffer, sizeof buffer, 1);
    EXPECT_EQ(silent.count, -1);
    EXPECT_EQ(silent.error, kSocketTimeoutMarker);
    release = true;
    EXPECT_EQ(receiveWithTimeout(fd.get(), buffer, sizeof buffer, 5).count, 4);
}

TEST(SocketIo, NoLimitWaitsForDataAndCleanCloseGivesZero) {
    LoopbackPeer peer([](int fd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        test::sendText(fd, "x");
    });
    UniqueFd fd = connectTo(peer.port(), 0);
    ASSERT_TRUE(fd);
    char c;
    EXPECT_EQ(receiveWithTimeout(fd.get(), &c, 1, 0).count, 1); // longer than a second, no limit
    EXPECT_EQ(receiveWithTimeout(fd.get(), &c, 1, 5).count, 0); // the peer closed
}

TEST(SocketIo, ConnectFailuresCarryWinsockNumbers) {
    int port = unusedPort();
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SocketResult refused = connectWithTimeout(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr, 5);
    EXPECT_EQ(refused.count, -1);
    EXPECT_EQ(refused.error, 10061);
    EXPECT_EQ(recordedSocketError(refused.error), 10061);
    EXPECT_EQ(recordedSocketError(104), 0);
}

TEST(SocketIo, SendingToAGonePeerFailsWithoutKillingTheProcess) {
    LoopbackPeer peer([](int) {}); // closes at once
    UniqueFd fd = connectTo(peer.port());
    ASSERT_TRUE(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string block(1 << 20, 'x');
    SocketResult sent = SocketResult::done(0);
    for (int i = 0; i < 20 && sent.ok(); ++i) sent = sendAll(fd.get(), block.data(), block.size());
    EXPECT_FALSE(sent.ok());
    EXPECT_EQ(sent.error, 10054);
}
