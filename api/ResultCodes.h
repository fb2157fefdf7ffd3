#pragma once
// The center's result codes (the ResultCode of every SOAP reply, and the
// result of a session-log record) and their texts.

#include <cstdint>
#include <string>
#include <string_view>

namespace plx {

enum CenterResult : std::int32_t {
    kResultOk = 0,
    kResultCommunication = 1, // no connection, or no reply
    kResultBadMessage = 10,
    kResultServiceNo = 11,
    kResultOwnTerminalId = 12,
    kResultPeerTerminalId = 13,
    kResultPassword = 15,
    kResultProtocolFileName = 30,
    kResultAccessKey = 31,
    kResultNoFile = 32,
    kResultDoubleTransfer = 33,
    kResultNoApplication = 35,
    kResultFileLength = 41,
    kResultUnpack = 51,
    kResultOther = 99,
};

// For the certificate registration's failure message: carries the code.
std::string centerResultText(std::int32_t code);
// For LastErrorMsg when the center answers with a failure code.
std::string_view centerResultMessage(std::int32_t code);

} // namespace plx
