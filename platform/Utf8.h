#pragma once
// UTF-8 helpers: byte limits are kept without splitting a character.

#include <cstddef>
#include <string>
#include <string_view>

namespace plx {

// The longest prefix of text that fits in maxBytes and ends on a character
// boundary. Invalid bytes count as one-byte characters.
std::string utf8Truncate(std::string_view text, std::size_t maxBytes);

// The first maxCharacters characters of text (counted as utf8Length does).
std::string utf8TruncateCharacters(std::string_view text, std::size_t maxCharacters);

bool isValidUtf8(std::string_view text);

// Characters in text: the unit of every length limit the users see.
// Invalid bytes count one each.
std::size_t utf8Length(std::string_view text);

// Text with every invalid byte sequence replaced by U+FFFD.
std::string utf8Sanitize(std::string_view text);

// ASCII-only case helpers (names in ini files and headers are ASCII).
bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::string toUpperAscii(std::string_view text);
std::string toLowerAscii(std::string_view text);

} // namespace plx
