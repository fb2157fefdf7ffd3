#pragma once
// Fields of a comma-separated text list: commas and unquoted blanks separate
// fields; a field in double quotes may hold commas and blanks ("" inside
// quotes is one quote). "a,,b" has an empty middle field; a comma at the
// end adds an empty last field.

#include <string>
#include <string_view>
#include <vector>

namespace plx::uninst {

std::vector<std::string> splitCommaText(std::string_view text);

} // namespace plx::uninst
