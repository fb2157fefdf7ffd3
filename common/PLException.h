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
//
// The error policy, layer by layer:
// - platform and common throw: std::system_error with the failed call's
//   errno, or a type of their own that says why (IniFormatError,
//   EntitySource::Error, ProducerFailure); they know no error classes.
// - The center link's transport returns must-check outcomes (HttpOutcome,
//   EntityOutcome) with the system error kept where it happened; a
//   Conversation step turns an outcome into a PLException (fail()).
// - A system error becomes a (code, detail, text) in one place: systemStep
//   below, around the step whose failure it names. What no step names
//   reaches runApiMethod (service/classes/ApiMethod.h), the last systemStep,
//   as the method's default class.
// - Class 5 (kApiCenterError): the detail is the center's result code; 1
//   for every communication failure; the system error of data that could
//   not go (99 when there is none). Detail 1 is thus both a failed
//   conversation and EPERM of a file the service may not read; clients
//   have always seen it so, and it stays.

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

// Which failures of a step systemStep answers for.
enum class StepFailures {
    kSystem,            // a std::system_error; anything else passes on
    kAllButPLException, // every failure but a PLException, which passes as it says
    kAll,               // every failure, a PLException included
};

// The detail of the failure in flight (called inside a catch): a
// std::system_error's errno, EINVAL for a value an ini file cannot carry,
// else 0.
std::int32_t detailOfCurrentFailure();

// Runs step and tells the failures of scope it throws as
// PLException(code, detailOfCurrentFailure(), message): the failure told as
// the step's. The one place a system error becomes a method's failure.
template <typename Step>
void systemStep(std::int32_t code, std::string_view message, Step&& step, StepFailures scope = StepFailures::kSystem) {
    try {
        std::forward<Step>(step)();
    } catch (const std::system_error& e) {
        throw PLException(code, e.code().value(), message);
    } catch (const PLException&) {
        if (scope != StepFailures::kAll) throw;
        throw PLException(code, 0, message);
    } catch (...) {
        if (scope == StepFailures::kSystem) throw;
        throw PLException(code, detailOfCurrentFailure(), message);
    }
}

} // namespace plx
