#pragma once
// The API log line: one per method call of the service.

#include <cstdint>
#include <string>
#include <string_view>

namespace plx {

struct ApiCall {
    std::int32_t code = 0;   // LastErrorCd
    std::int32_t detail = 0; // LastErrorCdDetail
    std::string_view message;
    std::string_view sessionId;
    std::string_view apiName;
    std::string_view argumentLine; // the method's arguments, joined with commas
};

// "stamp,code,detail,message,sessionId,apiName,argumentLine" without the line
// end, cut to ApiLog::kLineLimit bytes at a character boundary; stamp is the
// fourteen-digit local time of writing.
std::string formatApiRecord(std::string_view stamp, const ApiCall& call);

} // namespace plx
