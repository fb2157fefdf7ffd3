#include "client/CallStatus.h"

namespace plx {

CallStatus unreachableStatus(std::string_view reason) {
    std::string message = "サービスに接続できません";
    if (!reason.empty()) message += "（" + std::string(reason) + "）";
    return CallStatus{kApiNotReady, kInitFailureDetail, std::move(message)};
}

CallStatus busFailure(const std::string& errorName) {
    CallStatus status = unreachableStatus(errorName);
    status.busError = errorName;
    return status;
}

std::string failureBoxText(std::string_view firstLine, const CallStatus& triple) {
    return std::string(firstLine) + "\r\nコード：　" + std::to_string(triple.code) + "\r\n内容：　" + triple.message +
           "\r\n詳細コード：　" + std::to_string(triple.detail);
}

} // namespace plx
