// The gateway message handler: intake of every request, the authentication
// that opens a conversation, the file messages, the completion report and
// the end of an exchange.
#include "service/gateway/CenterNetwork.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <system_error>

#include "centerlink/SocketError.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/IniLocks.h"
#include "common/LogBridge.h"
#include "common/Paths.h"
#include "platform/IniFile.h"
#include "platform/Numbers.h"
#include "platform/TempFile.h"
#include "platform/Utf8.h"
#include "service/classes/TransferSupport.h"
#include "service/gateway/CenterNetworkState.h"

namespace plx {

namespace fs = std::filesystem;
using namespace gateway;

namespace gateway {

Intake::Cookie Intake::cookie(std::string& value) const {
    auto header = http.getCookie();
    if (!header) return Cookie::kMissing;
    auto eq = header->find('=');
    if (eq == std::string::npos) return Cookie::kNoValue;
    value = header->substr(eq + 1);
    return Cookie::kPresent;
}

std::string Intake::echoedCookie() const {
    std::string value;
    cookie(value);
    return value;
}

OutgoingMessage writeReply(const std::function<void(XmlWriter&)>& body, std::string_view headerName,
                           std::string_view cookieValue) {
    OutgoingMessage content;
    XmlWriter writer;
    writer.open(content);
    body(writer);
    writer.close();

    HttpMessage reply;
    if (!headerName.empty()) reply.addHeader(headerName, std::string(kCookieName) + "=" + std::string(cookieValue));
    return reply.response(std::move(content));
}

std::int32_t lastSocketError(int socket) {
    if (socket < 0) return 0;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return 0;
    return winsockFromErrno(error);
}

std::string limitText(const std::string& text, std::size_t maxBytes) { return utf8Truncate(text, maxBytes); }

} // namespace gateway

namespace {

bool contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

AuthenticationResponse authResponse(std::int32_t code, SoapHeader header) {
    AuthenticationResponse r;
    r.resultCode = std::to_string(code);
    r.header = std::move(header);
    return r;
}

} // namespace

CenterNetwork::CenterNetwork(std::shared_ptr<Client> client)
    : client_(std::move(client)), state_(std::make_unique<State>(*client_)) {}

CenterNetwork::~CenterNetwork() = default;

void CenterNetwork::beginConnection() {
    try {
        state_->closeOpenConversation();
    } catch (...) {
        // The new connection starts clean whatever the old one left.
    }
    state_->clear();
    state_->authenticated = false;
}

BodyReader* CenterNetwork::requestReader() { return state_->requestReader(); }

OutgoingMessage CenterNetwork::respond(const GatewayRequest& request) { return state_->respond(request); }

bool CenterNetwork::authenticated() const { return state_->authenticated; }

void CenterNetwork::endConnection(const GatewayRequest& request) { state_->endConnection(request); }

// ---- Connection and request flow ----

void CenterNetwork::State::clear() { static_cast<Telegram&>(*this) = Telegram{}; }

// The body's Entity goes, as it arrives, where planEntity says.
std::unique_ptr<EntityReceiver> CenterNetwork::State::newReceiver() {
    delivered.reset();
    return std::make_unique<EntityReceiver>([this](const EntityHead& head) { return planEntity(head); });
}

BodyReader* CenterNetwork::State::requestReader() {
    receiving = newReceiver();
    return receiving.get();
}

// Straight into the receive file of a delivery that awaits its PutFile,
// when the File values come ahead of the body; into a scratch file when
// they do not; nowhere (only checked) for any other request.
EntityPlan CenterNetwork::State::planEntity(const EntityHead& head) {
    delivered.reset();
    if (stage != Stage::kAwaitingFile || transferKind != kDelivery || !receiveFd) return {};
    return delivered.plan(head, [this] { return EntityTarget{receiveFd.get(), tempReceivePath}; });
}

void CenterNetwork::State::endConnection(const GatewayRequest& request) {
    receiving.reset();
    try {
        endOfExchange(request.errorCode, request.level);
    } catch (...) {
    }
}

OutgoingMessage CenterNetwork::State::respond(const GatewayRequest& request) {
    if (!request.body) { // no request after all: the end
        endConnection(request);
        return {};
    }
    // The request and whatever extraction made of it.
    const fs::path& body = *request.body;
    ScopedFileRemoval removeBody(body);
    std::unique_ptr<EntityReceiver> reader = std::move(receiving);
    try {
        if (!reader) {
            // A body that came as a file is taken in the same way now.
            reader = newReceiver();
            ScopedFileRemoval message(reader->receiveFile(body));
            if (message.path().empty()) return {};
            return serve(request, message.path(), reader->outcome());
        }
        return serve(request, body, reader->outcome());
    } catch (...) {
        // No entry may stay in progress once nobody answers for it.
        try {
            closeOpenConversation();
        } catch (...) {
        }
        return {};
    }
}

OutgoingMessage CenterNetwork::State::serve(const GatewayRequest& request, const fs::path& message,
                                            const EntityOutcome& entity) {
    Intake in{request, message, request.settings, HttpMessage(request.header), entity};
    bool failed = !in.settings || in.settings->apiLogFolder.empty() || in.settings->sessionLogFolder.empty();
    terminalRec = TerminalRec{};
    if (!client.PLGetTermInfo(terminalRec)) failed = true;
    bool checkApplication = !in.settings || in.settings->applicationCheck;
    if (checkApplication && client.GetAliveCount() <= 0) return intakeRefusal(in, kResultNoApplication, true);
    if (failed) return intakeRefusal(in, kResultOther, false);
    return dispatch(in);
}

OutgoingMessage CenterNetwork::State::dispatch(Intake& in) {
    std::optional<SoapDocument> doc;
    try {
        // Without extraction the whole body would be parsed: the size cap refuses it.
        doc.emplace(SoapDocument::parseFile(in.message));
    } catch (const std::exception&) {
        return intakeRefusal(in, kResultBadMessage, false);
    }
    auto method = doc->method({"RequestAuthentication", "GetFile", "PutFile", "ReportStatus"});
    if (!method) return intakeRefusal(in, kResultBadMessage, false); // "電文不正"
    std::string name = method->name();
    if (equalsIgnoreCase(name, "RequestAuthentication")) return authenticate(in, *method);
    if (equalsIgnoreCase(name, "GetFile")) return getFile(in, *method);
    if (equalsIgnoreCase(name, "PutFile")) return putFile(in, *method);
    return reportStatus(in, *method);
}

// 35, the early 99 and an unreadable message: whatever the method, answered
// as an authentication.
OutgoingMessage CenterNetwork::State::intakeRefusal(const Intake& in, std::int32_t code, bool withFileRecord) {
    closeOpenConversation();
    std::string now = getNowStamp();
    return refused(in, code, {.start = now, .withFile = false, .withKeys = false}, [&] {
        SoapHeader header = ownHeader(now);
        header.sessionId.clear();
        return writeReply(
            [&](XmlWriter& w) {
                if (withFileRecord)
                    writeRequestAuthenticationResponse(w, authResponse(code, header));
                else
                    writeResultMessage(w, "RequestAuthenticationResponse", std::to_string(code), header);
            },
            "", "");
    });
}

void CenterNetwork::State::closeOpenConversation() {
    if (phase > 0 && phase <= kReportAnswered && unlogged()) endOfExchange(0, 2);
}

void CenterNetwork::State::endOfExchange(std::int32_t errorCode, std::int32_t level) {
    if (phase > kReportAnswered || resultCode == kResultNoFile || phase <= 0) return;
    if (phase != kReportAnswered) copyLoggedValues();
    if (level == 2 && phase == kAuthAnswered) phase = kFileReceived;
    if (level == 2 && phase == kFileAnswered) phase = kReportReceived;

    bool normal = phase == kReportAnswered && level == 2;
    bool abnormal = !normal && ((transferKind == kDelivery && phase < kFileAnswered) ||
                                (transferKind == kFetch && phase < kReportAnswered));
    std::int16_t outcome = normal ? SessionLog::kNormalEnd : abnormal ? SessionLog::kAbnormalEnd : SessionLog::kWarning;

    if (transferStarted && !endReported) {
        if (transferKind == kDelivery)
            fire(normal ? kDeliveryDone : kDeliveryFailed);
        else
            fire(normal ? kFetchDone : kFetchFailed);
        endReported = true;
    }
    const std::string& section = centerRecord.sectionName;
    if (!normal && transferKind == kFetch) updateCenterStatus(section, kStatusWaiting);
    if (abnormal && transferKind == kDelivery && !section.empty()) {
        deleteCenterRecord(section);
        forceDeleteFile(tempReceivePath);
    }
    if (unlogged()) {
        writeSession({.outcome = outcome,
                      .level = normal     ? SessionLog::kLevelNormal
                               : abnormal ? SessionLog::kLevelError
                                          : SessionLog::kLevelWarning,
                      .start = startTime,
                      .phase = normal ? 0 : phase,
                      .result = normal ? 0 : 1,
                      .detail = normal ? 0 : errorCode,
                      .sessionId = sessionId});
    }
    if (phase == kReportAnswered) phase = kLogged;
}

// ---- Shared steps ----

void CenterNetwork::State::fire(std::int32_t eventCode) { client.innerPLRecvRequest(eventCode, fileType); }

void CenterNetwork::State::copyLoggedValues() {
    fileRec.RecordLength = recordLength;
    fileRec.FileSize = length;
    fileRec.ServiceNo = serviceNo;
    fileRec.CompressID = compressFlag;
    fileRec.ProtocolFilename = protocolFileName;
    fileRec.AccessKey = accessKey;
}

void CenterNetwork::State::perRequestReset() {
    recordLength = 0;
    length = 0;
    compressFlag = 0;
    transferKind = 0;
    socket = 0;
    dataFileName.clear();
    tempReceivePath.clear();
    receiveFd.reset();
    stage = Stage::kNone;
}

void CenterNetwork::State::writeSession(const SessionEntry& e) {
    std::string end = getNowStamp();
    callSessionAPI({.type = e.outcome,
                    .level = e.level,
                    .start = e.start,
                    .end = end,
                    .transferKind = transferKind,
                    .phase = e.phase,
                    .resultCode = e.result,
                    .detail = e.detail,
                    .sessionId = e.sessionId,
                    .terminal = &terminalRec,
                    .file = e.withFile ? &fileRec : nullptr,
                    .centerFileName = dataFileName,
                    .loadNo = e.withKeys ? std::string_view(fileLoadNo) : std::string_view(),
                    .recordKey = e.withKeys ? std::string_view(fileRecordKey) : std::string_view()});
    perRequestReset();
}

SoapHeader CenterNetwork::State::ownHeader(std::string time, bool withSessionId) const {
    return SoapHeader{std::move(time), terminalRec.TerminalID, terminalRec.CenterID, sessionId, withSessionId};
}

// The end of every refused request: its code kept, its session record (the
// socket's error as the detail of code 1), then its reply.
OutgoingMessage CenterNetwork::State::refused(const Intake& in, std::int32_t code, SessionEntry entry,
                                              const std::function<OutgoingMessage()>& reply) {
    resultCode = code;
    entry.phase = phase;
    entry.result = code;
    entry.detail = code == 1 ? lastSocketError(in.request.socket) : 0;
    writeSession(entry);
    return reply();
}

// ---- RequestAuthentication ----

OutgoingMessage CenterNetwork::State::authenticate(const Intake& in, const SoapElement& method) {
    startConversation(in);
    try {
        const std::string& target = in.http.receivedTarget();
        bool fetch = contains(target, "getfile");
        bool delivery = contains(target, "putfile");
        // Both are tested and the later match wins: a target naming both is a delivery.
        if (fetch) transferKind = kFetch;
        if (delivery) transferKind = kDelivery;
        if (!fetch && !delivery) throw refusal(kResultBadMessage, "要求URIの不正");
        bool passwordMatches = readAuthentication(method);
        checkDataKind();
        checkIdentity(passwordMatches);
        if (transferKind == kDelivery) checkDataFileName();
        if (isDoubleDelivery(in.settings.get())) return doubleDeliveryReply();
        if (transferKind == kFetch) pickStagedFile();
        // Accepted first (event 4, the reply); a receive file or entry that
        // cannot be made then refuses in its place.
        OutgoingMessage accepted = acceptAuthentication();
        if (transferKind == kDelivery) createReceiveEntry(in.settings.get());
        authenticated = true;
        return accepted;
    } catch (const CenterRefusal& refused) {
        return authRefusal(in, refused.result());
    }
}

// A new authentication ends whatever the connection had open.
void CenterNetwork::State::startConversation(const Intake& in) {
    closeOpenConversation();
    TerminalRec terminal = std::move(terminalRec);
    clear();
    terminalRec = std::move(terminal);
    phase = kAuthReceived;
    stage = Stage::kAuthenticating;
    socket = in.request.socket;
    resultCode = kResultOther;
    startTime = getNowStamp();
}

bool CenterNetwork::State::readAuthentication(const SoapElement& method) {
    bool passwordMatches = false;
    if (auto auth = method.child("Authenticate")) {
        if (auto password = auth->child("Password")) passwordMatches = password->text() == terminalRec.Password;
        protocolVersion = limitText(auth->childText("ProtocolVersion"));
        serviceNo = leadingDecimal32(auth->childText("ServiceNo"));
    }
    if (auto header = method.child("Header")) {
        terminalId = limitText(header->childText("TerminalID"));
        targetTerminalId = limitText(header->childText("TargetTerminalID"));
        sessionId = limitText(header->childText("SessionID"));
    }
    if (auto info = method.child("FileInfo")) {
        protocolFileName = limitText(info->childText("ProtocolFileName"));
        accessKey = limitText(info->childText("AccessKey"));
        resendFlag = limitText(info->childText("ResendFlag"), kResendFlagLimit);
    }
    if (auto record = method.child("FileRecord")) {
        fileLoadNo = limitText(record->childText("FileLoadNo"));
        fileRecordKey = limitText(record->childText("FileRecordKey"));
        dataFileName = limitText(record->childText("DataFileName"));
    }
    return passwordMatches;
}

// Narrowed step by step so the code tells which value is wrong.
void CenterNetwork::State::checkDataKind() {
    std::lock_guard lock(fileIniMutex());
    std::int32_t count = 0;
    auto search = [&](std::int32_t service, const std::string& key, std::int32_t notFound, const char* reason) {
        if (!client.PLGetFileInfo("", service, protocolFileName, key, 0, 0, count))
            throw refusal(kResultOther, kKindAccessText);
        if (count < 1) throw refusal(notFound, reason);
    };
    auto takeFirst = [&](FileRec& out) {
        if (!client.PLGetFileInfoAt(0, out)) throw refusal(kResultOther, kKindAccessText);
    };
    search(0, "", kResultProtocolFileName, "プロトコルファイル名なしエラー");
    fileRec = FileRec{};
    FileRec byName;
    takeFirst(byName);
    fileType = byName.FileType;
    search(0, accessKey, kResultAccessKey, "ファイルアクセスキー不正");
    search(serviceNo, accessKey, kResultServiceNo, kServiceNoText);
    takeFirst(fileRec);
    if (serviceNo != fileRec.ServiceNo) throw refusal(kResultServiceNo, kServiceNoText);
    fileType = fileRec.FileType;
}

void CenterNetwork::State::checkIdentity(bool passwordMatches) const {
    if (!passwordMatches) throw refusal(kResultPassword, "パスワード不正");
    if (terminalId != terminalRec.CenterID) throw refusal(kResultPeerTerminalId, "TerminalID不正");
    if (targetTerminalId != terminalRec.TerminalID) throw refusal(kResultOwnTerminalId, "TargetTerminalID不正");
}

// The name kept is the first 64 characters: that one must be a plain file
// name, as it names the application's file at pick-up.
void CenterNetwork::State::checkDataFileName() const {
    std::string kept = storedDataFileName();
    if (!kept.empty() && !isPlainFileName(kept, kFileNameLimit)) throw refusal(kResultBadMessage, "電文不正");
}

std::string CenterNetwork::State::storedDataFileName() const {
    return utf8TruncateCharacters(dataFileName, kFileNameLimit);
}

bool CenterNetwork::State::isDoubleDelivery(const Settings* settings) const {
    bool permitted = !settings || settings->duplicationPermission;
    if (permitted || transferKind != kDelivery || leadingDecimal32(resendFlag) != 0) return false;
    auto records = loadCenterRecords();
    return std::any_of(records.begin(), records.end(), [&](const CenterRecord& r) {
        return r.sendRecvFlag == kDirectionRecv && sectionKind(r.sectionName) == fileType &&
               r.fileLoadNo == fileLoadNo && r.fileRecordKey == fileRecordKey;
    });
}

// Chosen and marked under one hold of the register lock, so nobody changes
// the entry in between.
void CenterNetwork::State::pickStagedFile() {
    std::lock_guard lock(centerIniMutex());
    FileTime limit = getNowFileTime();
    startOfDayPlusDays(limit, 1);
    for (const CenterRecord& r : loadCenterRecords()) {
        std::error_code ec;
        if (r.sendRecvFlag != kDirectionSend || sectionKind(r.sectionName) != fileType || r.status != kStatusWaiting)
            continue;
        if (r.tempFilePath.empty() || !fs::exists(r.tempFilePath, ec) || r.expiryTime < limit) continue;
        centerRecord = r;
        centerRecord.status = kStatusInProgress;
        updateCenterStatus(r.sectionName, kStatusInProgress);
        return;
    }
    throw refusal(kResultNoFile, kNoFileText);
}

// Made before the application hears of the delivery, so the entry it looks
// for is there.
void CenterNetwork::State::createReceiveEntry(const Settings* settings) {
    std::string folder = settings ? settings->tempFolder : std::string();
    if (folder.empty()) throw refusal(kResultOther, kReceiveFileText);
    OpenTempFile file;
    try {
        file = OpenTempFile::create(folder, kTempPrefix);
    } catch (const std::system_error&) {
        throw refusal(kResultOther, kReceiveFileText);
    }
    CenterRecord r;
    r.sectionName = makeSectionName(fileType, file.path().string());
    r.svDataFilename = storedDataFileName();
    r.limitDays = 0;
    r.sendRecvFlag = kDirectionRecv;
    r.status = kStatusInProgress;
    r.clDataDirectory = folder;
    r.fileLoadNo = fileLoadNo;
    r.fileRecordKey = fileRecordKey;
    try {
        writeCenterRecord(r);
    } catch (const std::exception&) {
        throw refusal(kResultOther, kReceiveFileText);
    }
    // The delivery is written through the descriptor that made the file.
    receiveFd = file.takeFd();
    tempReceivePath = file.keep().string();
    centerRecord = r;
}

OutgoingMessage CenterNetwork::State::doubleDeliveryReply() {
    fire(kDeliveryStarted);
    fire(kDeliveryFailed);
    transferStarted = endReported = true;
    resultCode = kResultDoubleTransfer;
    SoapHeader header{getNowStamp(), terminalId, targetTerminalId, "", true};
    OutgoingMessage reply = writeReply(
        [&](XmlWriter& w) { writeRequestAuthenticationResponse(w, authResponse(kResultDoubleTransfer, header)); }, "",
        "");
    copyLoggedValues();
    fileRec.FileSize = 0;
    fileRec.RecordLength = 0;
    fileRec.CompressID = -1;
    writeSession({.start = startTime, .phase = phase, .result = kResultDoubleTransfer, .sessionId = sessionId});
    return reply;
}

OutgoingMessage CenterNetwork::State::authRefusal(const Intake& in, std::int32_t code) {
    if (transferKind == kFetch) {
        fire(kFetchStarted);
        fire(in.noFilePermission() && code == kResultNoFile ? kFetchDone : kFetchFailed);
    } else {
        fire(kDeliveryStarted);
        fire(kDeliveryFailed);
    }
    transferStarted = endReported = true;
    copyLoggedValues();
    fileRec.FileSize = 0;
    fileRec.RecordLength = 0;
    fileRec.CompressID = -1;
    return refused(in, code, {.start = startTime, .sessionId = sessionId}, [&] {
        SoapHeader header{getNowStamp(), terminalId, targetTerminalId, sessionId, true};
        return writeReply([&](XmlWriter& w) { writeRequestAuthenticationResponse(w, authResponse(code, header)); },
                          "Set-Cookie", getNowTimeText());
    });
}

OutgoingMessage CenterNetwork::State::acceptAuthentication() {
    transferStarted = true;
    fire(transferKind == kFetch ? kFetchStarted : kDeliveryStarted);
    setDateText = getNowTimeText();
    AuthenticationResponse accepted = authResponse(0, ownHeader(getNowTimeText(), false));
    OutgoingMessage reply =
        writeReply([&](XmlWriter& w) { writeRequestAuthenticationResponse(w, accepted); }, "Set-Cookie", setDateText);
    phase = kAuthAnswered;
    stage = Stage::kAwaitingFile;
    return reply;
}

} // namespace plx
