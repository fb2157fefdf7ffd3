// PLSendData: one terminal-started send, three exchanges with the center
// on "/putfile": RequestAuthentication, PutFile, ReportStatus.
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>

#include "api/ArgumentRules.h"
#include "common/EntitySource.h"
#include "common/Paths.h"
#include "platform/MemoryReturn.h"
#include "platform/UniqueFd.h"
#include "service/classes/CallerFiles.h"
#include "service/classes/Transfer.h"

namespace plx {

namespace {

namespace fs = std::filesystem;
using Phase = SessionLog::Phase;

constexpr TransferRules kSendRules{.apiName = "PLSendData",
                                   .unknownText = "原因不明のエラー",
                                   .warnsAfterAuthentication = true,
                                   .unknownAlwaysRecorded = true,
                                   .unknownWithSessionId = true};

constexpr const char* kUnreadableFileText = "ファイルから送信データを取得できません(指定ファイルを確認してください)";
constexpr const char* kNoScratchText = "一時ファイルにコピーできません";
constexpr const char* kNotFileReplyText = "ファイル応答ではない電文でした";

// The authentication's reply could not be read, or not even kept.
StepFailure unreadableAuthReply(int systemError) {
    return {kApiNotReady, systemError, "電文解析のparseで失敗しました", kResultOther};
}

class Send final : public Transfer {
public:
    Send(Transport& transport, const Caller& caller, const std::string& fileType, const std::string& directory,
         const std::string& fileName)
        : Transfer(transport, kSendRules, "/putfile", SessionLog::kTerminalSend,
                   (ArgumentLine() << fileType << directory << fileName).text()),
          caller_(caller), fileType_(fileType), directory_(directory), fileName_(fileName) {}

private:
    void steps() override;
    ApiResult succeeded() override;

    void checkArguments();
    void loadSetup();
    void prepareData();
    void sendFile();
    void reportEnd();
    // A reply that came but could not be kept (a full temporary folder) is
    // one the send cannot read, told with the system error: the
    // authentication's as its unreadable reply, a later one as any reply
    // the send cannot make out.
    [[noreturn]] void replyNotKept(int systemError) override;
    // The data cannot go: the center hears of it in a PutFile with "99".
    // The detail is the system error behind it, 99 when there is none.
    [[noreturn]] void refusePutFile(std::string_view text, int systemError = 0);

