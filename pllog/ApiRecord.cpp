#include "pllog/ApiRecord.h"

#include "pllog/FieldText.h"

namespace plx {

std::string formatApiRecord(std::string_view stamp, const ApiCall& call) {
    std::string line(stamp);
    line += ',';
    line += std::to_string(call.code);
    line += ',';
    line += std::to_string(call.detail);
    line += ',';
    line += valueField(call.message);
    line += ',';
    line += valueField(call.sessionId);
    line += ',';
    line += valueField(call.apiName);
    line += ',';
    // The one field allowed to span several columns.
    line += listField(call.argumentLine);
    return line;
}

} // namespace plx
