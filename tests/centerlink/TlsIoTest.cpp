#include "centerlink/TlsIo.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <thread>

#include "centerlink/Connection.h"
#include "centerlink/SocketError.h"
#include "centerlink/SocketIo.h"
#include "tests/TestSupport.h"
#include "tests/centerlink/LoopbackPeer.h"
#include "tests/centerlink/TestCertificates.h"

using namespace plx;

namespace {

// A TLS server peer with a 1024-bit certificate running script after the handshake.
class TlsPeer {
public:
    explicit TlsPeer(std::function<void(SSL*)> script)
        : files_(test::makeSelfSignedCertificate(dir_.path())), peer_([this, script = std::move(script)](int fd) {
              SslCtxPtr ctx = makeServerContext();
              if (!loadCertificate(ctx.get(), files_.cert) || !loadPrivateKey(ctx.get(), files_.key)) return;
              SslPtr ssl = newTlsConnection(ctx.get(), fd);
              if (!tlsAcceptWithTimeout(ssl.get(), 5).ok()) return;
              script(ssl.get());
              SSL_shutdown(ssl.get());
          }) {}
    int port() const { return peer_.port(); }

private:
    test::TempDir dir_;
    test::CertificateFiles files_;
    test::LoopbackPeer peer_;
};

Connection connectTls(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!connectWithTimeout(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr, 5).ok()) return {};
    SslCtxPtr ctx = makeClientContext();
    SslPtr ssl = newTlsConnection(ctx.get(), fd.get());
    EXPECT_EQ(readTimeout(ssl.get()), kDefaultTlsReadTimeout);
    if (tlsConnectWithTimeout(ssl.get(), 5).count != 1) return {};
    Connection c(std::move(fd));
    c.attachTls(std::move(ctx), std::move(ssl));
    return c;
}

} // namespace

TEST(TlsIo, SmallReadsOfOneLargeRecordNeverWait) {
    std::string record(16000, 'r');
    TlsPeer peer([&](SSL* ssl) {
        (void)tlsWriteWithTimeout(ssl, record.data(), static_cast<int>(record.size()), 5);
        char c;
        (void)tlsReadWithTimeout(ssl, &c, 1, 10); // keep the connection until the client is done
    });
    Connection c = connectTls(peer.port());
    ASSERT_TRUE(c.isOpen());
    std::string got;
    char buffer[100];
    while (got.size() < record.size()) {
        // Bytes already decrypted inside the TLS object must not wait for
        // the socket: each read has only a second.
        SocketResult read = c.read(buffer, sizeof buffer, 1);
        ASSERT_GT(read.count, 0) << "after " << got.size() << " bytes, error " << read.error;
        got.append(buffer, static_cast<std::size_t>(read.count));
    }
    EXPECT_EQ(got, record);
    (void)c.writeAll("k", 1, 5);
}

TEST(TlsIo, SilentPeerEndsTheReadWithTheTimeoutMarker) {
    std::atomic<bool> done{false};
    TlsPeer peer([&](SSL*) {
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    Connection c = connectTls(peer.port());
    ASSERT_TRUE(c.isOpen());
    char buffer[10];
    SocketResult read = c.read(buffer, sizeof buffer, 1);
    EXPECT_LE(read.count, 0);
    EXPECT_EQ(read.error, kSocketTimeoutMarker);
    done = true;
}

TEST(TlsIo, ContextsAcceptTheTerminalsKeySize) {
    test::TempDir dir;
    auto small = test::makeSelfSignedCertificate(dir.path(), 1024);
    SslCtxPtr ctx = makeClientContext();
    EXPECT_TRUE(loadCertificate(ctx.get(), small.cert));
    EXPECT_TRUE(loadPrivateKey(ctx.get(), small.key));
    test::TempDir other;
    auto foreign = test::makeSelfSignedCertificate(other.path(), 1024);
    SslCtxPtr mismatched = makeClientContext();
    ASSERT_TRUE(loadCertificate(mismatched.get(), small.cert));
    EXPECT_FALSE(loadPrivateKey(mismatched.get(), foreign.key));
    EXPECT_FALSE(loadCertificate(mismatched.get(), dir / "missing.pem"));
}