    const Caller& caller_;
    const std::string& fileType_;
    const std::string& directory_;
    const std::string& fileName_;
    UniqueFd source_; // opened with the caller's rights
    std::int32_t fileSize_ = -1;
    bool compressed_ = false;
    // The data: its digest, and its text while the PutFile goes out.
    std::shared_ptr<EntitySource> entity_;
};

void Send::steps() {
    checkArguments();
    loadSetup();
    connect();
    authenticate(authenticationRequest(""), settings_->authTimeout, unreadableAuthReply);
    prepareData();
    sendFile();
    reportEnd();
}

void Send::checkArguments() {
    checkArgument(1, fileType_, kFileTypeRule);
    checkArgument(2, directory_, kSourceDirectoryRule);
    if (!isAbsoluteFolder(directory_)) throw argumentError(2, kBadDirectoryText);
    checkArgument(3, fileName_, kFileNameRule);
    if (!isPlainName(fileName_)) throw argumentError(3, kBadFileNameText);
    try {
        source_ = CallerFolder(caller_, directory_, FolderUse::kRead).openSource(fileName_);
    } catch (const CallerFileError& e) {
        switch (e.kind()) {
        // A pipe or a device could fill the disk or hold a session count for ever.
        case CallerFileError::kMissing:
        case CallerFileError::kNotFile: throw PLException(kApiTransferFailure, 2, "指定されたファイルが存在しません");
        case CallerFileError::kRefused: throw PLException(kApiTransferFailure, 2, kBadFileNameText);
        case CallerFileError::kSystem: throw PLException(kApiSystemError, e.error(), kUnreadableFileText);
        }
    }
}

void Send::loadSetup() {
    useCheckedSettings();
    readTerminalInfo();
    readDefinition(fileType_,
                   {kApiSystemError, 0, "ファイル管理ファイル中に送信対象となるデータがありません", kResultOther},
                   true);
    // A definition the center cannot know is refused before a connection, without a record.
    if (file_.ProtocolFilename.empty()) {
        recorded_ = false;
        fail({kApiSystemError, 0, "プロトコル上ファイル名不正", kResultProtocolFileName});
    }
    if (file_.AccessKey.empty()) {
        recorded_ = false;
        fail({kApiSystemError, 0, "ファイルアクセスキー不正", kResultAccessKey});
    }
}

void Send::refusePutFile(std::string_view text, int systemError) {
    sendResultReport("PutFile", "99");
    fail({kApiCenterError, systemError != 0 ? systemError : kResultOther, text, kResultOther});
}

// The digest of the data before compression, and the gzip stream when the
// data kind asks for it, in one read of the file.
void Send::prepareData() {
    compressed_ = file_.CompressID == 1;
    try {
        // The sizes of the protocol and the logs are 32-bit: a larger file is refused, never wrapped.
        entity_ = EntitySource::prepare(std::move(source_), compressed_, {}, std::numeric_limits<std::int32_t>::max());
    } catch (const EntitySource::Error& e) {
        // A full temporary folder is the service's failure, not the caller's file.
        std::string_view text = e.why() == EntitySource::Failure::Scratch ? kNoScratchText : kUnreadableFileText;
        refusePutFile(text, e.systemError());
    }
    fileSize_ = static_cast<std::int32_t>(entity_->size());
    file_.FileSize = fileSize_;
}

void Send::sendFile() {
    FileElement file{std::to_string(fileSize_),
                     std::to_string(writtenRecordLength(file_.RecordLength)),
                     std::to_string(recordCount(fileSize_, file_.RecordLength)),
                     "",
                     compressed_ ? "1" : "0",
                     entity_->md5(),
                     EntityText{entity_->textSize(), entity_->producer()}};
    SoapHeader header = requestHeader();
    Reply reply = exchange({Phase::kFileRequest, settings_->fileTimeout, "ファイル送信生成中にエラー発生",
                            [&](XmlWriter& w) { writePutFile(w, "0", header, file); }, HttpClient::kSending, nullptr,
                            // The file, not the connection, cut the request short: it went unfinished.
                            [this](int systemError) { refusePutFile(kUnreadableFileText, systemError); }});
    entity_.reset();
    SoapDocument document = SoapDocument::parseFile(reply.body.path()); // a broken reply is an unexpected failure
    if (!document.body()) {
        sendReportStatus(3);
        fail({kApiTransferFailure, 0, kNotFileReplyText, kResultBadMessage});
    }
    auto response = document.method({"PutFileResponse"});
    if (!response) {
        sendReportStatus(kResultBadMessage);
        fail({kApiCenterError, kResultBadMessage, kNotFileReplyText, kResultBadMessage});
    }
    if (std::int32_t code = resultCodeOf(*response); code != kResultOk)
        fail(centerRefusal(code, centerResultMessage(code)));
}

void Send::reportEnd() {
    SoapHeader header = requestHeader();
    Reply reply = exchange({Phase::kReportRequest, settings_->reportTimeout, "完了報告生成中にエラー発生",
                            [&](XmlWriter& w) { writeReportStatus(w, "0", header); }});
    SoapDocument document = SoapDocument::parseFile(reply.body.path());
    if (!document.body()) fail({kApiCenterError, kResultBadMessage, "完了回答ではない電文でした", kResultBadMessage});
    auto response = document.method({"ReportStatusResponse"});
    if (!response)
        fail({kApiCenterError, kResultBadMessage, "完了回答のメソッドではない電文でした", kResultBadMessage});
    if (std::int32_t code = resultCodeOf(*response); code != kResultOk)
        fail(centerRefusal(code, "ファイル送信後の完了回答でエラー"));
}

void Send::replyNotKept(int systemError) {
    if (phase() == Phase::kAuthReply) fail(unreadableAuthReply(systemError));
    fail({kApiTransferFailure, systemError, kSendRules.unknownText, kResultOther});
}

ApiResult Send::succeeded() {
    http_.Disconnect();
    return finish(triple_.set(kApiOk, 0, ""), kResultOk);
}

} // namespace

ApiResult Transport::PLSendData(const std::string& FileType, const std::string& ClDataDirectory,
                                const std::string& ClDataFilename, const Caller& caller) {
    // Everything the call held is gone before the scope ends.
    MemoryReturnScope memory;
    return Send(*this, caller, FileType, ClDataDirectory, ClDataFilename).run();
}

} // namespace plx
