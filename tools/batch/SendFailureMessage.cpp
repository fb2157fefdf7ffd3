#include "tools/batch/SendFailureMessage.h"

#include <array>
#include <utility>

#include "api/ApiErrors.h"

namespace plx {

namespace {

// Spellings as the downstream log readers know them.
constexpr std::array<std::pair<std::int32_t, std::string_view>, 9> kMessages{{
    {1, "Transmission Obstacled"},
    {11, "Invalid Gyoumu No."},
    {12, "Invalid Terminal ID"},
    {13, "Invalid Terminal ID"},
    {14, "Not in Service"},
    {17, "Terminal Under Coomunication"},
    {30, "Protocal Filename Invalid"},
    {32, "No Files"},
    {35, "API unpluged"},
}};

constexpr std::string_view kOtherError = "Other Error";

} // namespace

std::string_view sendFailureMessage(std::int32_t code, std::int32_t detail) {
    if (code != kApiCenterError) return kOtherError;
    for (const auto& [number, message] : kMessages)
        if (number == detail) return message;
    return kOtherError;
}

} // namespace plx
