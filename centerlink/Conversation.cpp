#include "centerlink/Conversation.h"

#include <new>
#include <system_error>
#include <unistd.h>
#include <utility>

#include "api/ApiErrors.h"
#include "centerlink/HttpMessage.h"
#include "centerlink/SocketError.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/LogBridge.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr const char* kAuthNotBuiltText = "認証要求生成中にエラー発生";
constexpr const char* kAuthWriteText = "認証要求作成中にエラー（管理ファイルのデータ不足）";
constexpr StepFailure kNoCookie{kApiCenterError, kResultOther, "認証回答後，cookie情報がとれません", kResultOther};
constexpr StepFailure kNoCookieValue{kApiCenterError, kResultOther, "認証回答からCookie情報の取得に失敗", kResultOther};
constexpr int kReportWaitSeconds = 1;

// Resets the connection's progress direction however the exchange ends.
class ProgressFor {
public:
    ProgressFor(HttpClient& http, HttpClient::Direction direction) : http_(http) {
        http_.setProgressDirection(direction);
    }
    ~ProgressFor() { http_.setProgressDirection(HttpClient::kNoProgress); }
    ProgressFor(const ProgressFor&) = delete;
    ProgressFor& operator=(const ProgressFor&) = delete;

private:
    HttpClient& http_;
};

} // namespace

std::string replyText(const std::string& text) { return utf8TruncateCharacters(text, kReplyTextLimit); }

Conversation::Conversation(std::string target, SessionLog::TransferKind kind, bool withFile)
    : start_(getNowStamp()), target_(std::move(target)), kind_(kind), withFile_(withFile) {}

void Conversation::fail(const StepFailure& failure) {
    result_ = failure.result;
    throw PLException(failure.code, failure.detail, failure.message);
}

void Conversation::fail(const StepFailure& failure, std::int32_t phase) {
    phase_ = phase;
    fail(failure);
}

void Conversation::useSettings(const Settings& settings) {
    http_.setReadTimeout(settings.tcpTimeout);
    http_.setConnectTimeout(settings.connectTimeout);
    certificates_ = certificateFiles(settings);
}

const CenterRoute& Conversation::route() {
    if (!route_) route_ = readCenterRoute().value_or(CenterRoute{});
    return *route_;
}

HttpOutcome Conversation::noted(HttpOutcome outcome) {
    linkError_ = outcome ? 0 : outcome.error;
    return outcome;
}

HttpOutcome Conversation::connectTo(const std::string& certFile, const std::string& keyFile) {
    return noted(http_.Connect(route(), certFile, keyFile));
}

void Conversation::connectForTransfer(const CertificateRegistrar& registerCertificate,
                                      const StepFailure& notConnected) {
    // An empty center URL has no host: the connect fails and nothing is sent.
    bool tls = route().https();
    if (tls) registerCertificate(route());
    if (!connectTo(tls ? certificates_.cert : std::string(), tls ? certificates_.key : std::string())) {
        withoutFile();
        fail(notConnected, SessionLog::kAuthRequest);
    }
}

OutgoingMessage Conversation::buildRequest(const std::function<void(XmlWriter&)>& write) {
    OutgoingMessage body;
    XmlWriter writer;
    writer.open(body);
    write(writer);
    writer.close();

    HttpMessage message;
    if (cookie_) message.addHeader("Cookie", std::string(kCookieName) + "=" + *cookie_);
    message.setMethod("POST");
    message.setRequestTarget(target_, route());
    return message.request(std::move(body));
}

Conversation::Reply Conversation::exchange(const Request& request) {
    phase_ = request.phase;
    OutgoingMessage message;
    try {
        message = buildRequest(request.write);
    } catch (const std::bad_alloc&) {
        fail({kApiCenterError, 1, request.notBuiltText, kResultOther});
    }
    http_.setFirstByteTimeout(request.firstByteTimeout);
    Reply reply;
    fs::path bodyOut;
    HttpOutcome written;
    {
        ProgressFor progress(http_, request.progress);
        written = noted(http_.Write(message, reply.header, bodyOut, request.replyReader));
    }
    if (!written) {
        std::int32_t phase = written.phase == HttpOutcome::kSendFailed ? request.phase : request.phase + 1;
        // Only a reply that came has a file error: the reply is what failed.
        if (written.replyFileError != 0) {
            phase_ = phase;
            replyNotKept(written.replyFileError);
        }
        if (written.producerError && request.notProduced) {
            phase_ = phase;
            request.notProduced(*written.producerError);
        }
        std::string_view text = written.error == kSessionStopped ? "セッションが中止されました"
                                                                 : "タイムアウトなどにより処理が中断されました。";
        fail({kApiCenterError, 1, text, kResultCommunication}, phase);
    }
    reply.body = ScopedFileRemoval(bodyOut);
    phase_ = request.phase + 1;
    return reply;
}

