#pragma once
// TLS over sockets we connected ourselves. Every connection reads its socket
// through a channel of our own that waits at most the connection's read
// time-out (60 s until set) before each read, so a silent peer ends a TLS
// call with a failure of kSocketTimeoutMarker (10000).

#include <memory>
#include <openssl/ssl.h>
#include <string>

#include "centerlink/SocketError.h"

namespace plx {

struct SslCtxDeleter {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslDeleter {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxDeleter>;
using SslPtr = std::unique_ptr<SSL, SslDeleter>;

inline constexpr int kDefaultTlsReadTimeout = 60;

// Contexts for the center link: every cipher suite but the anonymous and
// null ones, the library's interoperability work-arounds, and a security
// level low enough for the terminal's 1024-bit key. Throw on failure.
SslCtxPtr makeClientContext();
SslCtxPtr makeServerContext();

// PEM files; false when a file cannot be loaded (or, for the key, does not
// match the certificate).
bool loadCertificate(SSL_CTX* ctx, const std::string& certFile);
bool loadPrivateKey(SSL_CTX* ctx, const std::string& keyFile);

// A connection over fd (not owned) through the time-out channel.
SslPtr newTlsConnection(SSL_CTX* ctx, int fd);
void setReadTimeout(SSL* ssl, int seconds);
int readTimeout(SSL* ssl);

// The library's read, write and handshakes: the bytes (1 for a handshake),
// or a failure with the socket's error, 0 when no socket call failed. A read
// that ends on the peer's close fails too.
SocketResult tlsReadWithTimeout(SSL* ssl, void* buffer, int size, int seconds);
SocketResult tlsWriteWithTimeout(SSL* ssl, const void* data, int length, int seconds);
SocketResult tlsConnectWithTimeout(SSL* ssl, int seconds);
SocketResult tlsAcceptWithTimeout(SSL* ssl, int seconds);

} // namespace plx
