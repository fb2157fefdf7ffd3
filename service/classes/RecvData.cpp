// PLRecvData: the terminal-started receive. One call is one conversation
// with the center on "/getfile": RequestAuthentication, GetFile and
// ReportStatus, with the file stored in between.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

#include "api/ResultCodes.h"
#include "centerlink/CertificateRegistration.h"
#include "centerlink/HttpClient.h"
#include "centerlink/HttpMessage.h"
#include "centerlink/SessionControl.h"
#include "centerlink/SoapMessages.h"
#include "centerlink/SoapReader.h"
#include "common/CenterUrl.h"
#include "common/DateText.h"
#include "common/EntityExtraction.h"
#include "common/FileControl.h"
#include "common/GetFileStore.h"
#include "common/Gzip.h"
#include "common/IniLocks.h"
#include "common/LogBridge.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "common/TermInfo.h"
#include "platform/Numbers.h"
#include "platform/TempFile.h"
#include "platform/Utf8.h"
#include "service/classes/TransferSupport.h"
#include "service/classes/Transport.h"

namespace plx {

namespace {

namespace fs = std::filesystem;

constexpr const char* kApiName = "PLRecvData";
constexpr const char* kTarget = "/getfile";
constexpr std::int32_t kTransferKind = 10;
constexpr std::size_t kTextLimit = 255;
constexpr std::size_t kNameLimit = 64;

// Message kinds: the request (first) and the reply (second) of each exchange.
constexpr std::int32_t kAuthRequest = 10;
constexpr std::int32_t kAuthReply = 11;
constexpr std::int32_t kFileRequest = 20;
constexpr std::int32_t kFileReply = 21;
constexpr std::int32_t kReportRequest = 30;
constexpr std::int32_t kReportReply = 31;

constexpr const char* kSessionAbortText = "セッション中止";
constexpr const char* kRegistFailedText = "端末の初期化に失敗したので処理を中止しました";
constexpr const char* kUnknownText = "エラー(原因不明)";
constexpr const char* kDuplicateText = "二重転送エラー";
constexpr const char* kNotAuthReplyText = "認証回答ではない電文でした";
constexpr const char* kNotFileReplyText = "ファイル応答ではない電文でした";
constexpr const char* kNotReportReplyText = "完了応答ではない電文でした";
constexpr const char* kNoEntityText = "データ本体が正常に抽出できません(データ本体\"Entity\"の抽出に失敗)";
constexpr const char* kMd5Text = "データ本体が正常に抽出できません(MD5ハッシュ値が異なります)";
constexpr const char* kNamingText = "ファイルの保存に失敗(保存ファイル名の決定でエラー)";

// Ends the call through the failure path; a plain struct so that the
// std::exception handlers around reply walking never swallow it.
struct Failure {
    std::int32_t code;
    std::int32_t detail;
    std::string text;
};

// Text values of a call hold up to 255 characters.
std::string limited(std::string text) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && ++characters > kTextLimit) {
            text.resize(i);
            break;
        }
    }
    return text;
}

std::int32_t numberOf(const std::string& text) { return clampToInt32(leadingDecimal(text)); }

int errorOf(const std::exception& e, int fallback) {
    if (auto* system = dynamic_cast<const std::system_error*>(&e)) return system->code().value();
    return fallback;
}

// The File element of a GetFile reply.
struct Delivery {
    std::int32_t size = -1;
    std::int32_t recordLength = -1;
    std::int32_t compressFlag = 0;
    std::string md5;
};

class Receive {
public:
    Receive(Transport& transport, const std::string& fileType, const std::string& directory, std::string& fileName,
            std::int32_t resendFlag, std::int32_t& fileSize)
        : transport_(transport), client_(transport.client()), fileType_(fileType), directory_(directory),
          fileName_(fileName), resendFlag_(resendFlag), fileSize_(fileSize) {
        argumentLine_ = (ArgumentLine() << fileType << directory << fileName << resendFlag).text();
    }

    ApiResult run(std::string start);

private:
    [[noreturn]] void fail(std::int32_t code, std::int32_t detail, std::string text, std::int32_t sessionResult,
                           std::int32_t messageKind);
    [[noreturn]] void failEarly(std::int32_t code, std::int32_t detail, std::string text);

