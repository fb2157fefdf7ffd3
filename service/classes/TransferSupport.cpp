#include "service/classes/TransferSupport.h"

#include <cerrno>

#include "centerlink/HttpMessage.h"
#include "centerlink/SoapMessages.h"
#include "centerlink/SocketError.h"
#include "common/FileControl.h"
#include "common/Paths.h"
#include "service/classes/ApiMethod.h"

namespace plx {

namespace {

void checkFolder(const std::string& folder, const char* unsetText, const char* unusableFormat) {
    if (folder.empty()) throw ApiError(kApiSystemError, 2, unsetText, true);
    if (!pathExists(folder, true)) {
        std::string text = unusableFormat;
        text.replace(text.find("%s"), 2, folder);
        throw ApiError(kApiSystemError, 2, text, true);
    }
}

} // namespace

std::unique_ptr<Settings> loadCheckedSettings() {
    auto settings = loadSettings();
    if (!settings) throw ApiError(kApiSystemError, 2, "設定管理ファイル(plconfig.ini)が見つかりません", true);
    checkFolder(settings->tempFolder, "一時ファイル保存フォルダが指定されていません",
                "一時ファイル保存フォルダ　\"%s\"　が存在しないか、読み取り専用属性です");
    checkFolder(settings->apiLogFolder, "ＡＰＩログファイル保存フォルダが指定されていません",
                "ＡＰＩログファイル保存フォルダ　\"%s\"　が存在しないか、読み取り専用属性です");
    checkFolder(settings->sessionLogFolder, "通信ログファイル保存フォルダが指定されてません",
                "通信ログファイル保存フォルダ　\"%s\"　が存在しないか、読み取り専用属性です");
    return settings;
}

ExchangeReply runExchange(HttpClient& client, const std::string& target, const std::optional<std::string>& cookieValue,
                          int firstByteTimeout, const std::function<void(XmlWriter&)>& write) {
    ExchangeReply reply;
    ScopedFileRemoval requestFile;
    {
        XmlWriter body;
        std::filesystem::path bodyPath = makeTempFile();
        if (bodyPath.empty() || !body.open(bodyPath)) {
            reply.bodyOpenErrno = errno;
            if (!bodyPath.empty()) ::unlink(bodyPath.c_str());
            reply.outcome = ExchangeReply::kBodyNotOpened;
            return reply;
        }
        write(body);
        body.close();

        HttpMessage request;
        if (cookieValue) request.addHeader("Cookie", std::string(kCookieName) + "=" + *cookieValue);
        request.setMethod("POST");
        request.setRequestTarget(target);
        request.setBodyFile(body.path());
        requestFile = ScopedFileRemoval(makeTempFile());
        if (requestFile.path().empty() || !request.writeRequest(requestFile.path())) {
            reply.outcome = ExchangeReply::kSendFailed;
            return reply;
        }
    } // the message body goes with its writer
    client.setFirstByteTimeout(firstByteTimeout);
    std::filesystem::path bodyOut;
    int result = client.Write(requestFile.path(), reply.header, bodyOut);
    if (result == HttpClient::kDone) {
        reply.outcome = ExchangeReply::kDone;
        reply.body = ScopedFileRemoval(bodyOut);
    } else {
        reply.outcome = result == HttpClient::kSendFailed ? ExchangeReply::kSendFailed : ExchangeReply::kReceiveFailed;
    }
    return reply;
}

std::string missingReplyMessage(const HttpClient& client) {
    return client.lastError() == kSessionStopped ? "セッションが中止されました"
                                                 : "タイムアウトなどにより処理が中断されました。";
}

CookieStatus sessionCookie(const std::string& replyHeader, std::string& value) {
    auto cookie = HttpMessage(replyHeader).getCookie();
    if (!cookie) return CookieStatus::kMissing;
    auto eq = cookie->find('=');
    if (eq == std::string::npos) return CookieStatus::kNoValue;
    value = cookie->substr(eq + 1);
    auto semicolon = value.find(';');
    if (semicolon != std::string::npos && semicolon > 0) value.resize(semicolon);
    return CookieStatus::kOk;
}

std::int32_t writtenRecordLength(std::int32_t recordLength) { return recordLength < 0 ? 1 : recordLength; }

std::int64_t recordCount(std::int64_t size, std::int32_t recordLength) {
    std::int64_t length = writtenRecordLength(recordLength);
    if (length == 0 || size <= 0) return 0; // never divide by a length of 0
    return (size + length - 1) / length;
}

} // namespace plx
