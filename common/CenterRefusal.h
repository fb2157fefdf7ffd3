#pragma once
// A request refused with a center result code (api/ResultCodes.h), the
// code a gateway reply and its session record carry; never an error class
// of LastErrorCd. The reason (what()) is neither sent nor logged. Kept apart
// from PLException so that a PLException's code is always an error class.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace plx {

class CenterRefusal : public std::exception {
public:
    CenterRefusal(std::int32_t result, std::string_view reason) : result_(result), reason_(reason) {}

    std::int32_t result() const { return result_; }
    const char* what() const noexcept override { return reason_.c_str(); }

private:
    std::int32_t result_;
    std::string reason_;
};

} // namespace plx
