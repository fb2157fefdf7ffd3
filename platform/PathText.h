#pragma once
// Path texts that may have been written on either platform.

#include <string_view>

namespace plx {

// The text after the last "/" or "\"; the whole text when it has neither.
inline std::string_view fileNamePart(std::string_view path) {
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

} // namespace plx
