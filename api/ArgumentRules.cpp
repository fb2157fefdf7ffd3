#include "api/ArgumentRules.h"

#include "platform/Utf8.h"

namespace plx {

std::optional<std::string_view> lengthFault(std::string_view value, const LengthRule& rule) {
    if (utf8Length(value) > rule.limit) return rule.tooLongText;
    if (value.empty() && !rule.missingText.empty()) return rule.missingText;
    return std::nullopt;
}

} // namespace plx
