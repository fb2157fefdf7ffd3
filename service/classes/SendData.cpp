// PLSendData: one terminal-started send, three exchanges with the center
// on "/putfile": RequestAuthentication, PutFile, ReportStatus.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "api/ResultCodes.h"
#include "centerlink/CertificateRegistration.h"
#include "centerlink/HttpMessage.h"
#include "centerlink/SessionControl.h"
#include "centerlink/SoapMessages.h"
#include "centerlink/SoapReader.h"
#include "common/Base64.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/Gzip.h"
#include "common/IniLocks.h"
#include "common/LogBridge.h"
#include "common/Paths.h"
#include "common/TermInfo.h"
#include "platform/FdIo.h"
#include "platform/Numbers.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"
#include "service/classes/TransferSupport.h"
#include "service/classes/Transport.h"

namespace plx {

namespace {

constexpr const char* kApiName = "PLSendData";
constexpr const char* kTarget = "/putfile";
constexpr std::size_t kReplyTextLimit = 255;

// A failure of the send with its triple; the conversation's phase and result
// are in the state at the moment it is thrown.
struct SendFailure {
    std::int32_t code;
    std::int32_t detail;
    std::string message;
};

struct SendState {
    std::string start = getNowStamp();
    std::string argumentLine;
    TerminalRec terminal;
    FileRec definition;
    std::string sessionId;
    std::string loadNo;
    std::string recordKey;
    std::optional<std::string> cookie;
    std::int64_t fileSize = -1;
    std::int32_t phase = 10;
    std::int32_t sessionResult = 0;
    bool sessionRecordWanted = true;
};

[[noreturn]] void fail(std::int32_t code, std::int32_t detail, std::string message) {
    throw SendFailure{code, detail, std::move(message)};
}

// The source must be a plain file: a device or a pipe could fill the disk
// or hold a session count for ever.
bool isRegularFile(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool copyToTemp(const std::filesystem::path& source, const std::filesystem::path& target) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!out) return false;
    std::vector<char> block(1 << 16);
    for (;;) {
        ssize_t n = readSome(in.get(), block.data(), block.size());
        if (n < 0) return false;
        if (n == 0) break;
        if (!writeAll(out.get(), block.data(), static_cast<std::size_t>(n))) return false;
    }
    return ::close(out.release()) == 0;
}

std::int32_t resultCodeOf(const SoapElement& method) {
    return clampToInt32(leadingDecimal(method.childText("ResultCode")));
}

} // namespace

