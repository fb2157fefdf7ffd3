#include "centerlink/Connection.h"

#include <algorithm>
#include <climits>
#include <sys/socket.h>

#include "centerlink/SessionControl.h"
#include "centerlink/SocketIo.h"

namespace plx {

Connection::Streamed Connection::stream(const OutgoingMessage& message, int seconds,
                                        const std::function<void(std::size_t)>& onBlock) {
    Streamed ended;
    bool sent = false;
    try {
        CorkScope cork(fd());
        sent = message.writeTo([&](const void* data, std::size_t size) {
            // Checked between blocks, so closing the service ends a long send.
            if (SessionEvent::isSet()) {
                ended.end = Streamed::kStopped;
                return false;
            }
            SocketResult written = writeAll(data, size, seconds);
            if (!written.ok()) {
                ended.error = written.error;
                return false;
            }
            if (onBlock) onBlock(size);
            return true;
        });
    } catch (const ProducerFailure& e) {
        ended.producerError = e.systemError();
        sent = false;
    } catch (const std::exception&) {
        sent = false;
    }
    if (!sent && ended.end == Streamed::kSent) ended.end = Streamed::kFailed;
    return ended;
}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::move(other.fd_);
        ctx_ = std::move(other.ctx_);
        ssl_ = std::move(other.ssl_);
    }
    return *this;
}

void Connection::attachTls(SslCtxPtr ctx, SslPtr ssl) {
    ssl_ = std::move(ssl);
    ctx_ = std::move(ctx);
}

SocketResult Connection::read(void* buffer, std::size_t size, int seconds) {
    if (!fd_) return SocketResult::failed(0);
    if (ssl_)
        return tlsReadWithTimeout(ssl_.get(), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), seconds);
    return receiveWithTimeout(fd_.get(), buffer, size, seconds);
}

SocketResult Connection::writeAll(const void* data, std::size_t size, int seconds) {
    if (!fd_) return SocketResult::failed(0);
    if (!ssl_) return sendAll(fd_.get(), data, size);
    auto* p = static_cast<const char*>(data);
    std::size_t left = size;
    while (left > 0) {
        int chunk = static_cast<int>(std::min<std::size_t>(left, INT_MAX));
        SocketResult sent = tlsWriteWithTimeout(ssl_.get(), p, chunk, seconds);
        if (!sent.ok()) return sent;
        p += sent.count;
        left -= static_cast<std::size_t>(sent.count);
    }
    return SocketResult::done(static_cast<ssize_t>(size));
}

void Connection::close() {
    if (ssl_) {
        if (fd_ && SSL_is_init_finished(ssl_.get())) {
            setReadTimeout(ssl_.get(), 1);
            SSL_shutdown(ssl_.get());
        }
        ssl_.reset();
    }
    ctx_.reset();
    if (fd_) {
        ::shutdown(fd_.get(), SHUT_RDWR);
        fd_.reset();
    }
}

} // namespace plx
