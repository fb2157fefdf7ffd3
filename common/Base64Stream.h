#pragma once
// The streaming Base64 decoder shared by the file decoder and the entity
// extraction.

#include <cstdint>

namespace plx::detail {

// Decodes at most limit bytes of Base64 text read from the current position
// of source into destination. Stops at "=" or at the end of the input.
bool decodeBase64Stream(int source, std::uint64_t limit, int destination);

} // namespace plx::detail