ApiResult Transport::PLSendData(const std::string& FileType, const std::string& ClDataDirectory,
                                const std::string& ClDataFilename) {
    SendState st;
    CountingSemaphore session(kSessionCount, kSessionSemaphoreName);
    if (!session.acquireUnlessStopped(1, kSessionWaitMs)) {
        triple_.set(kApiNotReady, 0, "セッション中止");
        return triple_.get();
    }
    triple_.clear();
    st.argumentLine = (ArgumentLine() << FileType << ClDataDirectory << ClDataFilename).text();

    HttpClient connection;
    auto readTerminal = [this](TerminalRec& t) { return !client_->PLGetTermInfo(t).failed; };
    auto reportPutFileFailure = [&] {
        sendResultReport(&connection, st.cookie, kTarget, st.sessionId, "PutFile", "99",
                         [&]() -> std::optional<TerminalRec> {
                             TerminalRec t;
                             if (!readTerminal(t)) return std::nullopt;
                             return t;
                         });
    };

    // A reply must have come back; otherwise the phase tells how far it got.
    auto expectReply = [&](const ExchangeReply& reply, std::int32_t requestPhase, const char* bodyNotOpenedText) {
        if (reply.outcome == ExchangeReply::kBodyNotOpened) {
            st.sessionResult = 99;
            fail(5, 1, bodyNotOpenedText);
        }
        if (reply.outcome != ExchangeReply::kDone) {
            st.sessionResult = 1;
            st.phase = reply.outcome == ExchangeReply::kSendFailed ? requestPhase : requestPhase + 1;
            fail(5, 1, missingReplyMessage(connection));
        }
        st.phase = requestPhase + 1;
    };

    try {
        // Arguments.
        st.sessionRecordWanted = false;
        if (utf8Length(FileType) > 4) fail(4, 1, "ファイル種別が4桁を超えました");
        if (FileType.empty()) fail(4, 1, "ファイル種別が未入力です");
        if (utf8Length(ClDataDirectory) > 128) fail(4, 2, "ディレクトリ指定が128桁を超えました");
        if (ClDataDirectory.empty()) fail(4, 2, "ディレクトリが未入力です");
        if (utf8Length(ClDataFilename) > 64) fail(4, 3, "ファイル名が64桁を超えました");
        if (ClDataFilename.empty()) fail(4, 3, "ファイル名が未入力です");
        std::filesystem::path source = joinPath(ClDataDirectory, ClDataFilename);
        if (!isRegularFile(source)) fail(3, 2, "指定されたファイルが存在しません");

        // Settings, terminal and data kind.
        std::unique_ptr<Settings> settings;
        try {
            settings = loadCheckedSettings();
        } catch (const ApiError& e) {
            st.sessionResult = 99;
            fail(e.code, e.detail, e.message);
        }
        connection.setReadTimeout(settings->tcpTimeout);
        connection.setConnectTimeout(settings->connectTimeout);
        if (!readTerminal(st.terminal)) {
            st.sessionResult = 99;
            fail(2, errno, "端末管理ファイルからの情報取得に失敗");
        }
        {
            NamedLock kinds(fileIniMutex());
            std::int32_t count = 0;
            if (client_->PLGetFileInfo(FileType, 0, "", "", 0, 0, count).failed) {
                st.sessionResult = 99;
                fail(2, errno, "ファイル管理ファイルからのデータ取得に失敗");
            }
            if (count != 1) {
                st.sessionResult = 99;
                fail(2, 0, "ファイル管理ファイル中に送信対象となるデータがありません");
            }
            st.sessionRecordWanted = true;
            if (client_->PLGetFileInfoAt(0, st.definition).failed) {
                st.sessionResult = 99;
                fail(2, errno, "ファイル管理ファイルからのデータ取得に失敗");
            }
        }
        if (st.definition.ProtocolFilename.empty()) {
            st.sessionRecordWanted = false;
            st.sessionResult = 30;
            fail(2, 0, "プロトコル上ファイル名不正");
        }
        if (st.definition.AccessKey.empty()) {
            st.sessionRecordWanted = false;
            st.sessionResult = 31;
            fail(2, 0, "ファイルアクセスキー不正");
        }

        // Connection.
        std::string host = connectHost(st.terminal.CenterURL);
        int port = connectPort(st.terminal.CenterURL);
        bool connected;
        if (isCenterHttps()) {
            int registered = sslRegist(readTerminal);
            if (registered != 0) {
                triple_.set(kApiCenterError, registered, "端末の初期化に失敗したので処理を中止しました");
                return triple_.get();
            }
            connected = connection.Connect(host, port, getCertFilePath(), getKeyFilePath());
        } else {
            connected = connection.Connect(host, port);
        }
        if (!connected) {
            st.definition.RecordLength = 0;
            st.definition.CompressID = -1;
            st.sessionResult = 1;
            fail(5, 1, "接続に失敗");
        }
        connection.startProgressThread(this);

        SoapHeader header{getNowTimeText(), st.terminal.TerminalID, st.terminal.CenterID, "", true};

        // Exchange 1: authentication.
        AuthenticationRequest auth;
        auth.header = header;
        auth.password = st.terminal.Password;
        auth.protocolVersion = st.terminal.ProtocolVersion;
        auth.serviceNo = std::to_string(st.definition.ServiceNo);
        auth.protocolFileName = st.definition.ProtocolFilename;
        auth.accessKey = st.definition.AccessKey;
        ExchangeReply reply;
        try {
            reply = runExchange(connection, kTarget, std::nullopt, settings->authTimeout,
                                [&](XmlWriter& w) { writeRequestAuthentication(w, auth); });
        } catch (const std::exception&) {
            st.sessionResult = 99;
            fail(2, errno, "認証要求作成中にエラー（管理ファイルのデータ不足）");
        }
        expectReply(reply, 10, "認証要求生成中にエラー発生");
        std::optional<SoapDocument> document;
        try {
            document = SoapDocument::parseFile(reply.body.path());
        } catch (const SoapParseError&) {
            st.sessionResult = 99;
            fail(1, errno, "電文解析のparseで失敗しました");
        }
        auto authReply = document->method({"RequestAuthenticationResponse"});
        if (!authReply) {
            st.sessionResult = 10;
            fail(5, 10, "認証回答ではない電文でした");
        }
        if (std::int32_t code = resultCodeOf(*authReply); code != 0) {
            st.definition.RecordLength = 0;
            st.definition.CompressID = -1;
            st.sessionResult = code;
            fail(5, code, std::string(centerResultMessage(code)));
        }
        if (auto h = authReply->child("Header"))
            st.sessionId = utf8Truncate(h->childText("SessionID"), kReplyTextLimit);
        if (auto r = authReply->child("FileRecord")) {
            st.loadNo = utf8Truncate(r->childText("FileLoadNo"), kReplyTextLimit);
            st.recordKey = utf8Truncate(r->childText("FileRecordKey"), kReplyTextLimit);
        }
        std::string cookieValue;
        switch (sessionCookie(reply.header, cookieValue)) {
        case CookieStatus::kMissing: st.sessionResult = 99; fail(5, 99, "認証回答後，cookie情報がとれません");
        case CookieStatus::kNoValue: st.sessionResult = 99; fail(5, 99, "認証回答からCookie情報の取得に失敗");
        case CookieStatus::kOk: break;
        }
        st.cookie = cookieValue;
        document.reset();

        // The data: a copy of the file, its digest, gzip when asked, Base64.
        ScopedFileRemoval copy(makeTempFile());
        if (copy.path().empty() || !copyToTemp(source, copy.path())) {
            reportPutFileFailure();
            st.sessionResult = 99;
            fail(5, 99, "一時ファイルにコピーできません");
        }
        std::int32_t size32 = 0;
        // The sizes of the protocol and the logs are 32-bit: a larger file is refused, never wrapped.
        if (!queryFileSize32(copy.path(), size32)) {
            reportPutFileFailure();
            st.sessionResult = 99;
            fail(5, 99, "ファイルから送信データを取得できません(指定ファイルを確認してください)");
        }
        st.fileSize = size32;
        st.definition.FileSize = size32;
        std::string md5 = getFileMD5(copy.path());
        bool compress = st.definition.CompressID == 1;
        ScopedFileRemoval packed;
        std::filesystem::path content = copy.path();
        ScopedFileRemoval entity(makeTempFile());
        bool prepared = !md5.empty() && !entity.path().empty();
        if (prepared && compress) {
            packed = ScopedFileRemoval(makeTempFile());
            prepared = !packed.path().empty() && gzipFile(copy.path(), packed.path());
            content = packed.path();
        }
        prepared = prepared && encodeFileBase64(content, entity.path());
        packed = ScopedFileRemoval();
        copy = ScopedFileRemoval();
        if (!prepared) {
            reportPutFileFailure();
            st.sessionResult = 99;
            fail(5, 99, "ファイルから送信データを取得できません(指定ファイルを確認してください)");
        }

        // Exchange 2: the file.
        std::int32_t recordLength = writtenRecordLength(st.definition.RecordLength);
        FileElement file{std::to_string(st.fileSize),
                         std::to_string(recordLength),
                         std::to_string(recordCount(st.fileSize, st.definition.RecordLength)),
                         "",
                         compress ? "1" : "0",
                         md5,
                         entity.path()};
        header.time = getNowTimeText();
        st.phase = 20;
        connection.setProgressDirection(HttpClient::kSending);
        reply = runExchange(connection, kTarget, st.cookie, settings->fileTimeout,
                            [&](XmlWriter& w) { writePutFile(w, "0", header, file); });
        connection.setProgressDirection(HttpClient::kNoProgress);
        entity = ScopedFileRemoval();
        expectReply(reply, 20, "ファイル送信生成中にエラー発生");
        document = SoapDocument::parseFile(reply.body.path()); // a broken reply is an unexpected failure
        auto body = document->root() ? document->root()->child("SOAP-ENV:Body") : std::nullopt;
        if (!body) {
            sendReportStatus(kTarget, st.cookie, 3, connection, st.terminal);
            st.sessionResult = 10;
            fail(3, 0, "ファイル応答ではない電文でした");
        }
        auto putReply = document->method({"PutFileResponse"});
        if (!putReply) {
            sendReportStatus(kTarget, st.cookie, 10, connection, st.terminal);
            st.sessionResult = 10;
            fail(5, 10, "ファイル応答ではない電文でした");
        }
        if (std::int32_t code = resultCodeOf(*putReply); code != 0) {
            st.sessionResult = code;
            fail(5, code, std::string(centerResultMessage(code)));
        }
        document.reset();

        // Exchange 3: the completion report.
        header.time = getNowTimeText();
        st.phase = 30;
        reply = runExchange(connection, kTarget, st.cookie, settings->reportTimeout,
                            [&](XmlWriter& w) { writeReportStatus(w, "0", header); });
        expectReply(reply, 30, "完了報告生成中にエラー発生");
        document = SoapDocument::parseFile(reply.body.path());
        body = document->root() ? document->root()->child("SOAP-ENV:Body") : std::nullopt;
        if (!body) {
            st.sessionResult = 10;
            fail(5, 10, "完了回答ではない電文でした");
        }
        auto reportReply = document->method({"ReportStatusResponse"});
        if (!reportReply) {
            st.sessionResult = 10;
            fail(5, 10, "完了回答のメソッドではない電文でした");
        }
        if (std::int32_t code = resultCodeOf(*reportReply); code != 0) {
            st.sessionResult = code;
            fail(5, code, "ファイル送信後の完了回答でエラー");
        }

        // Done.
        connection.Disconnect();
        triple_.clear();
        callLogAPI(0, 0, 0, "", st.sessionId, kApiName, st.argumentLine);
        callSessionAPI(0, 0, st.start, getNowStamp(), 20, 0, 0, 0, st.sessionId, &st.terminal, &st.definition,
                       st.fileSize, "", st.loadNo, st.recordKey);
        return ApiResult{};
    } catch (const SendFailure& f) {
        triple_.set(f.code == 0 ? kApiNoTempFile : f.code, f.detail, f.message);
        if (st.sessionResult == 0) st.sessionResult = 99;
        ApiResult r = triple_.get();
        r.failed = true;
        callLogAPI(st.phase <= 11 ? 1 : 2, r.code, r.detail, r.message, st.sessionId, kApiName, st.argumentLine);
        if (st.sessionRecordWanted) {
            bool early = st.phase <= 21;
            callSessionAPI(early ? 1 : 2, early ? 2 : 1, st.start, getNowStamp(), 20, st.phase, st.sessionResult,
                           st.sessionResult == 1 ? connection.lastError() : 0, st.sessionId, &st.terminal,
                           &st.definition, st.fileSize, "", st.loadNo, st.recordKey);
        }
        return r;
    } catch (...) {
        std::int32_t code = triple_.code();
        triple_.set(code == 0 ? kApiNoTempFile : code, triple_.detail(), "原因不明のエラー");
        ApiResult r = triple_.get();
        r.failed = true;
        callLogAPI(st.phase <= 11 ? 1 : 2, r.code, r.detail, r.message, st.sessionId, kApiName, st.argumentLine);
        bool early = st.phase < 20;
        callSessionAPI(early ? 1 : 2, early ? 2 : 1, st.start, getNowStamp(), 20, st.phase, st.sessionResult,
                       st.sessionResult == 1 ? connection.lastError() : 0, st.sessionId, &st.terminal, &st.definition,
                       st.fileSize, "", st.loadNo, st.recordKey);
        return r;
    }
}

} // namespace plx
