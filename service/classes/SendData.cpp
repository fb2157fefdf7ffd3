// PLSendData: one terminal-started send, three exchanges with the center
// on "/putfile": RequestAuthentication, PutFile, ReportStatus.
#include <fcntl.h>
#include <sys/stat.h>

#include "api/ArgumentRules.h"
#include "common/Base64.h"
#include "common/FileControl.h"
#include "common/Gzip.h"
#include "common/Paths.h"
#include "platform/FdIo.h"
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
constexpr const char* kNotFileReplyText = "ファイル応答ではない電文でした";

bool copyToTemp(int in, const fs::path& target) {
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!out || !copyAll(in, out.get())) return false;
    return ::close(out.release()) == 0;
}

class Send final : public Transfer {
public:
    Send(Transport& transport, const Caller& caller, const std::string& fileType, const std::string& directory,
         const std::string& fileName)
        : Transfer(transport, kSendRules, "/putfile", SessionLog::kTerminalSend,
                   (ArgumentLine() << fileType << directory << fileName).text()),
          caller_(caller), fileType_(fileType), directory_(directory), fileName_(fileName) {}

private:
    int steps() override;
    ApiResult succeeded() override;

    void checkArguments();
    void loadSetup();
    void prepareData();
    void sendFile();
    void reportEnd();
    // The data cannot go: the center hears of it in a PutFile with "99".
    [[noreturn]] void refusePutFile(std::string_view text);

    const Caller& caller_;
    const std::string& fileType_;
    const std::string& directory_;
    const std::string& fileName_;
    UniqueFd source_; // opened with the caller's rights
    std::int32_t fileSize_ = -1;
    std::string md5_;
    bool compressed_ = false;
    ScopedFileRemoval entity_; // the Base64 text of the data
};

int Send::steps() {
    checkArguments();
    loadSetup();
    if (int refused = connect()) return refused;
    authenticate(authenticationRequest(""), settings_->authTimeout, [](int systemError) {
        return StepFailure{kApiNotReady, systemError, "電文解析のparseで失敗しました", kResultOther};
    });
    prepareData();
    sendFile();
    reportEnd();
    return 0;
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
        case CallerFileError::kNotFile: throw PLException(kApiNoTempFile, 2, "指定されたファイルが存在しません");
        case CallerFileError::kRefused: throw PLException(kApiNoTempFile, 2, kBadFileNameText);
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

void Send::refusePutFile(std::string_view text) {
    sendResultReport("PutFile", "99");
    fail({kApiCenterError, kResultOther, text, kResultOther});
}

// A copy of the file, its digest (of the data before compression), gzip
// when the data kind asks for it, Base64.
void Send::prepareData() {
    ScopedFileRemoval copy(makeTempFile());
    if (copy.path().empty() || !copyToTemp(source_.get(), copy.path()))
        refusePutFile("一時ファイルにコピーできません");
    std::int32_t size = 0;
    // The sizes of the protocol and the logs are 32-bit: a larger file is refused, never wrapped.
    if (!queryFileSize32(copy.path(), size)) refusePutFile(kUnreadableFileText);
    fileSize_ = size;
    file_.FileSize = size;
    md5_ = getFileMD5(copy.path());
    compressed_ = file_.CompressID == 1;
    entity_ = ScopedFileRemoval(makeTempFile());
    bool prepared = !md5_.empty() && !entity_.path().empty();
    ScopedFileRemoval packed;
    fs::path content = copy.path();
    if (prepared && compressed_) {
        packed = ScopedFileRemoval(makeTempFile());
        prepared = !packed.path().empty() && gzipFile(copy.path(), packed.path());
        content = packed.path();
    }
    prepared = prepared && encodeFileBase64(content, entity_.path());
    if (!prepared) refusePutFile(kUnreadableFileText);
}

void Send::sendFile() {
    FileElement file{std::to_string(fileSize_),
                     std::to_string(writtenRecordLength(file_.RecordLength)),
                     std::to_string(recordCount(fileSize_, file_.RecordLength)),
                     "",
                     compressed_ ? "1" : "0",
                     md5_,
                     entity_.path()};
    SoapHeader header = requestHeader();
    Reply reply = exchange({Phase::kFileRequest, settings_->fileTimeout, "ファイル送信生成中にエラー発生",
                            [&](XmlWriter& w) { writePutFile(w, "0", header, file); }, HttpClient::kSending});
    entity_ = ScopedFileRemoval();
    SoapDocument document = SoapDocument::parseFile(reply.body.path()); // a broken reply is an unexpected failure
    if (!document.body()) {
        sendReportStatus(3);
        fail({kApiNoTempFile, 0, kNotFileReplyText, kResultBadMessage});
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

ApiResult Send::succeeded() {
    http_.Disconnect();
    return finish(triple_.set(kApiOk, 0, ""), kResultOk);
}

} // namespace

ApiResult Transport::PLSendData(const std::string& FileType, const std::string& ClDataDirectory,
                                const std::string& ClDataFilename, const Caller& caller) {
    return Send(*this, caller, FileType, ClDataDirectory, ClDataFilename).run();
}

} // namespace plx
