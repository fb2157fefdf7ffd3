#pragma once
// The terminal's HTTP(S) client towards the center: connects directly,
// through a proxy or a proxy tunnel, optionally with TLS and the terminal's
// certificate; streams one request per Write as it is produced and takes
// the reply body in as it arrives. One object serves one conversation.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "centerlink/Connection.h"
#include "centerlink/HttpReceiver.h"
#include "centerlink/TransferProgressSink.h"
#include "common/OutgoingMessage.h"
#include "common/TermInfo.h"

namespace plx {

// How a Connect or a Write ended: done, or the phase that failed and its
// code. A connect that fails is a failed send: nothing went out.
struct [[nodiscard]] HttpOutcome {
    enum Phase { kDone, kSendFailed, kReceiveFailed };
    Phase phase = kDone;
    // 0, kSessionStopped (-100), or a Winsock error of 10000 or more.
    int error = 0;
    // The system error when the reply came but its body could not be kept
    // (a full temporary folder); else 0.
    int replyFileError = 0;
    // A send that failed because the request's content could not be
    // produced (its file unreadable): the producer's system error (0: none).
    std::optional<int> producerError = std::nullopt;
    explicit operator bool() const { return phase == kDone; }
};

class HttpClient {
public:
    enum Direction { kNoProgress = 0, kSending = 1, kReceiving = 2 };

    HttpClient() = default;
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The phase whose progress the owner wants reported.
    void setProgressDirection(Direction direction) { progressDirection_ = direction; }
    void setReadTimeout(int seconds) { readTimeout_ = seconds; }
    void setConnectTimeout(int seconds) { connectTimeout_ = seconds; }
    void setFirstByteTimeout(int seconds) { firstByteTimeout_ = seconds; }
    int firstByteTimeout() const { return firstByteTimeout_; }

    // Runs a progress thread when the notice interval (ms) is above 0.
    void startProgressThread(TransferProgressSink* sink, int intervalMs);

    // Connects as route says: to the proxy or the center, through a proxy
    // tunnel and over TLS when the center is https. Empty certificate and
    // key paths: no client certificate.
    HttpOutcome Connect(const CenterRoute& route, const std::string& certFile = {}, const std::string& keyFile = {});
    bool Disconnect();
    // Sends the request as it is produced and receives the reply: done with
    // the reply's header text and body file (the caller deletes it), else the
    // failed phase. Connects again first when the connection was closed.
    // With a reader the reply body goes to it as it arrives, and bodyOut is
    // the file it gives.
    HttpOutcome Write(const OutgoingMessage& request, std::string& headerOut, std::filesystem::path& bodyOut,
                      BodyReader* reader = nullptr);

    bool isConnected() const { return connection_.isOpen(); }

private:
    HttpOutcome openSocket(const std::string& host, int port);
    HttpOutcome openTunnel();
    HttpOutcome startTls();
    // The proxy's status code, 0 when no answer came (error: the read's).
    struct ProxyAnswer {
        int status = 0;
        int error = 0;
    };
    ProxyAnswer readProxyAnswer();
    // Opens the connection the kept route and files say.
    HttpOutcome open();
    HttpOutcome sendRequest(const OutgoingMessage& request);
    HttpOutcome receiveReply(ReceivedMessage& reply, BodyReader* reader);
    static HttpOutcome failed(HttpOutcome::Phase phase, int error);
    void progressLoop(int intervalMs);
    std::int32_t elapsedMs() const;

    Connection connection_;
    CenterRoute route_;
    std::string certFile_;
    std::string keyFile_;

    int readTimeout_ = 180;
    int connectTimeout_ = 30;
    int firstByteTimeout_ = 0;
    std::atomic<int> progressDirection_{kNoProgress};

    // Progress counters, read by the progress thread.
    std::atomic<int> progressMode_{kNoProgress};
    std::atomic<std::int64_t> totalBytes_{0};
    std::atomic<std::int64_t> doneBytes_{0};
    std::atomic<std::int64_t> recvBytes_{0};
    std::atomic<std::int64_t> startTick_{0};

    TransferProgressSink* sink_ = nullptr;
    std::thread progressThread_;
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopProgress_ = false;
};

} // namespace plx
