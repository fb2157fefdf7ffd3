#include "centerlink/TlsIo.h"

#include <cerrno>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <stdexcept>
#include <sys/socket.h>

#include "centerlink/SocketError.h"
#include "centerlink/SocketIo.h"

namespace plx {

namespace {

constexpr const char* kCipherList = "ALL:!aNULL:!eNULL:@SECLEVEL=1";

// The library's calls cannot carry our error through: a failing read or
// write leaves it here, and the call that made it takes it at once.
struct Channel {
    int fd = -1;
    int readTimeout = kDefaultTlsReadTimeout;
    int error = 0;
};

int channelRead(BIO* bio, char* buffer, int size) {
    auto* ch = static_cast<Channel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (!ch || size <= 0) return 0;
    ch->error = 0;
    // 0 or less waits without limit, but a stop ends every wait.
    if (SocketResult ready = waitReadable(ch->fd, ch->readTimeout); !ready.ok()) {
        ch->error = ready.error;
        // Final: the library must not retry a read that timed out.
        if (ready.error == kSocketTimeoutMarker) errno = EINVAL;
        return -1;
    }
    ssize_t n;
    while ((n = ::recv(ch->fd, buffer, static_cast<std::size_t>(size), 0)) < 0 && errno == EINTR) {
    }
    if (n < 0) {
        int err = errno;
        ch->error = winsockFromErrno(err);
        if (err == EAGAIN || err == EWOULDBLOCK) BIO_set_retry_read(bio);
        return -1;
    }
    return static_cast<int>(n);
}

int channelWrite(BIO* bio, const char* data, int length) {
    auto* ch = static_cast<Channel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (!ch || length <= 0) return 0;
    // Waits for room itself (bounded by the send time-out, ended by a stop):
    // a failure here is final.
    SocketResult sent = sendBytes(ch->fd, data, static_cast<std::size_t>(length));
    if (!sent.ok()) ch->error = sent.error;
    return sent.ok() ? static_cast<int>(sent.count) : -1;
}

long channelCtrl(BIO* bio, int cmd, long, void*) {
    switch (cmd) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_GET_CLOSE: return BIO_get_shutdown(bio);
    case BIO_CTRL_SET_CLOSE: return 1;
    default: return 0;
    }
}

int channelCreate(BIO* bio) {
    BIO_set_data(bio, new Channel);
    BIO_set_init(bio, 1);
    return 1;
}

int channelDestroy(BIO* bio) {
    delete static_cast<Channel*>(BIO_get_data(bio));
    BIO_set_data(bio, nullptr);
    return 1;
}

BIO_METHOD* channelMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "plx socket channel");
        BIO_meth_set_read(m, channelRead);
        BIO_meth_set_write(m, channelWrite);
        BIO_meth_set_ctrl(m, channelCtrl);
        BIO_meth_set_create(m, channelCreate);
        BIO_meth_set_destroy(m, channelDestroy);
        return m;
    }();
    return method;
}

Channel* channelOf(SSL* ssl) {
    BIO* bio = SSL_get_rbio(ssl);
    return bio ? static_cast<Channel*>(BIO_get_data(bio)) : nullptr;
}

int noPassphrase(char*, int, int, void*) { return 0; }

SslCtxPtr makeContext(const SSL_METHOD* method) {
    SslCtxPtr ctx(SSL_CTX_new(method));
    if (!ctx) throw std::runtime_error("SSL_CTX_new failed");
    SSL_CTX_set_options(ctx.get(), SSL_OP_ALL);
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_VERSION);
    if (SSL_CTX_set_cipher_list(ctx.get(), kCipherList) != 1) throw std::runtime_error("no usable TLS cipher");
    SSL_CTX_set_default_passwd_cb(ctx.get(), noPassphrase);
    return ctx;
}

} // namespace

SslCtxPtr makeClientContext() { return makeContext(TLS_client_method()); }
SslCtxPtr makeServerContext() { return makeContext(TLS_server_method()); }

bool loadCertificate(SSL_CTX* ctx, const std::string& certFile) {
    ERR_clear_error();
    return SSL_CTX_use_certificate_file(ctx, certFile.c_str(), SSL_FILETYPE_PEM) == 1;
}

bool loadPrivateKey(SSL_CTX* ctx, const std::string& keyFile) {
    ERR_clear_error();
    if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) return false;
    // With a certificate loaded, the key must belong to it.
    return SSL_CTX_get0_certificate(ctx) == nullptr || SSL_CTX_check_private_key(ctx) == 1;
}

SslPtr newTlsConnection(SSL_CTX* ctx, int fd) {
    SslPtr ssl(SSL_new(ctx));
    if (!ssl) return nullptr;
    BIO* bio = BIO_new(channelMethod());
    if (!bio) return nullptr;
    static_cast<Channel*>(BIO_get_data(bio))->fd = fd;
    SSL_set_bio(ssl.get(), bio, bio);
    return ssl;
}

void setReadTimeout(SSL* ssl, int seconds) {
    if (Channel* ch = channelOf(ssl)) ch->readTimeout = seconds;
}

int readTimeout(SSL* ssl) {
    Channel* ch = channelOf(ssl);
    return ch ? ch->readTimeout : 0;
}

namespace {

// One library call with the read time-out set; fails with the error its
// channel met (0 when the failure was no socket's).
template <class Call>
SocketResult tlsCall(SSL* ssl, int seconds, Call call) {
    setReadTimeout(ssl, seconds);
    Channel* ch = channelOf(ssl);
    if (ch) ch->error = 0;
    ERR_clear_error();
    int n = call();
    int error = ch ? ch->error : 0;
    if (n > 0) return SocketResult::done(n);
    return SocketResult::failed(error);
}

} // namespace

SocketResult tlsReadWithTimeout(SSL* ssl, void* buffer, int size, int seconds) {
    return tlsCall(ssl, seconds, [&] { return SSL_read(ssl, buffer, size); });
}

SocketResult tlsWriteWithTimeout(SSL* ssl, const void* data, int length, int seconds) {
    return tlsCall(ssl, seconds, [&] { return SSL_write(ssl, data, length); });
}

SocketResult tlsConnectWithTimeout(SSL* ssl, int seconds) {
    return tlsCall(ssl, seconds, [&] { return SSL_connect(ssl); });
}

SocketResult tlsAcceptWithTimeout(SSL* ssl, int seconds) {
    return tlsCall(ssl, seconds, [&] { return SSL_accept(ssl); });
}

} // namespace plx
