#pragma once
// What one call to the service came back with: the error triple of that very
// call (LastErrorCd, LastErrorCdDetail, LastErrorMsg), and its results.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "api/ApiErrors.h"

namespace plx {

struct CallStatus {
    CallStatus() = default;
    CallStatus(std::int32_t code, std::int32_t detail, std::string message)
        : code(code), detail(detail), message(std::move(message)) {}

    std::int32_t code = kApiOk;
    std::int32_t detail = 0;
    std::string message;
    // The bus error's name when the bus or the library, not the service,
    // failed the call (an unreachable status made by busFailure); else empty.
    std::string busError;

    bool ok() const { return code == kApiOk; }
    friend bool operator==(const CallStatus&, const CallStatus&) = default;
};

// The service could not be reached, did not answer, or its objects could not
// be made: code 1, detail 99 and a message that says so. Never a silent 0.
CallStatus unreachableStatus(std::string_view reason);
// The same for a call the bus failed: the error's name is the reason and is
// kept as busError.
CallStatus busFailure(const std::string& errorName);

// The client programs' failure box text: the failed step, then "コード：　",
// "内容：　" and "詳細コード：　" lines with the triple, joined by CR LF.
std::string failureBoxText(std::string_view firstLine, const CallStatus& triple);

// The results of a call that has none.
using NoResult = std::monostate;

template <typename T>
struct CallResult {
    CallStatus status;
    T value{};
};

} // namespace plx
