#pragma once
// The two length limits that every part of the system shares.

#include <cstddef>

namespace plx {

// A file name: a client's, a temporary, a center's or a stored one
// (characters).
inline constexpr std::size_t kFileNameLimit = 64;
// A text value: a settings value, a text of a log record, the Client's
// LastErrorMsg (bytes, cut on a character boundary).
inline constexpr std::size_t kTextLimit = 1023;

} // namespace plx
