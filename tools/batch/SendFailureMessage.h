#pragma once
// The English message the send tool logs for a failed send. The table speaks
// of the center's result codes, so it applies only to a center failure
// (code 5, the result code in the detail); every other failure, whose detail
// is an argument number or a system error, is "Other Error".

#include <cstdint>
#include <string_view>

namespace plx {

std::string_view sendFailureMessage(std::int32_t code, std::int32_t detail);

} // namespace plx