    void checkArguments();
    void loadSetup();
    bool connect();
    void authenticate();
    void readAuthentication(const SoapElement& response);
    void checkDuplicate();
    void takeCookie(const std::string& replyHeader);
    void fetchFile();
    std::optional<Delivery> walkFileReply(const SoapElement& response);
    Delivery readDelivery(const SoapElement& file);
    void store(const Delivery& delivery);
    fs::path chooseTarget();
    void finishConversation();
    ApiResult succeed();
    ApiResult failed(const Failure& failure);
    ApiResult failedUnknown();

    void expectReply(const ExchangeReply& reply, std::int32_t requestKind, const char* notOpenedText);
    std::optional<SoapDocument> parseReply(ExchangeReply& reply);
    void report(const char* resultCode);
    SoapHeader requestHeader() const { return {getNowTimeText(), terminal_.TerminalID, terminal_.CenterID, "", true}; }
    // The definition's numbers once no file will come.
    void noFile(bool clearDefinition = false);
    void sessionRecord(std::int16_t type, std::int32_t level, std::int32_t detail);

    Transport& transport_;
    Client& client_;
    const std::string& fileType_;
    const std::string& directory_;
    std::string& fileName_;
    std::int32_t resendFlag_;
    std::int32_t& fileSize_;

    std::string start_;
    std::string argumentLine_;
    std::string sessionId_;
    std::optional<std::string> cookie_;
    std::string loadNo_;
    std::string recordKey_;
    std::string dataFileName_;
    bool duplicate_ = false;
    bool withSessionRecord_ = true;
    std::int32_t messageKind_ = kAuthRequest;
    std::int32_t sessionResult_ = 0;
    std::int32_t size_ = 0;
    std::int32_t recordLength_ = 0;

    std::unique_ptr<Settings> settings_;
    TerminalRec terminal_;
    FileRec file_;
    HttpClient http_;
    // The body decoded from the GetFile reply; gone on every exit.
    ScopedFileRemoval decoded_;
};

void Receive::fail(std::int32_t code, std::int32_t detail, std::string text, std::int32_t sessionResult,
                   std::int32_t messageKind) {
    sessionResult_ = sessionResult;
    messageKind_ = messageKind;
    throw Failure{code, detail, std::move(text)};
}

void Receive::failEarly(std::int32_t code, std::int32_t detail, std::string text) {
    withSessionRecord_ = false;
    throw Failure{code, detail, std::move(text)};
}

void Receive::noFile(bool clearDefinition) {
    file_.FileSize = -1;
    if (clearDefinition) {
        file_.CompressID = -1;
        file_.RecordLength = 0;
    }
}

// Runs one argument group; an unexpected failure inside it gets the group's text.
template <typename Check>
void checkGroup(std::int32_t position, const char* groupText, Check check) {
    try {
        check();
    } catch (const Failure&) {
        throw;
    } catch (const std::exception&) {
        throw Failure{kApiBadArgument, position, groupText};
    }
}

void Receive::checkArguments() {
    auto bad = [this](std::int32_t position, const char* text) { failEarly(kApiBadArgument, position, text); };
    checkGroup(1, "ファイル種別が不正です", [&] {
        if (utf8Length(fileType_) > 4) bad(1, "ファイル種別が4桁を超えました");
        if (fileType_.empty()) bad(1, "ファイル種別が未入力です");
    });
    checkGroup(2, "ディレクトリの指定が不正です", [&] {
        if (utf8Length(directory_) > 128) bad(2, "ディレクトリが128桁を超えました");
        if (directory_.empty()) bad(2, "ディレクトリが未入力です");
        if (!pathExists(directory_, true)) bad(2, "受信データ保存ディレクトリが存在しないか、読み取り専用属性です");
    });
    checkGroup(3, "ファイル名の指定が不正です", [&] {
        if (utf8Length(fileName_) > kNameLimit) bad(3, "ファイル名が64桁を超えました");
    });
    checkGroup(4, "再送フラグが不正です", [&] {
        if (resendFlag_ != 0 && resendFlag_ != 1) bad(4, "再送フラグが不正です");
    });
    std::error_code ec;
    if (!fileName_.empty() && fs::is_directory(joinPath(directory_, fileName_), ec))
        failEarly(kApiNoTempFile, EISDIR, "既存のディレクトリを指定しました");
}

