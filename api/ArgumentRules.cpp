#include "api/ArgumentRules.h"

#include "platform/IniFile.h"
#include "platform/Utf8.h"

namespace plx {

std::optional<std::string_view> lengthFault(std::string_view value, const LengthRule& rule) {
    if (utf8Length(value) > rule.limit) return rule.tooLongText;
    if (value.empty() && !rule.missingText.empty()) return rule.missingText;
    return std::nullopt;
}

bool isAbsoluteFolder(std::string_view folder) { return !folder.empty() && folder.front() == '/'; }

bool isPlainName(std::string_view name) {
    return name.find('/') == std::string_view::npos && name != "." && name != "..";
}

bool fitsIniValue(std::string_view value) { return isIniValue(value); }

bool fitsIniSection(std::string_view value) { return value.empty() || isIniSectionName(value); }

} // namespace plx
