#pragma once
// One-call reads and writes of an ini file, for setting up and checking
// test trees (the program itself goes through IniDocument and updateProfile).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IniFile.h"

namespace plx {

// A missing file reads as empty.
inline std::string getProfileString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                                    std::string_view fallback = {}) {
    return IniDocument::load(file).get(section, key, fallback);
}

inline std::vector<std::string> getProfileSectionNames(const std::filesystem::path& file) {
    return IniDocument::load(file).sectionNames();
}

inline void writeProfileString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                               std::string_view value) {
    updateProfile(file, [&](IniDocument& doc) { doc.set(section, key, value); });
}

} // namespace plx
