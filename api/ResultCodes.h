#pragma once
// Texts of the center's result codes.

#include <cstdint>
#include <string>
#include <string_view>

namespace plx {

// For the certificate registration's failure message: carries the code.
std::string centerResultText(std::int32_t code);
// For LastErrorMsg when the center answers with a failure code.
std::string_view centerResultMessage(std::int32_t code);

} // namespace plx
