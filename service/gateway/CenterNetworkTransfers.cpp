// The file exchanges of a conversation: GetFile, PutFile and ReportStatus.
#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sys/socket.h>

#include "common/Base64.h"
#include "common/DateText.h"
#include "common/EntityExtraction.h"
#include "common/FileControl.h"
#include "common/Gzip.h"
#include "common/IniLocks.h"
#include "common/LogBridge.h"
#include "platform/IniFile.h"
#include "platform/Numbers.h"
#include "platform/TempFile.h"
#include "platform/Utf8.h"
#include "service/classes/TransferSupport.h"
#include "service/gateway/CenterNetworkState.h"

namespace plx {

namespace fs = std::filesystem;
using namespace gateway;

// A file message or report is served only inside the conversation that an
// answered authentication of the matching kind opened.
fs::path CenterNetwork::State::strayRequest(const Intake& in, std::string_view reply, std::int32_t methodPhase,
                                            std::int32_t code) {
    closeOpenConversation();
    fileRefused = false;
    phase = methodPhase;
    resultCode = code;
    writeSession({.start = getNowStamp(), .phase = phase, .result = code, .withFile = false, .withKeys = false});
    return methodReply(in, reply, code);
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

fs::path CenterNetwork::State::methodReply(const Intake& in, std::string_view reply, std::int32_t code,
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

fs::path CenterNetwork::State::putFile(const Intake& in, const SoapElement& method) {
    if (!isOpen() || transferKind != kDelivery || phase != kAuthAnswered)
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
        fs::path reply =
            writeReply([&](XmlWriter& w) { writePutFileResponse(w, "0", header); }, "Cookie", in.echoedCookie());
        phase = kFileAnswered;
        return reply;
    } catch (const PLException& refused) {
        return putFileRefusal(in, refused.code());
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
    if (!in.entity || entity != in.entity->string()) throw refusal(kResultFileLength, kRestoreText);
    recordLength = size;
    recordNumber = records;
    compressFlag = leadingDecimal32(text("CompressFlag"));

    fs::path body = *in.entity;
    if (compressFlag == 1) {
        fs::path expanded = body;
        expanded += ".dat";
        // A failed or over-long expansion shows as a digest mismatch.
        gunzipFile(body, expanded, static_cast<std::uint64_t>(size));
        forceDeleteFile(body);
        body = expanded;
    }
    if (getFileMD5(body) != md5) throw refusal(kResultUnpack, "データ本体が正常に抽出できません");
    recordLength = leadingDecimal32(text("RecordLength"));
    length = size;
    std::error_code ec;
    fs::copy_file(body, tempReceivePath, fs::copy_options::overwrite_existing, ec);
    if (ec) throw refusal(kResultUnpack, "受信データの保存に失敗");
    forceDeleteFile(body);
}

fs::path CenterNetwork::State::putFileRefusal(const Intake& in, std::int32_t code) {
    if (!endReported) fire(kDeliveryFailed);
    endReported = true;
    if (code <= 0) code = kResultOther;
    resultCode = code;
    std::int32_t detail = detailFor(code, in.request.socket);
    if (!centerRecord.sectionName.empty()) deleteCenterRecord(centerRecord.sectionName);
    forceDeleteFile(tempReceivePath);
    fileRefused = true;
    copyLoggedValues();
    writeSession({.start = startTime, .phase = phase, .result = code, .detail = detail, .sessionId = sessionId});
    return methodReply(in, "PutFileResponse", code);
}

// ---- GetFile ----

fs::path CenterNetwork::State::getFile(const Intake& in, const SoapElement& method) {
    if (!isOpen() || transferKind != kFetch || phase != kAuthAnswered) {
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
    } catch (const PLException& refused) {
        return getFileRefusal(in, refused.code());
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

fs::path CenterNetwork::State::sendStagedFile(const Intake& in) {
    const fs::path staged = centerRecord.tempFilePath;
    std::int32_t size = 0;
    if (staged.empty() || !queryFileSize32(staged, size)) {
        errorDetail = 0;
        throw refusal(kResultNoFile, kNoFileText);
    }
    std::string md5 = getFileMD5(staged);
    if (md5.empty()) throw refusal(kResultOther, kNoFileText);
    length = size;
    recordLength = fileRec.RecordLength;

    fs::path source = staged;
    ScopedFileRemoval compressed;
    if (fileRec.CompressID == 1) {
        compressed = ScopedFileRemoval(makeTempFile());
        if (compressed.path().empty() || !gzipFile(staged, compressed.path()))
            throw refusal(kResultOther, kPrepareText);
        source = compressed.path();
    }
    ScopedFileRemoval encoded(makeTempFile());
    if (encoded.path().empty() || !encodeFileBase64(source, encoded.path())) throw refusal(kResultOther, kPrepareText);
    compressed = ScopedFileRemoval();

    std::int32_t rl = fileRec.RecordLength;
    FileElement file;
    file.length = std::to_string(size);
    file.recordLength = std::to_string(writtenRecordLength(rl));
    file.recordNumber = std::to_string(recordCount(size, rl == 0 ? 1 : rl)); // never divide by 0
    file.recordFlag = rl == -1 ? "1" : "0";
    file.compressFlag = fileRec.CompressID == 1 ? "1" : "0";
    file.md5 = md5;
    file.entityFile = encoded.path();
    SoapHeader header = ownHeader(getNowStamp());
    fs::path reply;
    try {
        reply =
            writeReply([&](XmlWriter& w) { writeGetFileResponse(w, "0", header, &file); }, "Cookie", in.echoedCookie());
    } catch (const std::exception&) {
        throw refusal(kResultOther, kPrepareText); // never a success without its body
    }
    compressFlag = fileRec.CompressID;
    phase = kFileAnswered;
    return reply;
}

fs::path CenterNetwork::State::getFileRefusal(const Intake& in, std::int32_t code) {
    bool nothingToSend = in.noFilePermission() && code == kResultNoFile;
    if (!endReported) fire(nothingToSend ? kFetchDone : kFetchFailed);
    endReported = true;
    resultCode = code;
    updateCenterStatus(centerRecord.sectionName, kStatusWaiting);
    fileRefused = true;
    copyLoggedValues();
    std::int32_t detail = detailFor(code, in.request.socket);
    writeSession({.outcome = nothingToSend ? kNormalEnd : kAbnormalEnd,
                  .start = startTime,
                  .phase = phase,
                  .result = code,
                  .detail = detail,
                  .sessionId = sessionId});
    return methodReply(in, "GetFileResponse", code);
}

// ---- ReportStatus ----

fs::path CenterNetwork::State::reportStatus(const Intake& in, const SoapElement& method) {
    bool afterFile = transferKind == kDelivery || transferKind == kFetch;
    bool afterAnswer = isOpen() && afterFile && phase == kFileAnswered;
    // The center reports a refused file message with its code: still the
    // report of this connection's conversation, answered as such.
    bool afterRefusal = fileRefused && phase == kFileReceived && !setDateText.empty();
    if (!afterAnswer && !afterRefusal)
        return strayRequest(in, "ReportStatusResponse", kReportReceived, kResultBadMessage);
    fileRefused = false;
    phase = kReportReceived;
    try {
        if (!cookieMatches(in)) throw refusal(kResultBadMessage, kSessionText);
        if (std::int32_t code = leadingDecimal32(method.childText("ResultCode")); code != 0)
            throw refusal(code, "完了報告でエラー");
        fs::path reply = methodReply(in, "ReportStatusResponse", 0, false);
        if (transferKind == kFetch) updateCenterStatus(centerRecord.sectionName, kStatusDone);
        copyLoggedValues();
        phase = kReportAnswered; // the server's closing call logs the normal end
        return reply;
    } catch (const PLException& refused) {
        return reportRefusal(in, refused.code());
    }
}

fs::path CenterNetwork::State::reportRefusal(const Intake& in, std::int32_t code) {
    updateCenterStatus(centerRecord.sectionName, kStatusWaiting);
    if (!endReported) {
        if (transferKind == kDelivery)
            fire(kDeliveryFailed);
        else if (transferKind == kFetch)
            fire(in.noFilePermission() && code == kResultNoFile ? kFetchDone : kFetchFailed);
    }
    endReported = true;
    resultCode = code;
    std::int32_t detail = detailFor(code, in.request.socket);
    writeSession({.outcome = kWarning,
                  .level = 1,
                  .start = startTime,
                  .phase = phase,
                  .result = code,
                  .detail = detail,
                  .sessionId = sessionId});
    return methodReply(in, "ReportStatusResponse", code);
}

} // namespace plx
