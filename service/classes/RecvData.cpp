// PLRecvData: the terminal-started receive. One call is one conversation
// with the center on "/getfile": RequestAuthentication, GetFile and
// ReportStatus, with the file stored in between.
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "api/ArgumentRules.h"
#include "centerlink/EntityReceiver.h"
#include "centerlink/ReceivedEntity.h"
#include "common/FileControl.h"
#include "common/GetFileStore.h"
#include "common/Paths.h"
#include "platform/MemoryReturn.h"
#include "platform/Numbers.h"
#include "platform/TempFile.h"
#include "platform/Utf8.h"
#include "service/classes/CallerFiles.h"
#include "service/classes/Transfer.h"
#include "service/classes/TransferSupport.h"

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

    EntityValues values() const { return {size, compressFlag}; }
};

// A File value as the reply is read: a value that cannot be read is skipped.
void readValue(std::string_view name, const std::string& text, Delivery& delivery) {
    if (text.empty()) return;
    if (equalsIgnoreCase(name, "Length"))
        delivery.size = leadingDecimal32(text);
    else if (equalsIgnoreCase(name, "RecordLength"))
        delivery.recordLength = leadingDecimal32(text);
    else if (equalsIgnoreCase(name, "MD5"))
        delivery.md5 = text;
    else if (equalsIgnoreCase(name, "CompressFlag"))
        delivery.compressFlag = leadingDecimal32(text);
}

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
void checkGroup(std::int32_t position, std::string_view groupText, Check check) {
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
    void steps() override;
    ApiResult succeeded() override;

    void checkArguments();
    void loadSetup();
    void checkDuplicate();
    void fetchFile();
    EntityPlan planEntity(const EntityHead& head);
    std::optional<Delivery> walkFileReply(const SoapElement& response);
    Delivery readDelivery(const SoapElement& file);
    int openTarget();
    void store(const Delivery& delivery, const EntityOutcome& entity);
    std::string storedDigest(const Delivery& delivery, const EntityOutcome& entity);
    [[noreturn]] void notSaved(int error);
    [[noreturn]] void targetNotMade(int error);
    [[noreturn]] void replyNotKept(int systemError) override;
    void commitTarget();
    // Notes the load number and record key, so a second delivery is known.
    void rememberDelivery();
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
    // Where the body goes as it arrives; gone on every exit unless stored.
    std::optional<CallerTarget> target_;
    ReceivedEntity body_;
    int targetError_ = 0; // why no target file could be made for it
};

void Receive::steps() {
    checkArguments();
    loadSetup();
    connect();
    authenticate(authenticationRequest(std::to_string(resendFlag_)), settings_->authTimeout,
                 [](int) { return kNotAuthenticationReply; });
    checkDuplicate();
    fetchFile();
    finishConversation();
}

void Receive::checkArguments() {
    checkGroup(1, "ファイル種別が不正です", [&] { checkArgument(1, fileType_, kFileTypeRule); });
    checkGroup(2, kBadDirectoryText, [&] {
        checkArgument(2, directory_, kTargetDirectoryRule);
        folder_.emplace(openTargetFolder(caller_, directory_, 2));
    });
    checkGroup(3, kBadFileNameText, [&] {
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
            throw PLException(kApiTransferFailure, EISDIR, "既存のディレクトリを指定しました");
        if (e.kind() == CallerFileError::kSystem) throw PLException(kApiSystemError, e.error(), kBadFileNameText);
        throw argumentError(3, kBadFileNameText);
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
    // The body is decoded, expanded, hashed and written as it arrives; only
    // a body that was really extracted is ever used as the file.
    EntityReceiver entity([this](const EntityHead& head) { return planEntity(head); });
    Reply reply = exchange({Phase::kFileRequest, settings_->fileTimeout, "ファイル受信生成中にエラー発生",
                            [&](XmlWriter& w) { writeGetFile(w, "0", header); }, HttpClient::kReceiving, &entity});
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
    if (!duplicate_) store(*delivery, entity.outcome());
}

// With the File values ahead of the body, straight into the client's
// folder; else the body as it came into a scratch file, expanded from there
// once the whole reply is read. A duplicate is only checked, not kept.
EntityPlan Receive::planEntity(const EntityHead& head) {
    if (duplicate_) return {};
    return body_.plan(head, [this] {
        targetError_ = openTarget();
        return targetError_ != 0 ? EntityTarget{} : EntityTarget{target_->fd()};
    });
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
    for (const SoapElement& child : file.children()) readValue(child.name(), replyText(child.text()), delivery);
    size_ = delivery.size;
    recordLength_ = delivery.recordLength;
    return delivery;
}

void Receive::replyNotKept(int systemError) { notSaved(systemError); }

void Receive::notSaved(int error) {
    report("99");
    Conversation::replyNotKept(error);
}

// The digest of the data now in the target file; empty when the data
// could not be restored.
std::string Receive::storedDigest(const Delivery& delivery, const EntityOutcome& entity) {
    if (targetError_ != 0) targetNotMade(targetError_);
    try {
        return body_.storedDigest(entity, delivery.values(), [this] {
            if (int error = openTarget()) targetNotMade(error);
            return target_->fd();
        });
    } catch (const std::system_error& e) {
        notSaved(e.code().value());
    }
}

void Receive::store(const Delivery& delivery, const EntityOutcome& entity) {
    if (delivery.md5.empty() || !entity.extracted) {
        report("99");
        fail(kNoEntity);
    }
    file_.FileSize = delivery.size;
    file_.RecordLength = delivery.recordLength;
    file_.CompressID = delivery.compressFlag;

    if (storedDigest(delivery, entity) != delivery.md5) {
        report("99");
        fail(kBadDigest);
    }
    commitTarget();
    rememberDelivery();
}

void Receive::rememberDelivery() {
    // An empty pair is not stored: it would only ever match other empty pairs.
    if (loadNo_.empty() && recordKey_.empty()) return;
    try {
        writeGetFileEntry({fileType_, loadNo_, recordKey_});
    } catch (...) {
        // The file is in place and the center told: the receive stands without its entry.
    }
}

// Where the received data is written: an unnamed file in the caller's
// folder, put in place under the chosen name once it is whole and checked,
// so a failure never leaves the caller's existing file half written.
// The system error when it could not be made, else 0.
int Receive::openTarget() {
    try {
        target_.emplace(*folder_, chooseTargetName(fileName_, dataFileName_), WriteMode::kReplace);
        return 0;
    } catch (const CallerFileError& e) {
        return e.error();
    }
}

// Without a name of its own the target is a new "@zv" one: then the name
// is what could not be made.
void Receive::targetNotMade(int error) {
    if (!chooseTargetName(fileName_, dataFileName_).empty()) notSaved(error);
    report("99");
    // No exchange failed: the session record keeps the first message kind.
    fail({kApiBadArgument, error, kNamingText, kResultOther}, Phase::kAuthRequest);
}

void Receive::commitTarget() {
    try {
        fileName_ = target_->commit();
    } catch (const CallerFileError& e) {
        targetNotMade(e.error());
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
        if (!response) fail({kApiTransferFailure, 0, kNotReportReplyText, kResultBadMessage});
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
    // Everything the call held is gone before the scope ends.
    MemoryReturnScope memory;
    return Receive(*this, caller, FileType, ClDataDirectory, ClDataFilename, ResendFlag, FileSize).run();
}

} // namespace plx
