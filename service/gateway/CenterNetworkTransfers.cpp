// The file exchanges of a conversation: GetFile, PutFile and ReportStatus.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

#include "common/DateText.h"
#include "common/EntitySource.h"
#include "common/FileControl.h"
#include "common/IniLocks.h"
#include "common/LogBridge.h"
#include "common/PlainDataWriter.h"
#include "platform/IniFile.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"
#include "service/classes/TransferSupport.h"
#include "service/gateway/CenterNetworkState.h"

namespace plx {

namespace fs = std::filesystem;
using namespace gateway;

namespace {

// Where the staged file is opened for sending.
UniqueFd openStagedFile(const fs::path& staged) {
    return UniqueFd(staged.empty() ? -1 : ::open(staged.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

} // namespace

// A file message or report is served only inside the conversation that an
// answered authentication of the matching kind opened.
OutgoingMessage CenterNetwork::State::strayRequest(const Intake& in, std::string_view reply, std::int32_t methodPhase,
                                                   std::int32_t code) {
    closeOpenConversation();
    phase = methodPhase;
    return refused(in, code, {.start = getNowStamp(), .withFile = false, .withKeys = false},
                   [&] { return methodReply(in, reply, code); });
}

bool CenterNetwork::State::cookieMissing(const Intake& in) const {
    std::string value;
    return in.cookie(value) != Intake::Cookie::kPresent;
}

// Only a session value given out on this connection matches, never an empty one.
bool CenterNetwork::State::cookieMatches(const Intake& in) const {
    std::string value;
    return in.cookie(value) == Intake::Cookie::kPresent && !setDateText.empty() && equalsIgnoreCase(value, setDateText);
}

OutgoingMessage CenterNetwork::State::methodReply(const Intake& in, std::string_view reply, std::int32_t code,
                                                  bool withSessionId) {
    SoapHeader header = ownHeader(getNowStamp(), withSessionId);
    return writeReply(
        [&](XmlWriter& w) {
            if (reply == "GetFileResponse")
                writeGetFileResponse(w, std::to_string(code), header, nullptr);
            else
                writeResultMessage(w, std::string(reply), std::to_string(code), header);
        },
        "Cookie", in.echoedCookie());
}

// ---- PutFile ----

OutgoingMessage CenterNetwork::State::putFile(const Intake& in, const SoapElement& method) {
    if (stage != Stage::kAwaitingFile || transferKind != kDelivery)
        return strayRequest(in, "PutFileResponse", kFileReceived, kResultBadMessage);
    phase = kFileReceived;
    try {
        if (!in.settings || in.settings->tempFolder.empty())
            throw refusal(kResultOther,
                          "設定管理ファイル(plconfig.ini)が見つかりません，または一時保存先が特定できません");
        if (!cookieMatches(in)) throw refusal(kResultBadMessage, kSessionText);
        if (std::int32_t code = leadingDecimal32(method.childText("ResultCode")); code != 0) throw refusal(code, "");
        storeDelivery(in, method);
        updateCenterStatus(centerRecord.sectionName, kStatusDone);
        centerRecord.status = kStatusDone;
        SoapHeader header = ownHeader(getNowTimeText());
        OutgoingMessage reply =
            writeReply([&](XmlWriter& w) { writePutFileResponse(w, "0", header); }, "Cookie", in.echoedCookie());
        phase = kFileAnswered;
        stage = Stage::kAwaitingReport;
        return reply;
    } catch (const CenterRefusal& refused) {
        return putFileRefusal(in, refused.result());
    }
}

// The body comes only from the file the extraction decoded: a path written
// in the message itself is never opened.
void CenterNetwork::State::storeDelivery(const Intake& in, const SoapElement& method) {
    auto file = method.child("File");
    auto text = [&](std::string_view name) { return file ? file->childText(name) : std::string(); };
    std::int32_t size = leadingDecimal32(text("Length"));
    std::int32_t records = leadingDecimal32(text("RecordNumber"));
    std::int32_t recordFlag = leadingDecimal32(text("RecordFlag"));
    std::string md5 = text("MD5");
    std::string entity = text("Entity");
    if (size < 0 || records < 0 || recordFlag < 0 || md5.empty() || entity.empty())
        throw refusal(kResultFileLength, kRestoreText);
    if (!in.entity.extracted || in.entity.plan.path.empty() || entity != in.entity.plan.path.string())
        throw refusal(kResultFileLength, kRestoreText);
    recordLength = size;
    recordNumber = records;
    compressFlag = leadingDecimal32(text("CompressFlag"));

    // A failed or over-long expansion shows as a digest mismatch.
    if (deliveredDigest(in, size, compressFlag) != md5)
        throw refusal(kResultUnpack, "データ本体が正常に抽出できません");
    recordLength = leadingDecimal32(text("RecordLength"));
    length = size;
    if (::close(receiveFd.release()) != 0) throw refusal(kResultUnpack, kNotStoredText);
}

// The digest of the data now in the receive file; empty when it could not
// be restored.
std::string CenterNetwork::State::deliveredDigest(const Intake& in, std::int32_t size, std::int32_t compress) {
    try {
        return delivered.storedDigest(in.entity, {size, compress}, [this] {
            if (!receiveFd) throw refusal(kResultUnpack, kNotStoredText);
            return receiveFd.get();
        });
    } catch (const std::system_error&) {
        throw refusal(kResultUnpack, kNotStoredText);
    }
}

OutgoingMessage CenterNetwork::State::putFileRefusal(const Intake& in, std::int32_t code) {
    if (!endReported) fire(kDeliveryFailed);
    endReported = true;
    if (code <= 0) code = kResultOther;
    if (!centerRecord.sectionName.empty()) deleteCenterRecord(centerRecord.sectionName);
    forceDeleteFile(tempReceivePath);
    copyLoggedValues();
    OutgoingMessage reply = refused(in, code, {.start = startTime, .sessionId = sessionId},
                                    [&] { return methodReply(in, "PutFileResponse", code); });
    stage = Stage::kFileRefused;
    return reply;
}

// ---- GetFile ----

OutgoingMessage CenterNetwork::State::getFile(const Intake& in, const SoapElement& method) {
    if (stage != Stage::kAwaitingFile || transferKind != kFetch) {
        // A cookie naming no session of this connection is the cookie check's 99.
        std::string value;
        bool stale = in.cookie(value) == Intake::Cookie::kPresent && !cookieMatches(in);
        return strayRequest(in, "GetFileResponse", kFileReceived, stale ? kResultOther : kResultBadMessage);
    }
    phase = kFileReceived;
    try {
        if (cookieMissing(in)) throw refusal(kResultBadMessage, kSessionText);
        if (!cookieMatches(in)) throw refusal(kResultOther, kSessionText);
        if (std::int32_t code = leadingDecimal32(method.childText("ResultCode")); code != 0)
            throw refusal(code, "GetFileのResultCodeが0ではありませんでした");
        lookUpDataKind();
        return sendStagedFile(in);
    } catch (const CenterRefusal& refused) {
        return getFileRefusal(in, refused.result());
    }
}

// By the kind the authentication matched: another kind sharing the protocol
// file name and access key must not lend its record length or compression.
void CenterNetwork::State::lookUpDataKind() {
    std::lock_guard lock(fileIniMutex());
    std::int32_t count = 0;
    if (!client.PLGetFileInfo(fileType, 0, "", "", 0, 0, count)) throw refusal(kResultOther, kKindAccessText);
    if (count < 1) throw refusal(kResultProtocolFileName, "該当ファイルがファイル管理ファイルに存在しません");
    fileRec = FileRec{};
    if (!client.PLGetFileInfoAt(0, fileRec)) throw refusal(kResultOther, kKindAccessText);
}

// The staged file read once for its digest (and its gzip stream), then
// Base64-encoded straight into the reply as it is sent.
OutgoingMessage CenterNetwork::State::sendStagedFile(const Intake& in) {
    UniqueFd staged = openStagedFile(centerRecord.tempFilePath);
    if (!staged) {
        throw refusal(kResultNoFile, kNoFileText);
    }
    std::shared_ptr<EntitySource> source;
    try {
        source = EntitySource::prepare(std::move(staged), fileRec.CompressID == 1, {},
                                       std::numeric_limits<std::int32_t>::max());
    } catch (const EntitySource::Error& e) {
        if (e.why() == EntitySource::Failure::TooLarge) {
            throw refusal(kResultNoFile, kNoFileText);
        }
        bool unreadable = e.why() == EntitySource::Failure::Read || e.why() == EntitySource::Failure::Changed;
        throw refusal(kResultOther, unreadable ? kNoFileText : kPrepareText);
    }
    auto size = static_cast<std::int32_t>(source->size());
    length = size;
    recordLength = fileRec.RecordLength;

    std::int32_t rl = fileRec.RecordLength;
    FileElement file;
    file.length = std::to_string(size);
    file.recordLength = std::to_string(writtenRecordLength(rl));
    file.recordNumber = std::to_string(recordCount(size, rl == 0 ? 1 : rl)); // never divide by 0
    file.recordFlag = rl == -1 ? "1" : "0";
    file.compressFlag = fileRec.CompressID == 1 ? "1" : "0";
    file.md5 = source->md5();
    file.entityText = EntityText{source->textSize(), source->producer()};
    SoapHeader header = ownHeader(getNowStamp());
    OutgoingMessage reply =
        writeReply([&](XmlWriter& w) { writeGetFileResponse(w, "0", header, &file); }, "Cookie", in.echoedCookie());
    compressFlag = fileRec.CompressID;
    phase = kFileAnswered;
    stage = Stage::kAwaitingReport;
    return reply;
}

OutgoingMessage CenterNetwork::State::getFileRefusal(const Intake& in, std::int32_t code) {
    bool nothingToSend = in.noFilePermission() && code == kResultNoFile;
    if (!endReported) fire(nothingToSend ? kFetchDone : kFetchFailed);
    endReported = true;
    updateCenterStatus(centerRecord.sectionName, kStatusWaiting);
    copyLoggedValues();
    OutgoingMessage reply = refused(in, code,
                                    {.outcome = nothingToSend ? SessionLog::kNormalEnd : SessionLog::kAbnormalEnd,
                                     .start = startTime,
                                     .sessionId = sessionId},
                                    [&] { return methodReply(in, "GetFileResponse", code); });
    stage = Stage::kFileRefused;
    return reply;
}

// ---- ReportStatus ----

OutgoingMessage CenterNetwork::State::reportStatus(const Intake& in, const SoapElement& method) {
    // The center reports a refused file message with its code: still the
    // report of this connection's conversation, answered as such.
    if (stage != Stage::kAwaitingReport && stage != Stage::kFileRefused)
        return strayRequest(in, "ReportStatusResponse", kReportReceived, kResultBadMessage);
    if (stage == Stage::kFileRefused) stage = Stage::kNone; // its record is written
    phase = kReportReceived;
    try {
        if (!cookieMatches(in)) throw refusal(kResultBadMessage, kSessionText);
        if (std::int32_t code = leadingDecimal32(method.childText("ResultCode")); code != 0)
            throw refusal(code, "完了報告でエラー");
        OutgoingMessage reply = methodReply(in, "ReportStatusResponse", 0, false);
        if (transferKind == kFetch) updateCenterStatus(centerRecord.sectionName, kStatusDone);
        copyLoggedValues();
        phase = kReportAnswered;
        if (stage == Stage::kAwaitingReport) stage = Stage::kReported; // the server's closing call logs the normal end
        return reply;
    } catch (const CenterRefusal& refused) {
        return reportRefusal(in, refused.result());
    }
}

OutgoingMessage CenterNetwork::State::reportRefusal(const Intake& in, std::int32_t code) {
    updateCenterStatus(centerRecord.sectionName, kStatusWaiting);
    if (!endReported) {
        if (transferKind == kDelivery)
            fire(kDeliveryFailed);
        else if (transferKind == kFetch)
            fire(in.noFilePermission() && code == kResultNoFile ? kFetchDone : kFetchFailed);
    }
    endReported = true;
    return refused(in, code,
                   {.outcome = SessionLog::kWarning,
                    .level = SessionLog::kLevelWarning,
                    .start = startTime,
                    .sessionId = sessionId},
                   [&] { return methodReply(in, "ReportStatusResponse", code); });
}

} // namespace plx
