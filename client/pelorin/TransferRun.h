#pragma once
// One transfer started by hand, from the send and receive dialog or as the
// re-run of a logged session: the call through the wrapper off the
// window's thread with the window busy, then the result box.

#include <QWidget>
#include <cstdint>
#include <string>

#include "client/DataKinds.h"
#include "client/ServiceWrapper.h"
#include "client/pelorin/UiServices.h"

namespace plx::pelorin {

inline constexpr const char* kTransferResultTitle = "Korvane PLX 送受信結果";

struct TransferOrder {
    const DataKind& kind;
    bool send = true;
    std::int32_t resendFlag = 0; // a receive's PLRecvData flag
};

// Sends or receives the kind's client file (plxapp.ini name split at its
// last "/") with its follow-up program, and shows "<DataName>の送信" or
// "<DataName>の受信" followed by "が正常終了しました。", or by
// "が異常終了しました。" and the wrapper's triple.
void runTransfer(QWidget* window, ServiceWrapper& wrapper, UiServices& ui, const TransferOrder& order);

} // namespace plx::pelorin
