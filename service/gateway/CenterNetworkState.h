#pragma once
// Private to the gateway message handler: the conversation record of the
// current connection and the steps that work on it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "api/ApiRecords.h"
#include "api/LogLayout.h"
#include "api/ResultCodes.h"
#include "api/TextLimits.h"
#include "centerlink/Conversation.h"
#include "centerlink/EntityReceiver.h"
#include "centerlink/HttpMessage.h"
#include "centerlink/ReceivedEntity.h"
#include "centerlink/SoapMessages.h"
#include "centerlink/SoapReader.h"
#include "common/CenterRefusal.h"
#include "common/CenterRegister.h"
#include "common/Settings.h"
#include "platform/UniqueFd.h"
#include "service/gateway/CenterNetwork.h"

namespace plx {

namespace gateway {

// Message kinds of the conversation, as the server sees them.
inline constexpr std::int32_t kAuthReceived = SessionLog::kAuthRequest;
inline constexpr std::int32_t kAuthAnswered = SessionLog::kAuthReply;
inline constexpr std::int32_t kFileReceived = SessionLog::kFileRequest;
inline constexpr std::int32_t kFileAnswered = SessionLog::kFileReply;
inline constexpr std::int32_t kReportReceived = SessionLog::kReportRequest;
inline constexpr std::int32_t kReportAnswered = SessionLog::kReportReply;
inline constexpr std::int32_t kLogged = SessionLog::kLogged;

// Transfer kinds: the center delivers (putfile) or fetches (getfile).
inline constexpr std::int32_t kDelivery = SessionLog::kCenterDelivery;
inline constexpr std::int32_t kFetch = SessionLog::kCenterFetch;

// Events of PLRecvRequest.
inline constexpr std::int32_t kFetchStarted = 1;
inline constexpr std::int32_t kFetchDone = 2;
inline constexpr std::int32_t kFetchFailed = 3;
inline constexpr std::int32_t kDeliveryStarted = 4;
inline constexpr std::int32_t kDeliveryDone = 5;
inline constexpr std::int32_t kDeliveryFailed = 6;

inline constexpr std::size_t kResendFlagLimit = 2;

// Why a request was refused: not sent and not logged.
inline constexpr const char* kKindAccessText = "ファイル管理ファイルのアクセス中にエラー発生";
inline constexpr const char* kServiceNoText = "業務番号不正";
inline constexpr const char* kNoFileText = "該当ファイルが存在しません";
inline constexpr const char* kReceiveFileText = "受信用ファイルの生成に失敗";
inline constexpr const char* kSessionText = "セッションエラー：cookie情報で特定できません";
inline constexpr const char* kRestoreText = "データが正しく復元できません";
inline constexpr const char* kPrepareText = "the body to send could not be prepared";

// A refusal carries the center result code to answer with; the step that
// catches it answers.
inline CenterRefusal refusal(std::int32_t code, std::string_view reason) { return CenterRefusal(code, reason); }

// One received request and what the intake learnt about it.
struct Intake {
    const GatewayRequest& request;
    const std::filesystem::path& message;     // the request with its Entity text taken out
    std::shared_ptr<const Settings> settings; // null when plconfig.ini is missing or unreadable
    HttpMessage http;
    const EntityOutcome& entity; // what became of the Entity text

    enum class Cookie { kMissing, kNoValue, kPresent };
    // The session value of the request's cookie: the text after its first "=".
    Cookie cookie(std::string& value) const;
    // What a reply's cookie header echoes (empty when none came).
    std::string echoedCookie() const;
    // Missing settings count as their defaults.
    bool noFilePermission() const { return !settings || settings->nofilePermission; }
};

// One session-log record; the transfer kind and the center file name come
// from the conversation.
struct SessionEntry {
    std::int16_t outcome = SessionLog::kAbnormalEnd;
    std::int32_t level = SessionLog::kLevelError;
    std::string start{};
    std::int32_t phase = 0;
    std::int32_t result = 0;
    std::int32_t detail = 0;
    std::string sessionId{};
    bool withFile = true;
    bool withKeys = true; // load number and record key
};

// Writes body as a SOAP message and wraps it into an HTTP reply; headerName
// ("Set-Cookie", "Cookie" or empty) carries kCookieName=cookieValue.
OutgoingMessage writeReply(const std::function<void(XmlWriter&)>& body, std::string_view headerName,
                           std::string_view cookieValue);

// The socket's pending error as its Winsock number: the detail of result
// code 1.
std::int32_t lastSocketError(int socket);

std::string limitText(const std::string& text, std::size_t maxBytes = kTextLimit);

// Where the connection's conversation stands.
enum class Stage {
    kNone,           // nothing to log: no conversation, or its record is written
    kAuthenticating, // an authentication being checked
    kAwaitingFile,   // the authentication accepted: its GetFile or PutFile may come
    kAwaitingReport, // the file message answered: its ReportStatus may come
    kFileRefused,    // the file message refused and logged: its ReportStatus may still come
    kReported,       // the ReportStatus answered: the connection's end logs the conversation
};

// The conversation record of one connection.
struct Telegram {
    std::string setDateText;
    std::string protocolFileName;
    std::string accessKey;
    std::string resendFlag;
    std::string dataFileName;
    int socket = 0;
    FileRec fileRec;
    TerminalRec terminalRec;
    std::string tempReceivePath;
    UniqueFd receiveFd; // the descriptor that made tempReceivePath
    std::string terminalId;
    std::string targetTerminalId;
    Stage stage = Stage::kNone;
    bool transferStarted = false;
    bool endReported = false;
    std::string startTime;
    std::string sessionId;
    std::int32_t phase = 0;
    std::int32_t resultCode = 0;
    std::int32_t recordLength = 0;
    std::string fileLoadNo;
    std::string fileRecordKey;
    std::int32_t transferKind = 0;
    std::int32_t compressFlag = 0;
    std::int32_t serviceNo = 0;
    std::string protocolVersion;
    std::int32_t recordNumber = 0;
    std::int32_t length = 0;
    std::string fileType;
    CenterRecord centerRecord;
};

} // namespace gateway

struct CenterNetwork::State : gateway::Telegram {
    explicit State(Client& client) : client(client) {}

