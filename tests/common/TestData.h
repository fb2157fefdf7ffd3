#pragma once
// Test data, and zlib helpers independent of the code under test.

#include <cstddef>
#include <string>

namespace plx::test {

// Alternating stretches of random bytes and repetitive text, like the log
// and data files that are shipped.
std::string mixedData(std::size_t size, unsigned seed);
// Bytes that do not compress.
std::string randomData(std::size_t size, unsigned seed);

// One gzip member made with zlib's deflate directly at the default level.
std::string gzipInMemory(const std::string& data);
// Inflates exactly one gzip member that must span all of data; throws
// unless it is complete, intact and followed by nothing.
std::string gunzipInMemory(const std::string& data);

} // namespace plx::test
