#pragma once
// Path texts that may have been written on either platform.

#include <string>
#include <string_view>

namespace plx {

// The text after the last "/" or "\"; the whole text when it has neither.
inline std::string_view fileNamePart(std::string_view path) {
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// folder + name with exactly one "/" between them; name alone when folder is empty.
inline std::string joinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string out(folder);
    if (out.back() != '/') out += '/';
    out += name;
    return out;
}

} // namespace plx
