#pragma once
// File-to-file gzip compression and expansion, streamed.

#include <cstdint>
#include <filesystem>
#include <limits>

namespace plx {

// Compresses source into a gzip file at destination (default level).
// False when a file cannot be opened, read or written.
bool gzipFile(const std::filesystem::path& source, const std::filesystem::path& destination);

// Expands gzip data from source into destination (created first). Data that
// is not gzip is copied unchanged. False when a file cannot be opened, the
// stream is corrupt or truncated, a write fails, or the output would exceed
// maxOutputBytes.
bool gunzipFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                std::uint64_t maxOutputBytes = std::numeric_limits<std::uint64_t>::max());

} // namespace plx