void Receive::loadSetup() {
    try {
        settings_ = loadCheckedSettings();
    } catch (const ApiError& e) {
        failEarly(e.code, e.detail, e.message);
    }
    http_.setReadTimeout(settings_->tcpTimeout);
    http_.setConnectTimeout(settings_->connectTimeout);

    if (!client_.PLGetTermInfo(terminal_)) failEarly(kApiSystemError, errno, "端末管理ファイルからの情報取得に失敗");

    std::lock_guard lock(fileIniMutex());
    std::int32_t count = 0;
    if (!client_.PLGetFileInfo(fileType_, 0, "", "", 0, 0, count))
        failEarly(kApiSystemError, errno, "ファイル管理ファイルからのデータ取得に失敗");
    if (count != 1) failEarly(kApiSystemError, errno, "端末起動集信情報とファイル管理ファイルに不整合");
    if (!client_.PLGetFileInfoAt(0, file_))
        failEarly(kApiSystemError, errno, "ファイル管理ファイルからのデータ取得に失敗");
    file_.FileSize = 0;
    file_.RecordLength = 0;
}

// False when the certificate registration failed: the call ends without records.
bool Receive::connect() {
    // An empty center URL has no host: the connect fails and nothing is sent.
    std::string url = getCenterUrl();
    std::string host = connectHost(url);
    int port = connectPort(url);
    bool connected = false;
    if (isCenterHttps()) {
        int registered = sslRegist([this](TerminalRec& out) { return static_cast<bool>(client_.PLGetTermInfo(out)); });
        if (registered != 0) {
            transport_.triple().set(kApiCenterError, registered, kRegistFailedText);
            return false;
        }
        connected = http_.Connect(host, port, getCertFilePath(), getKeyFilePath());
    } else {
        connected = http_.Connect(host, port);
    }
    if (!connected) {
        noFile(true);
        fail(kApiCenterError, 1, "接続に失敗", 1, kAuthRequest);
    }
    http_.startProgressThread(&transport_);
    return true;
}

void Receive::expectReply(const ExchangeReply& reply, std::int32_t requestKind, const char* notOpenedText) {
    if (reply.outcome == ExchangeReply::kBodyNotOpened) fail(kApiCenterError, 1, notOpenedText, 99, requestKind);
    if (reply.outcome != ExchangeReply::kDone) {
        std::int32_t kind = reply.outcome == ExchangeReply::kSendFailed ? requestKind : requestKind + 1;
        fail(kApiCenterError, 1, missingReplyMessage(http_), 1, kind);
    }
}