void Conversation::replyNotKept(int systemError) { fail({kApiNotReady, systemError, kNotStoredText, kResultOther}); }

void Conversation::authenticate(AuthenticationRequest request, int firstByteTimeout,
                                const UnreadableReply& unreadable) {
    request.header = requestHeader();
    Reply reply;
    try {
        reply = exchange({SessionLog::kAuthRequest, firstByteTimeout, kAuthNotBuiltText,
                          [&](XmlWriter& w) { writeRequestAuthentication(w, request); }});
    } catch (const PLException&) {
        throw;
    } catch (const std::system_error& e) {
        fail({kApiSystemError, e.code().value(), kAuthWriteText, kResultOther});
    } catch (const std::exception&) {
        fail({kApiSystemError, 0, kAuthWriteText, kResultOther});
    }

    std::optional<SoapDocument> document;
    try {
        document.emplace(SoapDocument::parseFile(reply.body.path()));
    } catch (const SoapParseError& e) {
        fail(unreadable(e.systemError()));
    }
    reply.body = ScopedFileRemoval();
    std::optional<SoapElement> response;
    try {
        response = document->method({"RequestAuthenticationResponse"});
        if (response) readAuthentication(*response);
    } catch (const PLException&) {
        throw;
    } catch (const std::exception&) {
        response.reset();
    }
    if (!response) fail(kNotAuthenticationReply);
    takeCookie(reply.header);
}

void Conversation::readAuthentication(const SoapElement& response) {
    if (std::int32_t code = resultCodeOf(response); code != kResultOk) {
        withoutFile();
        fail(centerRefusal(code, centerResultMessage(code)));
    }
    if (auto header = response.child("Header")) sessionId_ = replyText(header->childText("SessionID"));
    if (auto record = response.child("FileRecord")) {
        loadNo_ = replyText(record->childText("FileLoadNo"));
        recordKey_ = replyText(record->childText("FileRecordKey"));
        dataFileName_ = replyText(record->childText("DataFileName"));
    }
}

void Conversation::takeCookie(const std::string& replyHeader) {
    auto cookie = HttpMessage(replyHeader).getCookie();
    if (!cookie) fail(kNoCookie);
    if (cookie->find('=') == std::string::npos) fail(kNoCookieValue);
    cookie_ = cookieSessionValue(*cookie);
}

void Conversation::postUnread(const std::function<void(XmlWriter&)>& write) {
    try {
        OutgoingMessage request = buildRequest(write);
        std::string header;
        fs::path reply;
        if (noted(http_.Write(request, header, reply))) ::unlink(reply.c_str());
    } catch (...) {
        // A report that cannot go out changes nothing of the failure it reports.
    }
}

void Conversation::sendReportStatus(std::int32_t resultCode) {
    if (!terminal_) return;
    SoapHeader header = requestHeader();
    http_.setFirstByteTimeout(kReportWaitSeconds);
    postUnread([&](XmlWriter& w) { writeReportStatus(w, std::to_string(resultCode), header); });
}

void Conversation::sendResultReport(std::string_view element, std::string_view resultCode) {
    if (!terminal_) return;
    SoapHeader header = requestHeader();
    header.sessionId = sessionId_;
    postUnread([&](XmlWriter& w) { writeResultMessage(w, std::string(element), std::string(resultCode), header); });
}

SoapHeader Conversation::requestHeader() const {
    return SoapHeader{getNowTimeText(), terminal_ ? terminal_->TerminalID : std::string(),
                      terminal_ ? terminal_->CenterID : std::string(), "", true};
}

std::int32_t Conversation::resultCodeOf(const SoapElement& response) {
    return leadingDecimal32(response.childText("ResultCode"));
}

StepFailure Conversation::centerRefusal(std::int32_t code, std::string_view message) {
    return StepFailure{kApiCenterError, code, message, code};
}

void Conversation::withoutFile() {
    file_.RecordLength = 0;
    file_.CompressID = -1;
}

void Conversation::writeSessionRecord(std::int16_t type, std::int32_t level) {
    std::string end = getNowStamp();
    callSessionAPI({.type = type,
                    .level = level,
                    .start = start_,
                    .end = end,
                    .transferKind = kind_,
                    .phase = phase_,
                    .resultCode = result_,
                    .detail = result_ == kResultCommunication ? linkError_ : 0,
                    .sessionId = sessionId_,
                    .terminal = terminal_ ? &*terminal_ : nullptr,
                    .file = withFile_ ? &file_ : nullptr,
                    .centerFileName = logsCenterFileName_ ? std::string_view(dataFileName_) : std::string_view(),
                    .loadNo = loadNo_,
                    .recordKey = recordKey_});
}

} // namespace plx
