#include "pllog/ApiRecord.h"

#include <algorithm>

#include "api/LogLayout.h"
#include "platform/Utf8.h"
#include "pllog/FieldText.h"

namespace plx {

std::string formatApiRecord(std::string_view stamp, const ApiCall& call) {
    // Only what fits is looked at: a field far beyond the line's limit is cut first.
    auto fitting = [](std::string_view text) { return text.substr(0, std::min(text.size(), ApiLog::kLineLimit)); };
    std::string line(stamp);
    line += ',';
    line += std::to_string(call.code);
    line += ',';
    line += std::to_string(call.detail);
    line += ',';
    line += valueField(fitting(call.message));
    line += ',';
    line += valueField(fitting(call.sessionId));
    line += ',';
    line += valueField(fitting(call.apiName));
    line += ',';
    // The one field allowed to span several columns.
    line += listField(fitting(call.argumentLine));
    return utf8Truncate(line, ApiLog::kLineLimit);
}

} // namespace plx
