#include "service/classes/Transfer.h"

#include "centerlink/CertificateRegistration.h"
#include "centerlink/SessionControl.h"
#include "common/IniLocks.h"
#include "service/classes/TransferSupport.h"

namespace plx {

namespace {

constexpr StepFailure kNotConnected{kApiCenterError, 1, "接続に失敗", kResultCommunication};
constexpr const char* kKindsUnreadText = "ファイル管理ファイルからのデータ取得に失敗";

StepFailure kindsUnread(const ApiResult& search) {
    return {kApiSystemError, search.systemError(), kKindsUnreadText, kResultOther};
}

} // namespace

Transfer::Transfer(Transport& transport, const TransferRules& rules, std::string target, SessionLog::TransferKind kind,
                   std::string argumentLine)
    : Conversation(std::move(target), kind, true), transport_(transport), client_(transport.client()),
      triple_(transport.triple()), rules_(rules), argumentLine_(std::move(argumentLine)) {
    recorded_ = false; // until the data kind is known
}

ApiResult Transfer::run() {
    CountingSemaphore session(kSessionCount, kSessionSemaphoreName);
    if (!session.acquireUnlessStopped(1, kSessionWaitMs)) return triple_.set(kApiNotReady, 0, "セッション中止");
    triple_.clear();
    try {
        steps();
        return succeeded();
    } catch (const RegistrationFailure& refused) {
        // Ended before the conversation began: no record of either kind.
        return triple_.set(refused.code(), refused.detail(), refused.message());
    } catch (const PLException& failure) {
        return failed(failure);
    } catch (...) {
        return failedUnexpectedly();
    }
}

void Transfer::useCheckedSettings() {
    settings_ = loadCheckedSettings();
    useSettings(*settings_);
}

// The route comes from the same read of plterm.ini.
void Transfer::readTerminalInfo() {
    TerminalRec terminal;
    if (ApiResult read = client_.PLGetTermInfo(terminal, &route_); read.failed)
        fail({kApiSystemError, read.systemError(), "端末管理ファイルからの情報取得に失敗", kResultOther});
    terminal_ = std::move(terminal);
}

void Transfer::readDefinition(const std::string& fileType, const StepFailure& notOne, bool recordedOnceFound) {
    NamedLock kinds(fileIniMutex());
    std::int32_t count = 0;
    if (ApiResult search = client_.PLGetFileInfo(fileType, 0, "", "", 0, 0, count); search.failed)
        fail(kindsUnread(search));
    if (count != 1) fail(notOne);
    recorded_ = recordedOnceFound;
    if (ApiResult take = client_.PLGetFileInfoAt(0, file_); take.failed) fail(kindsUnread(take));
}

void Transfer::connect() {
    connectForTransfer(
        [this](const CenterRoute& route) {
            sslRegist([this](TerminalRec& out) { return !client_.PLGetTermInfo(out).failed; }, route);
        },
        kNotConnected);
    http_.startProgressThread(&transport_, settings_->noticeInterval);
}

AuthenticationRequest Transfer::authenticationRequest(std::string resendFlag) const {
    AuthenticationRequest request;
    request.password = terminal_->Password;
    request.protocolVersion = terminal_->ProtocolVersion;
    request.serviceNo = std::to_string(file_.ServiceNo);
    request.protocolFileName = file_.ProtocolFilename;
    request.accessKey = file_.AccessKey;
    request.resendFlag = std::move(resendFlag);
    return request;
}

ApiMethod Transfer::apiMethod(std::string_view sessionId) const {
    return {.name = rules_.apiName,
            .argumentLine = argumentLine_,
            .defaultMessage = "",
            .sessionId = sessionId,
            .failureLogType = failureLogType(),
            .defaultCode = kApiTransferFailure};
}

ApiResult Transfer::finish(const ApiResult& outcome, std::int32_t result) {
    writeApiRecord(apiMethod(sessionId_), outcome.failed ? ApiLog::kErrorEvent : ApiLog::kNoEvent, outcome);
    phase_ = SessionLog::kEnded;
    result_ = result;
    writeSessionRecord(SessionLog::kNormalEnd, SessionLog::kLevelNormal);
    return outcome;
}

std::int16_t Transfer::failureLogType() const {
    return rules_.warnsAfterAuthentication && phase_ > SessionLog::kAuthReply ? ApiLog::kWarningEvent
                                                                              : ApiLog::kErrorEvent;
}

void Transfer::writeFailureRecord(bool early) {
    if (early)
        writeSessionRecord(SessionLog::kAbnormalEnd, SessionLog::kLevelError);
    else
        writeSessionRecord(SessionLog::kWarning, SessionLog::kLevelWarning);
}

ApiResult Transfer::failed(const PLException& failure) {
    if (result_ == kResultOk) result_ = kResultOther;
    ApiResult stored = endFailedMethod(triple_, apiMethod(sessionId_), failure);
    if (recorded_) {
        writeFailureRecord(phase_ <= SessionLog::kFileReply);
    }
    return stored;
}

ApiResult Transfer::failedUnexpectedly() {
    ApiResult stored =
        endFailedMethod(triple_, apiMethod(rules_.unknownWithSessionId ? std::string_view(sessionId_) : ""),
                        PLException(kApiTransferFailure, 0, rules_.unknownText));
    if (recorded_ || rules_.unknownAlwaysRecorded) {
        writeFailureRecord(phase_ < SessionLog::kFileRequest);
    }
    return stored;
}

} // namespace plx
