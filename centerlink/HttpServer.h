#pragma once
// The terminal's own HTTP(S) server for the center's gateway: listens on
// the terminal port, serves one connection at a time, reads up to three
// requests on it and streams back the reply that the handler gives. Until
// the handler says the peer authenticated, the connection (TLS handshake
// included) has one deadline, the tcp time-out from its accept, and the
// first reply is its last.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "centerlink/HttpReceiver.h"
#include "centerlink/TlsIo.h"
#include "common/OutgoingMessage.h"
#include "common/Settings.h"
#include "platform/UniqueFd.h"

namespace plx {

// What the server hands the gateway message handler.
struct GatewayRequest {
    int socket = -1;                   // the connection
    const std::filesystem::path* body; // the request body; null after a failure or at the end
    std::string header;                // the header block followed by "\n\n"; empty with a null body
    std::int32_t errorCode = 0;        // 0, -100 (stopped), or a Winsock error of 10000 or more
    std::int32_t level = 0;            // 0 request, 2 receive failure or end, 1 send failure
    // plconfig.ini as read for this exchange (once, for the server's
    // time-outs and the handler); null when it is missing or unreadable.
    std::shared_ptr<const Settings> settings = nullptr;
};

class GatewayHandler {
public:
    virtual ~GatewayHandler() = default;
    // A new connection was accepted: nothing of an earlier one carries over.
    virtual void beginConnection() = 0;
    // How the next request's body is taken in as it arrives (the handler
    // keeps the reader until the next call; the body file then is the one
    // the reader gives); null: into a file as it came.
    virtual BodyReader* requestReader() { return nullptr; }
    // The reply to a complete request, streamed; an empty message ends the
    // connection. The request's body file belongs to the handler.
    virtual OutgoingMessage respond(const GatewayRequest& request) = 0;
    // Whether a request of this connection authenticated its sender; asked
    // after each respond().
    virtual bool authenticated() const = 0;
    // The connection ended, after a failure or at its end (request: null
    // body, empty header, its error code and level).
    virtual void endConnection(const GatewayRequest& request) = 0;
};

class HttpServer {
public:
    // TLS when both files are given.
    HttpServer(int port, std::string certFile = {}, std::string keyFile = {});
    ~HttpServer(); // stops
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    void setHandler(GatewayHandler* handler);
    // Listening and accepting; false when already started or when the socket
    // or the TLS set-up (certificate, key) fails.
    bool start();
    // Ends the accept loop and the current connection and waits for both.
    bool stop();
    // The port actually listened on (useful with port 0).
    int port() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace plx
