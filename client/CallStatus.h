#pragma once
// What one call to the service came back with: the error triple of that very
// call (LastErrorCd, LastErrorCdDetail, LastErrorMsg), and its results.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "api/ApiErrors.h"

namespace plx {

struct CallStatus {
    std::int32_t code = kApiOk;
    std::int32_t detail = 0;
    std::string message;

    bool ok() const { return code == kApiOk; }
    friend bool operator==(const CallStatus&, const CallStatus&) = default;
};

// The service could not be reached, did not answer, or its objects could not
// be made: code 1, detail 99 and a message that says so. Never a silent 0.
CallStatus unreachableStatus(std::string_view reason);

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
