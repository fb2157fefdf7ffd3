// PLRecvData: the terminal-started receive. One call is one conversation
// with the center on "/getfile": RequestAuthentication, GetFile and
// ReportStatus, with the file stored in between.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <fcntl.h>
#include <unistd.h>

#include "api/ArgumentRules.h"
#include "common/EntityExtraction.h"
#include "common/FileControl.h"
#include "common/GetFileStore.h"
#include "common/Gzip.h"
#include "common/Paths.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"
#include "platform/FdIo.h"
#include "platform/UniqueFd.h"
#include "service/classes/CallerFiles.h"
#include "service/classes/Transfer.h"

namespace plx {

namespace {

namespace fs = std::filesystem;
using Phase = SessionLog::Phase;

constexpr TransferRules kReceiveRules{.apiName = "PLRecvData",
                                      .unknownText = "エラー(原因不明)",
                                      .warnsAfterAuthentication = false,
                                      .unknownAlwaysRecorded = false,
                                      .unknownWithSessionId = false};

constexpr const char* kDuplicateText = "二重転送エラー";
constexpr const char* kNotReportReplyText = "完了応答ではない電文でした";
constexpr const char* kNamingText = "ファイルの保存に失敗(保存ファイル名の決定でエラー)";
constexpr const char* kNotStoredText = "受信データの保存に失敗";
constexpr const char* kNoFolderText = "受信データ保存ディレクトリが存在しないか、読み取り専用属性です";
constexpr StepFailure kNotFileReply{kApiCenterError, kResultBadMessage, "ファイル応答ではない電文でした",
                                    kResultBadMessage};
constexpr StepFailure kNoEntity{kApiCenterError, kResultBadMessage,
                                "データ本体が正常に抽出できません(データ本体\"Entity\"の抽出に失敗)",
                                kResultBadMessage};
// No class and no result of its own: code 3 and result 99 at the end.
constexpr StepFailure kBadDigest{kApiOk, 0, "データ本体が正常に抽出できません(MD5ハッシュ値が異なります)", kResultOk};
// The name may be empty: the center's or a new one is taken then.
constexpr LengthRule kReceivedNameRule{kFileNameLimit, kFileNameRule.tooLongText, {}};

// The File element of a GetFile reply.
struct Delivery {
    std::int32_t size = -1;
    std::int32_t recordLength = -1;
    std::int32_t compressFlag = 0;
    std::string md5;
};

// The parsed reply, or nullopt when it is no readable document; the reply
// file is gone either way.
std::optional<SoapDocument> parseReply(Conversation::Reply& reply) {
    ScopedFileRemoval body = std::move(reply.body);
    try {
        return SoapDocument::parseFile(body.path());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Runs one argument group; an unexpected failure inside it gets the group's text.
template <typename Check>
void checkGroup(std::int32_t position, const char* groupText, Check check) {
    try {
        check();
    } catch (const PLException&) {
        throw;
    } catch (const std::exception&) {
        throw argumentError(position, groupText);
    }
}

class Receive final : public Transfer {
public:
    Receive(Transport& transport, const Caller& caller, const std::string& fileType, const std::string& directory,
            std::string& fileName, std::int32_t resendFlag, std::int32_t& fileSize)
        : Transfer(transport, kReceiveRules, "/getfile", SessionLog::kTerminalReceive,
                   (ArgumentLine() << fileType << directory << fileName << resendFlag).text()),
          caller_(caller), fileType_(fileType), directory_(directory), fileName_(fileName), resendFlag_(resendFlag),
          fileSize_(fileSize) {
        logsCenterFileName_ = true;
    }

private:
    int steps() override;
    ApiResult succeeded() override;

    void checkArguments();
    void loadSetup();
    void checkDuplicate();
    void fetchFile();
    std::optional<Delivery> walkFileReply(const SoapElement& response);
    Delivery readDelivery(const SoapElement& file);
    void openFolder();
    void store(const Delivery& delivery);
    void writeTarget(const fs::path& data);
    void finishConversation();
    // The center hears of a failure in a ReportStatus with resultCode.
    void report(const char* resultCode) { sendResultReport("ReportStatus", resultCode); }

    const Caller& caller_;
    const std::string& fileType_;
    const std::string& directory_;
    std::string& fileName_;
    std::optional<CallerFolder> folder_; // the caller's, opened once
    std::int32_t resendFlag_;
    std::int32_t& fileSize_;

    bool duplicate_ = false;
    std::int32_t size_ = 0;
    std::int32_t recordLength_ = 0;
    // The body decoded from the GetFile reply; gone on every exit.
    ScopedFileRemoval decoded_;
};

int Receive::steps() {
    checkArguments();
    loadSetup();
    if (int refused = connect()) return refused;
    authenticate(authenticationRequest(std::to_string(resendFlag_)), settings_->authTimeout,
                 [](int) { return kNotAuthenticationReply; });
    checkDuplicate();
    fetchFile();
    finishConversation();
    return 0;
}

void Receive::checkArguments() {
    checkGroup(1, "ファイル種別が不正です", [&] { checkArgument(1, fileType_, kFileTypeRule); });
    checkGroup(2, "ディレクトリの指定が不正です", [&] {
        checkArgument(2, directory_, kTargetDirectoryRule);
        if (!isAbsoluteFolder(directory_)) throw argumentError(2, kBadDirectoryText);
        openFolder();
    });
    checkGroup(3, "ファイル名の指定が不正です", [&] {
        checkArgument(3, fileName_, kReceivedNameRule);
        if (!fileName_.empty() && !isPlainName(fileName_)) throw argumentError(3, kBadFileNameText);
    });
    checkGroup(4, "再送フラグが不正です", [&] {
        if (resendFlag_ != 0 && resendFlag_ != 1) throw argumentError(4, "再送フラグが不正です");
    });
    if (fileName_.empty()) return;
    // A target the caller may not replace is refused before the center is asked.
    try {
        folder_->openTarget(fileName_, false);
    } catch (const CallerFileError& e) {
        if (e.kind() == CallerFileError::kNotFile && e.error() == EISDIR)
            throw PLException(kApiNoTempFile, EISDIR, "既存のディレクトリを指定しました");
        if (e.kind() == CallerFileError::kSystem) throw PLException(kApiSystemError, e.error(), kBadFileNameText);
        throw argumentError(3, kBadFileNameText);
    }
}

// The folder, with the caller's right to write into it; one the service
// cannot write is its own failure.
void Receive::openFolder() {
    try {
        folder_.emplace(caller_, directory_, FolderUse::kWrite);
    } catch (const CallerFileError& e) {
        if (e.kind() == CallerFileError::kSystem) throw PLException(kApiSystemError, e.error(), kNoFolderText);
        throw argumentError(2, kNoFolderText);
    }
}

void Receive::loadSetup() {
    useCheckedSettings();
    readTerminalInfo();
    readDefinition(fileType_, {kApiSystemError, 0, "端末起動集信情報とファイル管理ファイルに不整合", kResultOther},
                   false);
    file_.FileSize = -1; // no file has come yet
    file_.RecordLength = 0;
    recorded_ = true;
}

void Receive::checkDuplicate() {
    // An empty pair names no delivery: treating it as seen would drop every
    // later delivery the center sends without numbers.
    if (settings_->duplicationPermission || resendFlag_ == 1 || (loadNo_.empty() && recordKey_.empty())) return;
    for (const GetFileEntry& entry : loadGetFileEntries())
        if (entry.fileLoadNo == loadNo_ && entry.fileRecordKey == recordKey_) duplicate_ = true;
}

void Receive::fetchFile() {
    SoapHeader header = requestHeader();
    Reply reply = exchange({Phase::kFileRequest, settings_->fileTimeout, "ファイル受信生成中にエラー発生",
                            [&](XmlWriter& w) { writeGetFile(w, "0", header); }, HttpClient::kReceiving});
    // Only a body that was really extracted is ever used as the file.
    if (auto extracted = extractEntity(reply.body.path())) decoded_ = ScopedFileRemoval(*extracted);
    std::optional<SoapDocument> document = parseReply(reply);
    std::optional<SoapElement> response;
    std::optional<Delivery> delivery;
    try {
        if (document) response = document->method({"GetFileResponse"});
        if (response) delivery = walkFileReply(*response);
    } catch (const PLException&) {
        throw;
    } catch (const std::exception&) {
        response.reset();
    }
    if (!response) {
        sendReportStatus(kResultBadMessage);
        fail(kNotFileReply);
    }
    if (!delivery) fail({kApiNotReady, 0, "ファイル受信に失敗", kResultOk}, Phase::kReportReply);
    if (!duplicate_) store(*delivery);
}

// The File element, after a ResultCode of 0; nullopt when there is none.
std::optional<Delivery> Receive::walkFileReply(const SoapElement& response) {
    for (const SoapElement& child : response.children()) {
        std::string name = child.name();
        if (equalsIgnoreCase(name, "ResultCode")) {
            std::int32_t code = leadingDecimal32(replyText(child.text()));
            if (code == kResultOk) continue;
            if (code == kResultDoubleTransfer) {
                report("99");
                fail(centerRefusal(code, "二重ファイル伝送"));
            }
            if (code == kResultNoFile) {
                report("32");
                fail(centerRefusal(code, "ファイルなし"));
            }
            report("99");
            fail({kApiCenterError, kResultOther, "電文\"ファイル受信\"がエラーコードで戻りました", code});
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
        std::string text = replyText(child.text());
        if (text.empty()) continue; // a value that cannot be read is skipped
        if (equalsIgnoreCase(name, "Length"))
            delivery.size = leadingDecimal32(text);
        else if (equalsIgnoreCase(name, "RecordLength"))
            delivery.recordLength = leadingDecimal32(text);
        else if (equalsIgnoreCase(name, "MD5"))
            delivery.md5 = text;
        else if (equalsIgnoreCase(name, "CompressFlag"))
            delivery.compressFlag = leadingDecimal32(text);
    }
    size_ = delivery.size;
    recordLength_ = delivery.recordLength;
    return delivery;
}

void Receive::store(const Delivery& delivery) {
    if (delivery.md5.empty() || decoded_.path().empty()) {
        report("99");
        fail(kNoEntity);
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
        fail(kBadDigest);
    }

    writeTarget(data);
    // An empty pair is not stored: it would only ever match other empty pairs.
    if (!loadNo_.empty() || !recordKey_.empty()) writeGetFileEntry({fileType_, loadNo_, recordKey_});
}

// The file appears under its name only once it is whole.
void Receive::writeTarget(const fs::path& data) {
    std::string name = chooseTargetName(fileName_, dataFileName_);
    std::optional<CallerTarget> target;
    try {
        UniqueFd in(::open(data.c_str(), O_RDONLY | O_CLOEXEC));
        target.emplace(*folder_, name, WriteMode::kReplace);
        if (!in || !copyAll(in.get(), target->fd()))
            throw CallerFileError(CallerFileError::kSystem, errno, data.string());
    } catch (const CallerFileError& e) {
        report("99");
        fail({kApiNotReady, e.error(), kNotStoredText, kResultOther});
    }
    try {
        fileName_ = target->commit();
    } catch (const CallerFileError& e) {
        report("99");
        if (name.empty()) fail({kApiBadArgument, e.error(), kNamingText, kResultOther});
        fail({kApiNotReady, e.error(), kNotStoredText, kResultOther});
    }
}

void Receive::finishConversation() {
    SoapHeader header = requestHeader();
    Reply reply = exchange({Phase::kReportRequest, settings_->reportTimeout, "完了回答生成中にエラー発生",
                            [&](XmlWriter& w) { writeReportStatus(w, "0", header); }});
    std::optional<SoapDocument> document = parseReply(reply);
    if (!document) fail({kApiCenterError, kResultBadMessage, kNotReportReplyText, kResultBadMessage});
    std::int32_t code = kResultOk;
    try {
        auto response = document->method({"ReportStatusResponse"});
        if (!response) fail({kApiNoTempFile, 0, kNotReportReplyText, kResultBadMessage});
        code = resultCodeOf(*response);
    } catch (const PLException&) {
        throw;
    } catch (const std::exception&) {
        fail({kApiCenterError, kResultBadMessage, kNotReportReplyText, kResultBadMessage});
    }
    if (code != kResultOk) fail(centerRefusal(code, "ファイル受信後の完了回答が正常終了ではありませんでした"));
}

ApiResult Receive::succeeded() {
    ApiResult outcome =
        duplicate_ ? triple_.set(kApiCenterError, kResultDoubleTransfer, kDuplicateText) : triple_.set(kApiOk, 0, "");
    if (duplicate_) {
        size_ = -1;
        recordLength_ = -1;
    }
    fileSize_ = size_;
    file_.FileSize = size_;
    file_.RecordLength = recordLength_;
    outcome = finish(outcome, duplicate_ ? kResultDoubleTransfer : kResultOk);
    http_.Disconnect();
    return outcome;
}

} // namespace

ApiResult Transport::PLRecvData(const std::string& FileType, const std::string& ClDataDirectory,
                                std::string& ClDataFilename, std::int32_t ResendFlag, std::int32_t& FileSize,
                                const Caller& caller) {
    return Receive(*this, caller, FileType, ClDataDirectory, ClDataFilename, ResendFlag, FileSize).run();
}

} // namespace plx
