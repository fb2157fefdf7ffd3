#pragma once
// What every API method of Client, Transport and Retrieve shares: the error
// triple, the argument line of the API log, and the run of one method
// (clear, check, work, log, report).

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "api/ApiErrors.h"
#include "api/ArgumentRules.h"
#include "api/LogLayout.h"
#include "common/PLException.h"

namespace plx {

// An argument check failed: code 4 with the argument's 1-based position.
inline PLException argumentError(std::int32_t position, std::string_view message) {
    return PLException(kApiBadArgument, position, message, PLException::kExact);
}

// An argument longer than its rule allows, or empty where the rule needs a
// value: argumentError with the rule's text.
inline void checkArgument(std::int32_t position, std::string_view value, const LengthRule& rule) {
    if (auto fault = lengthFault(value, rule)) throw argumentError(position, *fault);
}

// The outcome of one method, as its caller gets it.
struct ApiResult {
    bool failed = false;
    std::int32_t code = 0;
    std::int32_t detail = 0;
    std::string message;
    explicit operator bool() const { return !failed; }
    // The system error behind a store or system failure (class 2); else 0.
    std::int32_t systemError() const { return failed && code == kApiSystemError ? detail : 0; }
};

// LastErrorCd, LastErrorCdDetail and LastErrorMsg of one object. Guarded:
// calls on one object may run at once; the last writer wins.
class ErrorTriple {
public:
    explicit ErrorTriple(std::size_t messageLimit) : limit_(messageLimit) {}
    void clear();
    // Returns what it stored (the message cut to the limit).
    ApiResult set(std::int32_t code, std::int32_t detail, std::string_view message);
    ApiResult get() const;
    std::int32_t code() const;
    std::int32_t detail() const;
    std::string message() const;

private:
    mutable std::mutex mutex_;
    std::size_t limit_;
    std::int32_t code_ = 0;
    std::int32_t detail_ = 0;
    std::string message_;
};

inline constexpr std::size_t kObjectMessageLimit = 255;

// The API log's argument line: values joined by commas, numbers in decimal.
class ArgumentLine {
public:
    ArgumentLine& operator<<(std::string_view text);
    ArgumentLine& operator<<(std::int32_t number);
    const std::string& text() const { return text_; }

private:
    void separate();
    std::string text_;
    bool first_ = true;
};

struct ApiMethod {
    std::string_view name; // as the API log names it
    std::string argumentLine;
    std::string_view defaultMessage;                   // when a failure brings no text
    std::string_view sessionId = {};                   // transfers only
    std::int16_t failureLogType = ApiLog::kErrorEvent; // event type of the failure record
    std::int32_t defaultCode = kApiSystemError;        // when a failure names no class
};

// The API-log record of one call of method: type and the outcome's triple.
void writeApiRecord(const ApiMethod& method, std::int16_t type, const ApiResult& outcome);

// The end of every method that failed: failure completed by the method's
// defaults unless it is exact, stored in triple, and one API-log record of
// the method's failure type. Returns the call's own outcome, as stored.
ApiResult endFailedMethod(ErrorTriple& triple, const ApiMethod& method, const PLException& failure);

// Runs body as one API method on triple: clears it, runs the body, and
// turns what it throws into the triple: a PLException as it says (its code
// and message completed by the method's defaults unless it is exact),
// anything else through systemStep as the default class with its detail. Writes one API-log record either way.
// Returns the call's own outcome, whatever another call on the same object
// has stored since.
ApiResult runApiMethod(ErrorTriple& triple, const ApiMethod& method, const std::function<void()>& body);

} // namespace plx