// The parsed reply, or nullopt when it is no readable document; the reply
// file is gone either way.
std::optional<SoapDocument> Receive::parseReply(ExchangeReply& reply) {
    ScopedFileRemoval body = std::move(reply.body);
    try {
        return SoapDocument::parseFile(body.path());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void Receive::report(const char* resultCode) {
    sendResultReport(&http_, cookie_, kTarget, sessionId_, "ReportStatus", resultCode,
                     [this]() -> std::optional<TerminalRec> {
                         TerminalRec terminal;
                         if (client_.PLGetTermInfo(terminal)) return terminal;
                         return std::nullopt;
                     });
}

void Receive::authenticate() {
    AuthenticationRequest request{requestHeader(),
                                  terminal_.Password,
                                  terminal_.ProtocolVersion,
                                  std::to_string(file_.ServiceNo),
                                  file_.ProtocolFilename,
                                  file_.AccessKey,
                                  std::to_string(resendFlag_),
                                  "",
                                  "",
                                  ""};
    ExchangeReply reply;
    try {
        reply = runExchange(http_, kTarget, std::nullopt, settings_->authTimeout,
                            [&](XmlWriter& w) { writeRequestAuthentication(w, request); });
    } catch (const std::exception& e) {
        noFile();
        fail(kApiSystemError, errorOf(e, errno), "認証要求作成中にエラー（管理ファイルのデータ不足）", 99,
             kAuthRequest);
    }
    if (reply.outcome != ExchangeReply::kDone) noFile();
    expectReply(reply, kAuthRequest, "認証要求生成中にエラー発生");

    std::optional<SoapDocument> document = parseReply(reply);
    std::optional<SoapElement> response;
    try {
        if (document) response = document->method({"RequestAuthenticationResponse"});
        if (response) readAuthentication(*response);
    } catch (const std::exception&) {
        response.reset();
    }
    if (!response) {
        noFile();
        fail(kApiCenterError, 10, kNotAuthReplyText, 10, kAuthReply);
    }
    checkDuplicate();
    takeCookie(reply.header);
}

void Receive::readAuthentication(const SoapElement& response) {
    for (const SoapElement& child : response.children()) {
        std::string name = child.name();
        if (equalsIgnoreCase(name, "ResultCode")) {
            std::int32_t code = numberOf(child.text());
            if (code != 0) {
                noFile(true);
                fail(kApiCenterError, code, std::string(centerResultMessage(code)), code, kAuthReply);
            }
        } else if (equalsIgnoreCase(name, "Header")) {
            sessionId_ = limited(child.childText("SessionID"));
        } else if (equalsIgnoreCase(name, "FileRecord")) {
            loadNo_ = limited(child.childText("FileLoadNo"));
            recordKey_ = limited(child.childText("FileRecordKey"));
            dataFileName_ = limited(child.childText("DataFileName"));
        }
    }
}

void Receive::checkDuplicate() {
    // An empty pair names no delivery: treating it as seen would drop every
    // later delivery the center sends without numbers.
    if (settings_->duplicationPermission || resendFlag_ == 1 || (loadNo_.empty() && recordKey_.empty())) return;
    for (const GetFileEntry& entry : loadGetFileEntries())
        if (entry.fileLoadNo == loadNo_ && entry.fileRecordKey == recordKey_) duplicate_ = true;
}

void Receive::takeCookie(const std::string& replyHeader) {
    std::string value;
    switch (sessionCookie(replyHeader, value)) {
    case CookieStatus::kOk: cookie_ = value; return;
    case CookieStatus::kMissing:
        noFile();
        fail(kApiCenterError, 99, "認証回答後，cookie情報がとれません", 99, kAuthReply);
    case CookieStatus::kNoValue:
        noFile();
        fail(kApiCenterError, 99, "認証回答からCookie情報の取得に失敗", 99, kAuthReply);
    }
}

void Receive::fetchFile() {
    http_.setProgressDirection(HttpClient::kReceiving);
    ExchangeReply reply = runExchange(http_, kTarget, cookie_, settings_->fileTimeout,
                                      [&](XmlWriter& w) { writeGetFile(w, "0", requestHeader()); });
    http_.setProgressDirection(HttpClient::kNoProgress);
    if (reply.outcome == ExchangeReply::kSendFailed || reply.outcome == ExchangeReply::kReceiveFailed) noFile();
    expectReply(reply, kFileRequest, "ファイル受信生成中にエラー発生");

    // Only a body that was really extracted is ever used as the file.
    if (auto extracted = extractEntity(reply.body.path())) decoded_ = ScopedFileRemoval(*extracted);
    std::optional<SoapDocument> document = parseReply(reply);
    std::optional<SoapElement> response;
    std::optional<Delivery> delivery;
    try {
        if (document) response = document->method({"GetFileResponse"});
        if (response) delivery = walkFileReply(*response);
    } catch (const std::exception&) {
        response.reset();
    }
    if (!response) {
        sendReportStatus(kTarget, cookie_, 10, http_, terminal_);
        noFile();
        fail(kApiCenterError, 10, kNotFileReplyText, 10, kFileReply);
    }
    if (!delivery) fail(kApiNotReady, 0, "ファイル受信に失敗", 0, kReportReply);
    if (!duplicate_) store(*delivery);
}

// The File element, after a ResultCode of 0; nullopt when there is none.
std::optional<Delivery> Receive::walkFileReply(const SoapElement& response) {
    for (const SoapElement& child : response.children()) {
        std::string name = child.name();
        if (equalsIgnoreCase(name, "ResultCode")) {
            std::int32_t code = numberOf(limited(child.text()));
            if (code == 0) continue;
            noFile();
            if (code == 33) {
                report("99");
                fail(kApiCenterError, 33, "二重ファイル伝送", 33, kFileReply);
            }
            if (code == 32) {
                report("32");
                fail(kApiCenterError, 32, "ファイルなし", 32, kFileReply);
            }
            report("99");
            fail(kApiCenterError, 99, "電文\"ファイル受信\"がエラーコードで戻りました", code, kFileReply);
        }
        if (equalsIgnoreCase(name, "File")) {
            size_ = -1;
            recordLength_ = -1;
            return duplicate_ ? Delivery{} : readDelivery(child); // a duplicate is not read
        }
    }
    return std::nullopt;
}

Delivery Receive::readDelivery(const SoapElement& file) {
    Delivery delivery;
    for (const SoapElement& child : file.children()) {
        std::string name = child.name();
        std::string text = limited(child.text());
        if (text.empty()) continue; // a value that cannot be read is skipped
        if (equalsIgnoreCase(name, "Length"))
            delivery.size = numberOf(text);
        else if (equalsIgnoreCase(name, "RecordLength"))
            delivery.recordLength = numberOf(text);
        else if (equalsIgnoreCase(name, "MD5"))
            delivery.md5 = text;
        else if (equalsIgnoreCase(name, "CompressFlag"))
            delivery.compressFlag = numberOf(text);
    }
    size_ = delivery.size;
    recordLength_ = delivery.recordLength;
    return delivery;
}

void Receive::store(const Delivery& delivery) {
    if (delivery.md5.empty() || decoded_.path().empty()) {
        report("99");
        fail(kApiCenterError, 10, kNoEntityText, 10, kFileReply);
    }
    file_.FileSize = delivery.size;
    file_.RecordLength = delivery.recordLength;
    file_.CompressID = delivery.compressFlag;

    ScopedFileRemoval expanded;
    fs::path data = decoded_.path();
    bool readable = true;
    if (delivery.compressFlag == 1) {
        expanded = ScopedFileRemoval(fs::path(decoded_.path()) += ".dat");
        // The announced length bounds the expansion: no decompression bomb.
        readable = gunzipFile(decoded_.path(), expanded.path(), static_cast<std::uint64_t>(std::max(delivery.size, 0)));
        decoded_ = ScopedFileRemoval();
        data = expanded.path();
    }
    if (!readable || getFileMD5(data) != delivery.md5) {
        report("99");
        fail(0, 0, kMd5Text, 0, kFileReply);
    }

    fs::path target = chooseTarget();
    // Through a temporary file and rename(): a failed copy never leaves the
    // user's existing file half written.
    if (!copyFileStamped(data, target, false)) {
        int error = errno;
        report("99");
        fail(kApiNotReady, error, "受信データの保存に失敗", 99, kFileReply);
    }
    // An empty pair is not stored: it would only ever match other empty pairs.
    if (!loadNo_.empty() || !recordKey_.empty()) writeGetFileEntry({fileType_, loadNo_, recordKey_});
}

fs::path Receive::chooseTarget() {
    try {
        if (!fileName_.empty()) return joinPath(directory_, fileName_);
        if (isPlainFileName(dataFileName_)) {
            fileName_ = dataFileName_;
            return joinPath(directory_, dataFileName_);
        }
        fs::path created;
        try {
            created = createUniqueFile(directory_, kTempPrefix, 0666);
        } catch (const std::system_error& e) {
            report("99");
            fail(kApiBadArgument, e.code().value(), kNamingText, 99, kFileReply);
        }
        ::unlink(created.c_str());
        fileName_ = created.filename().string();
        return created;
    } catch (const std::exception&) {
        report("99");
        fail(0, 0, kNamingText, 99, kFileReply);
    }
}

void Receive::finishConversation() {
    ExchangeReply reply = runExchange(http_, kTarget, cookie_, settings_->reportTimeout,
                                      [&](XmlWriter& w) { writeReportStatus(w, "0", requestHeader()); });
    expectReply(reply, kReportRequest, "完了回答生成中にエラー発生");

    std::optional<SoapDocument> document = parseReply(reply);
    if (!document) fail(kApiCenterError, 10, kNotReportReplyText, 10, kReportReply);
    std::int32_t code = 0;
    try {
        auto response = document->method({"ReportStatusResponse"});
        if (!response) fail(kApiNoTempFile, 0, kNotReportReplyText, 10, kReportReply);
        code = numberOf(response->childText("ResultCode"));
    } catch (const std::exception&) {
        fail(kApiCenterError, 10, kNotReportReplyText, 10, kReportReply);
    }
    if (code != 0)
        fail(kApiCenterError, code, "ファイル受信後の完了回答が正常終了ではありませんでした", code, kReportReply);
}

void Receive::sessionRecord(std::int16_t type, std::int32_t level, std::int32_t detail) {
    if (!withSessionRecord_) return;
    callSessionAPI(type, level, start_, getNowStamp(), kTransferKind, messageKind_, sessionResult_, detail, sessionId_,
                   &terminal_, &file_, -1, dataFileName_, loadNo_, recordKey_);
}

ApiResult Receive::succeed() {
    ErrorTriple& triple = transport_.triple();
    if (duplicate_) {
        triple.set(kApiCenterError, 33, kDuplicateText);
        size_ = -1;
        recordLength_ = -1;
    } else {
        triple.clear();
    }
    ApiResult result = triple.get();
    callLogAPI(duplicate_ ? 1 : 0, result.code, result.detail, result.message, sessionId_, kApiName, argumentLine_);
    fileSize_ = size_;
    file_.FileSize = size_;
    file_.RecordLength = recordLength_;
    messageKind_ = 0;
    sessionResult_ = duplicate_ ? 33 : 0;
    sessionRecord(0, 0, 0);
    http_.Disconnect();
    return result;
}

ApiResult Receive::failed(const Failure& failure) {
    ErrorTriple& triple = transport_.triple();
    triple.set(failure.code == 0 ? kApiNoTempFile : failure.code, failure.detail, failure.text);
    if (sessionResult_ == 0) sessionResult_ = 99;
    ApiResult result = triple.get();
    result.failed = true;
    callLogAPI(1, result.code, result.detail, result.message, sessionId_, kApiName, argumentLine_);
    bool severe = messageKind_ > kFileReply;
    sessionRecord(severe ? 2 : 1, severe ? 1 : 2, sessionResult_ == 1 ? http_.lastError() : 0);
    return result;
}

ApiResult Receive::failedUnknown() {
    ErrorTriple& triple = transport_.triple();
    triple.set(kApiNoTempFile, 0, kUnknownText);
    ApiResult result = triple.get();
    result.failed = true;
    callLogAPI(1, result.code, result.detail, result.message, "", kApiName, argumentLine_);
    bool severe = messageKind_ >= kFileRequest;
    sessionRecord(severe ? 2 : 1, severe ? 1 : 2, sessionResult_ == 1 ? http_.lastError() : 0);
    return result;
}

ApiResult Receive::run(std::string start) {
    start_ = std::move(start);
    transport_.triple().clear();
    try {
        checkArguments();
        loadSetup();
        if (!connect()) return transport_.triple().get();
        authenticate();
        fetchFile();
        finishConversation();
        return succeed();
    } catch (const Failure& failure) {
        return failed(failure);
    } catch (...) {
        return failedUnknown();
    }
}

} // namespace

ApiResult Transport::PLRecvData(const std::string& FileType, const std::string& ClDataDirectory,
                                std::string& ClDataFilename, std::int32_t ResendFlag, std::int32_t& FileSize) {
    std::string start = getNowStamp();
    CountingSemaphore session(kSessionCount, kSessionSemaphoreName);
    if (!session.acquireUnlessStopped(1, kSessionWaitMs)) {
        triple_.set(kApiNotReady, 0, kSessionAbortText);
        return triple_.get();
    }
    return Receive(*this, FileType, ClDataDirectory, ClDataFilename, ResendFlag, FileSize).run(std::move(start));
}

} // namespace plx
