#pragma once
// One terminal-started conversation with the center: the shape that
// PLSendData, PLRecvData and the certificate registration share. Its steps:
// connect (for a transfer, the terminal's certificate registered first when
// TLS applies), exchange a request for a reply, authenticate and keep the
// session cookie, report to the center, and leave one session-log record.
// A step that fails notes the session result and the message kind that
// record carries and throws the failure as a PLException; what one
// conversation adds to a failure (a report to the center, values it logs)
// is written in its own steps.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "api/ApiErrors.h"
#include "api/ApiRecords.h"
#include "api/LogLayout.h"
#include "api/ResultCodes.h"
#include "centerlink/HttpClient.h"
#include "centerlink/SoapMessages.h"
#include "centerlink/SoapReader.h"
#include "common/PLException.h"
#include "common/Settings.h"
#include "common/TermInfo.h"
#include "common/XmlWriter.h"
#include "platform/TempFile.h"

namespace plx {

// How a step ends the conversation: the triple its caller gets (code,
// detail, message) and the session result its record carries.
struct StepFailure {
    std::int32_t code;
    std::int32_t detail;
    std::string_view message;
    std::int32_t result;
};

// Texts of the center's reply fields are kept up to this many characters.
inline constexpr std::size_t kReplyTextLimit = 255;
// A reply field's text as the conversation keeps it.
std::string replyText(const std::string& text);

// Received data (a reply's body, a received file) that could not be stored.
inline constexpr const char* kNotStoredText = "受信データの保存に失敗";

// A reply that is not the authentication's answer.
inline constexpr StepFailure kNotAuthenticationReply{kApiCenterError, kResultBadMessage, "認証回答ではない電文でした",
                                                     kResultBadMessage};

class Conversation {
public:
    // target: the center's path ("/putfile", "/getfile", "/regist");
    // withFile: the session record carries the file record.
    Conversation(std::string target, SessionLog::TransferKind kind, bool withFile);
    virtual ~Conversation() = default;
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    // One request of the conversation: its message, written by write and
    // POSTed to the target (with the session cookie once there is one) as
    // it is produced.
    struct Request {
        std::int32_t phase; // the message kind of the request
        int firstByteTimeout;
        std::string_view notBuiltText; // the message when the request cannot be built
        std::function<void(XmlWriter&)> write;
        HttpClient::Direction progress = HttpClient::kNoProgress;
        BodyReader* replyReader = nullptr; // takes the reply's body as it arrives
        // The content could not be produced (its file unreadable): ends the
        // conversation, given the producer's system error (0: none); unset,
        // it fails as any send that did not go out.
        std::function<void(int systemError)> notProduced = nullptr;
    };
    struct Reply {
        std::string header;
        ScopedFileRemoval body;
    };

    std::int32_t phase() const { return phase_; }
    std::int32_t result() const { return result_; }
    const std::string& sessionId() const { return sessionId_; }

protected:
    // Ends the conversation: notes the session result and throws the triple.
    [[noreturn]] void fail(const StepFailure& failure);
    // The same at the given message kind.
    [[noreturn]] void fail(const StepFailure& failure, std::int32_t phase);

    // The read and connect time-outs of the settings, and the terminal's
    // certificate files in its temporary folder.
    void useSettings(const Settings& settings);
    // How the center is reached: as given, else plterm.ini's, read the
    // first time it is asked for and kept for the whole conversation.
    const CenterRoute& route();
    // Connects over the route, over TLS with the given files when the
    // center URL is https. Its outcome, also kept as linkError.
    HttpOutcome connectTo(const std::string& certFile, const std::string& keyFile);
    // Connects a transfer to the terminal's center. When TLS applies
    // registerCertificate(route()) runs first: what it throws goes on to
    // the caller and nothing else has happened. A connection
    // that fails fails with notConnected, the definition logged as without
    // a file (record length 0, compression -1).
    using CertificateRegistrar = std::function<void(const CenterRoute&)>;
    void connectForTransfer(const CertificateRegistrar& registerCertificate, const StepFailure& notConnected);

    // Sends the request and expects a reply. A request that cannot be
    // built (no memory) fails with 5/1, its text and result 99; no reply fails with
    // 5/1 and result 1, at the request's message kind when sending failed
    // and at the reply's when receiving did; a reply that came but could
    // not be kept ends in replyNotKept. The reply's message kind holds
    // afterwards. What write throws goes on to the caller. A request whose
    // content could not be produced ends in its notProduced.
    Reply exchange(const Request& request);
    // A reply's body could not be kept (a full temporary folder): fails with
    // 1, the system error and "受信データの保存に失敗", result 99.
    [[noreturn]] virtual void replyNotKept(int systemError);

    // How an authentication reply that is no document fails, given the
    // system error of a reply file that could not be read (else 0).
    using UnreadableReply = std::function<StepFailure(int systemError)>;
    // Exchange 1: the RequestAuthentication (written from request, with
    // the request header) and its reply. Keeps the session id, the load
    // number, the record key, the center's file name and the session
    // cookie. A reply that is no document fails with unreadable; one
    // without the response with 5/10; a refusal with 5 and the center's
    // code (the definition logged as without a file); a missing cookie
    // with 5/99. What the request's writing throws fails with 2 and
    // result 99.
    void authenticate(AuthenticationRequest request, int firstByteTimeout, const UnreadableReply& unreadable);

    // A ReportStatus with resultCode and an empty session id, waiting 1
    // second for an answer that is not read.
    void sendReportStatus(std::int32_t resultCode);
    // A message named element with resultCode and the session id; its
    // answer is not read.
    void sendResultReport(std::string_view element, std::string_view resultCode);

    // The Header of a request: now, the terminal's and the center's ids.
    SoapHeader requestHeader() const;
    // A reply's ResultCode as a decimal number (0 when missing).
    static std::int32_t resultCodeOf(const SoapElement& response);
    // A failure with the center's code as detail and result.
    static StepFailure centerRefusal(std::int32_t code, std::string_view message);

    // The session-log record as the conversation stands; the detail is
    // linkError when the result is 1.
    void writeSessionRecord(std::int16_t type, std::int32_t level);

    // The code of the center link's last connect or message that failed (0
    // once one succeeds), as its HttpOutcome gave it.
    int linkError() const { return linkError_; }

    HttpClient http_;
    std::string start_;
    std::int32_t phase_ = SessionLog::kAuthRequest;
    std::int32_t result_ = kResultOk;
    std::string sessionId_;
    std::string loadNo_;
    std::string recordKey_;
    std::string dataFileName_;
    std::optional<std::string> cookie_;
    std::optional<TerminalRec> terminal_; // once read
    std::optional<CenterRoute> route_;    // once read
    CertificateFiles certificates_;       // of the settings in use
    FileRec file_;                        // logged when withFile
    bool recorded_ = true;                // a failure leaves a session record
    bool logsCenterFileName_ = false;     // the record names the center's file

private:
    // The request of write's message.
    OutgoingMessage buildRequest(const std::function<void(XmlWriter&)>& write);
    void readAuthentication(const SoapElement& response);
    void takeCookie(const std::string& replyHeader);
    void postUnread(const std::function<void(XmlWriter&)>& write);
    // The definition as logged when no file moves.
    void withoutFile();
    // Keeps outcome's code as the link's error and gives it back.
    HttpOutcome noted(HttpOutcome outcome);

    std::string target_;
    SessionLog::TransferKind kind_;
    bool withFile_;
    int linkError_ = 0;
};

} // namespace plx
