#include "service/classes/ApiMethod.h"

#include <system_error>

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

ApiResult runApiMethod(ErrorTriple& triple, const ApiMethod& method, const std::function<void()>& body) {
    triple.clear();
    ApiResult outcome;
    try {
        body();
    } catch (const PLException& e) {
        outcome = failureOf(e, method);
    } catch (const std::system_error& e) {
        outcome = {true, method.defaultCode, e.code().value(), std::string(method.defaultMessage)};
    } catch (...) {
        outcome = {true, method.defaultCode, 0, std::string(method.defaultMessage)};
    }

    if (!outcome.failed) {
        callLogAPI(ApiLog::kNoEvent, 0, 0, "", method.sessionId, method.name, method.argumentLine);
        return ApiResult{};
    }
    // The call's own outcome, as stored: another call on the same object
    // may replace the triple at once.
    ApiResult stored = triple.set(outcome.code, outcome.detail, outcome.message);
    stored.failed = true; // a failure may keep code 0 where its method says so
    callLogAPI(method.failureLogType, stored.code, stored.detail, stored.message, method.sessionId, method.name,
               method.argumentLine);
    return stored;
}

} // namespace plx
