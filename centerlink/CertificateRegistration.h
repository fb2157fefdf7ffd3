#pragma once
// The terminal's client certificate: a key pair and a certificate request
// made here, registered with the center ("/regist"), and the certificate it
// returns, kept in the temporary-files folder.

#include <cstdint>
#include <functional>
#include <optional>

#include "api/ApiRecords.h"
#include "common/PLException.h"
#include "common/TermInfo.h"

namespace plx {

// Reads the terminal information; false when it cannot.
using TerminalReader = std::function<bool(TerminalRec&)>;

// A registration that failed: code 5, the registration's result as detail
// (1: no connection or no reply; 10: not a registration reply, or no usable
// certificate in it; 99: anything else; or the center's result code) and
// "端末の初期化に失敗したので処理を中止しました". A transfer ends with it as
// its triple, without an API-log or session-log record.
class RegistrationFailure : public PLException {
public:
    explicit RegistrationFailure(std::int32_t result);
};

// Registers the terminal's certificate unless it is there already; throws
// RegistrationFailure when that fails. One registration runs at a time in
// the process. route: the conversation's way to the center; without one,
// plterm.ini's.
void sslRegist(const TerminalReader& readTerminal, const std::optional<CenterRoute>& route = std::nullopt);

// Certificate and key files both exist and are not empty.
bool isSSLEnviroment();

} // namespace plx
