#pragma once
// Where a streaming encoder delivers its output, a piece at a time.

#include <cstddef>
#include <functional>
#include <system_error>

namespace plx {

// Takes every byte it is given and returns true, or returns false to end
// the stream: the producer then stops and reports failure. The sink keeps
// the detail of its own failure (an errno, a socket error).
using ByteSink = std::function<bool(const void* data, std::size_t size)>;

// Writes everything to fd. A failed write ends the stream (the sink returns
// false) and keeps that write's errno for error().
class FdSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}
    FdSink(const FdSink&) = delete;
    FdSink& operator=(const FdSink&) = delete;

    // For the producer; valid while this object lives.
    ByteSink sink();
    // The failed write's error; empty while every write went through.
    std::error_code error() const { return error_; }

private:
    int fd_;
    std::error_code error_;
};

} // namespace plx
