#include "client/CallStatus.h"

namespace plx {

CallStatus unreachableStatus(std::string_view reason) {
    std::string message = "サービスに接続できません";
    if (!reason.empty()) message += "（" + std::string(reason) + "）";
    return CallStatus{kApiNotReady, kInitFailureDetail, std::move(message)};
}

} // namespace plx
