#pragma once
// What every API method of Client, Transport and Retrieve shares: the error
// triple, the argument line of the API log, and the run of one method
// (clear, check, work, log, report).

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "api/ApiErrors.h"

namespace plx {

// A failure inside a method. Zero code, detail or an empty message are
// filled by the method's defaults unless final is set.
class ApiError : public std::runtime_error {
public:
    ApiError(std::int32_t code, std::int32_t detail, std::string message, bool final = false)
        : std::runtime_error(message), code(code), detail(detail), message(std::move(message)), final(final) {}
    std::int32_t code;
    std::int32_t detail;
    std::string message;
    bool final;
};

// An argument check failed: code 4 with the argument's 1-based position.
inline ApiError argumentError(std::int32_t position, std::string message) {
    return ApiError(kApiBadArgument, position, std::move(message), true);
}

struct ApiResult {
    bool failed = false;
    std::int32_t code = 0;
    std::int32_t detail = 0;
    std::string message;
    explicit operator bool() const { return !failed; }
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

inline constexpr std::size_t kClientMessageLimit = 1023;
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
    std::string_view defaultMessage; // when a failure brings no text
    std::string_view sessionId = {}; // transfers only
    std::int16_t failureLogType = 1; // event type of the failure record
};

// Runs body as one API method on triple: clears it, runs the body, and on a
// failure fills the triple (code 2, the system error and the default
// message where the failure left them unset); writes one API-log record
// either way. Returns the outcome as the triple then holds it.
ApiResult runApiMethod(ErrorTriple& triple, const ApiMethod& method, const std::function<void()>& body);

} // namespace plx
