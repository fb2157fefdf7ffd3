#pragma once
// Base64 (RFC 2045 alphabet, "=" padding, no line breaks), for text and
// for whole files, streamed in blocks.

#include <filesystem>
#include <string>
#include <string_view>

namespace plx {

std::string encodeBase64(std::string_view bytes);

// Writes the Base64 text of source into destination (created or
// truncated). False when a file cannot be opened, read or written.
bool encodeFileBase64(const std::filesystem::path& source, const std::filesystem::path& destination);

// Decodes a file of Base64 text into destination. Blanks and line breaks
// are skipped, "=" ends the data; any other byte outside the alphabet makes
// it fail. False on failure (the destination may be partly written).
bool decodeFileBase64(const std::filesystem::path& source, const std::filesystem::path& destination);

} // namespace plx
