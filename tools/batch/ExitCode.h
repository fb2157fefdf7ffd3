#pragma once
// A process exit status keeps only 8 bits: a code is used as the status only
// when it fits, so that no failure ever ends as 0.

#include <cstdint>

namespace plx {

// code when it is 1..255, else fallback.
inline int exitStatusOf(std::int64_t code, int fallback) {
    return code >= 1 && code <= 255 ? static_cast<int>(code) : fallback;
}

} // namespace plx
