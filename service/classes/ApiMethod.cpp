#include "service/classes/ApiMethod.h"

#include "common/LogBridge.h"
#include "platform/Utf8.h"

namespace plx {

void ErrorTriple::clear() { set(0, 0, ""); }

ApiResult ErrorTriple::set(std::int32_t code, std::int32_t detail, std::string_view message) {
    std::string text = utf8Truncate(utf8Sanitize(message), limit_);
    ApiResult stored{code != 0, code, detail, text};
    std::lock_guard lock(mutex_);
    code_ = code;
    detail_ = detail;
    message_ = std::move(text);
    return stored;
}

ApiResult ErrorTriple::get() const {
    std::lock_guard lock(mutex_);
    return ApiResult{code_ != 0, code_, detail_, message_};
}

std::int32_t ErrorTriple::code() const {
    std::lock_guard lock(mutex_);
    return code_;
}

std::int32_t ErrorTriple::detail() const {
    std::lock_guard lock(mutex_);
    return detail_;
}

std::string ErrorTriple::message() const {
    std::lock_guard lock(mutex_);
    return message_;
}

void ArgumentLine::separate() {
    if (!first_) text_ += ',';
    first_ = false;
}

ArgumentLine& ArgumentLine::operator<<(std::string_view text) {
    separate();
    text_ += text;
    return *this;
}

ArgumentLine& ArgumentLine::operator<<(std::int32_t number) {
    separate();
    text_ += std::to_string(number);
    return *this;
}

namespace {

ApiResult failureOf(const PLException& e, const ApiMethod& method) {
    ApiResult r{true, e.code(), e.detail(), e.message()};
    if (e.exact()) return r;
    if (r.code == kApiOk) r.code = method.defaultCode;
    if (r.message.empty()) r.message = method.defaultMessage;
    return r;
}

} // namespace

void writeApiRecord(const ApiMethod& method, std::int16_t type, const ApiResult& outcome) {
    callLogAPI(type, outcome.code, outcome.detail, outcome.message, method.sessionId, method.name, method.argumentLine);
}

ApiResult endFailedMethod(ErrorTriple& triple, const ApiMethod& method, const PLException& failure) {
    ApiResult outcome = failureOf(failure, method);
    // The call's own outcome, as stored: another call on the same object
    // may replace the triple at once.
    ApiResult stored = triple.set(outcome.code, outcome.detail, outcome.message);
    stored.failed = true; // a failure may keep code 0 where its method says so
    writeApiRecord(method, method.failureLogType, stored);
    return stored;
}

ApiResult runApiMethod(ErrorTriple& triple, const ApiMethod& method, const std::function<void()>& body) {
    triple.clear();
    try {
        // Code 0: the method's default class completes it.
        systemStep(kApiOk, "", body, StepFailures::kAllButPLException);
    } catch (const PLException& e) {
        return endFailedMethod(triple, method, e);
    }
    writeApiRecord(method, ApiLog::kNoEvent, ApiResult{});
    return ApiResult{};
}

} // namespace plx
