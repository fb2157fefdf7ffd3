#pragma once
// Where a streaming encoder delivers its output, a piece at a time.

#include <cstddef>
#include <functional>

namespace plx {

// Takes every byte it is given and returns true, or returns false to end
// the stream: the producer then stops and reports failure. The sink keeps
// the detail of its own failure (an errno, a socket error).
using ByteSink = std::function<bool(const void* data, std::size_t size)>;

// Writes everything to fd; on a failed write, error receives the errno at
// once and the sink returns false.
ByteSink fdSink(int fd, int& error);

} // namespace plx