    Client& client;
    bool authenticated = false; // an authentication of this connection was accepted
    // The reader of the request being received, and where its body went.
    std::unique_ptr<EntityReceiver> receiving;
    ReceivedEntity delivered;

    // Connection and request flow, authentication (CenterNetwork.cpp).
    void clear();
    BodyReader* requestReader();
    OutgoingMessage respond(const GatewayRequest& request);
    void endConnection(const GatewayRequest& request);
    void endOfExchange(std::int32_t errorCode, std::int32_t level);
    void closeOpenConversation();

    // Shared steps.
    void fire(std::int32_t eventCode);
    void copyLoggedValues();
    void perRequestReset();
    void writeSession(const gateway::SessionEntry& entry);
    SoapHeader ownHeader(std::string time, bool withSessionId = true) const;
    // The end of every refused request (entry: its outcome, level, start
    // and session id).
    OutgoingMessage refused(const gateway::Intake& in, std::int32_t code, gateway::SessionEntry entry,
                            const std::function<OutgoingMessage()>& reply);

    // File messages and the completion report (transfers part).
    OutgoingMessage putFile(const gateway::Intake& in, const SoapElement& method);
    OutgoingMessage getFile(const gateway::Intake& in, const SoapElement& method);
    OutgoingMessage reportStatus(const gateway::Intake& in, const SoapElement& method);

private:
    std::unique_ptr<EntityReceiver> newReceiver();
    EntityPlan planEntity(const EntityHead& head);
    OutgoingMessage serve(const GatewayRequest& request, const std::filesystem::path& message,
                          const EntityOutcome& entity);
    OutgoingMessage dispatch(gateway::Intake& in);
    OutgoingMessage intakeRefusal(const gateway::Intake& in, std::int32_t code, bool withFileRecord);

    OutgoingMessage authenticate(const gateway::Intake& in, const SoapElement& method);
    void startConversation(const gateway::Intake& in);
    bool readAuthentication(const SoapElement& method);
    void checkDataKind();
    void checkIdentity(bool passwordMatches) const;
    void checkDataFileName() const;
    std::string storedDataFileName() const;
    bool isDoubleDelivery(const Settings* settings) const;
    void pickStagedFile();
    void createReceiveEntry(const Settings* settings);
    OutgoingMessage doubleDeliveryReply();
    OutgoingMessage authRefusal(const gateway::Intake& in, std::int32_t code);
    OutgoingMessage acceptAuthentication();

    // A conversation whose record is still to be written.
    bool unlogged() const {
        return stage == gateway::Stage::kAuthenticating || stage == gateway::Stage::kAwaitingFile ||
               stage == gateway::Stage::kAwaitingReport || stage == gateway::Stage::kReported;
    }
    OutgoingMessage strayRequest(const gateway::Intake& in, std::string_view reply, std::int32_t methodPhase,
                                 std::int32_t code);
    bool cookieMissing(const gateway::Intake& in) const;
    bool cookieMatches(const gateway::Intake& in) const;
    OutgoingMessage methodReply(const gateway::Intake& in, std::string_view reply, std::int32_t code,
                                bool withSessionId = true);

    void storeDelivery(const gateway::Intake& in, const SoapElement& method);
    std::string deliveredDigest(const gateway::Intake& in, std::int32_t size, std::int32_t compress);
    OutgoingMessage putFileRefusal(const gateway::Intake& in, std::int32_t code);
    void lookUpDataKind();
    OutgoingMessage sendStagedFile(const gateway::Intake& in);
    OutgoingMessage getFileRefusal(const gateway::Intake& in, std::int32_t code);
    OutgoingMessage reportRefusal(const gateway::Intake& in, std::int32_t code);
};

} // namespace plx
