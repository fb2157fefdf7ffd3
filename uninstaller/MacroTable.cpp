#include "uninstaller/MacroTable.h"

#include "platform/TempFile.h"
#include "platform/Utf8.h"

namespace plx::uninst {

namespace {

struct PlatformFolder {
    const char* macro;
    const char* folder; // nullptr: the temporary folder of the moment
};

// Where this platform keeps what the shell's special folders held.
constexpr PlatformFolder kPlatformFolders[] = {
    {":WINDIR:", "/etc"},                  // system-wide settings
    {":WINSYSDIR:", "/usr/local/lib"},     // libraries the administrator installs
    {":FONTS:", "/usr/local/share/fonts"}, // fonts for every user
    {":PROGRAMFILES:", "/opt"},            // add-on programs
    {":COMMONFILES:", "/opt/common"},      // parts shared by several products
    {":TEMP:", nullptr},                   // $TMPDIR, else /tmp
    {":USERNAME:", ""},
    {":USERCOMPANY:", ""},
};

} // namespace

std::vector<Macro> platformMacros() {
    std::vector<Macro> macros;
    for (const auto& f : kPlatformFolders)
        macros.push_back({f.macro, f.folder ? std::string(f.folder) : systemTempFolder().string()});
    return macros;
}

std::string platformFolder(std::string_view macro) {
    for (auto& m : platformMacros())
        if (m.name == macro) return m.value;
    return {};
}

void MacroTable::add(std::string name, std::string value) { entries_.push_back({std::move(name), std::move(value)}); }

std::string MacroTable::expand(std::string_view text) const {
    std::string result(text);
    for (const auto& macro : entries_) {
        if (result.find(':') == std::string::npos) break;
        if (macro.name.empty()) continue;
        std::string replaced;
        std::size_t i = 0;
        while (i < result.size()) {
            if (result.size() - i >= macro.name.size() &&
                equalsIgnoreCase(std::string_view(result).substr(i, macro.name.size()), macro.name)) {
                replaced += macro.value;
                i += macro.name.size();
            } else {
                replaced += result[i++];
            }
        }
        result = std::move(replaced);
    }
    return result;
}

} // namespace plx::uninst
