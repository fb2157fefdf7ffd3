#pragma once
// The one failure inside the service, carried from where it happens to the
// API method that answers for it:
// - code: the error class of LastErrorCd (api/ApiErrors.h), nothing else; a
//   refusal the gateway answers with a center result code is a
//   CenterRefusal (common/CenterRefusal.h);
// - detail: the system error (errno) captured where the failure happened,
//   an argument's position, or a center result code (class 5); never an
//   errno read later, after other work has run;
// - message: the text for LastErrorMsg.
// A method boundary completes what a failure leaves open (code 0, an empty
// message) with the method's defaults, unless the failure says it is exact.

#include <cerrno>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace plx {

class PLException : public std::exception {
public:
    enum Defaults { kFillDefaults, kExact };

    PLException(std::int32_t code, std::int32_t detail, std::string_view message, Defaults defaults = kFillDefaults)
        : code_(code), detail_(detail), message_(message), defaults_(defaults) {}

    std::int32_t code() const { return code_; }
    std::int32_t detail() const { return detail_; }
    const std::string& message() const { return message_; }
    bool exact() const { return defaults_ == kExact; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::int32_t code_;
    std::int32_t detail_;
    std::string message_;
    Defaults defaults_;
};

// Runs step, work of system calls; the std::system_error it throws leaves
// as PLException(code, its error, message): the failure told as the step's.
template <typename Step>
void systemStep(std::int32_t code, std::string_view message, Step&& step) {
    try {
        std::forward<Step>(step)();
    } catch (const std::system_error& e) {
        throw PLException(code, e.code().value(), message);
    }
}

} // namespace plx
