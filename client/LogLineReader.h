#pragma once
// Reads a log file line by line through one fixed buffer, as the logging
// library writes it and other programs may have copied it: "\n" ends a line,
// one "\r" before it is dropped, and a last line without "\n" still counts.
// A line longer than kMaxLogLineBytes is cut there (on a UTF-8 character
// boundary) and the rest of it is skipped unread into memory.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/UniqueFd.h"

namespace plx {

inline constexpr std::size_t kMaxLogLineBytes = 64 * 1024;

class LogLineReader {
public:
    // A file that cannot be opened, or is no regular file (a FIFO), reads
    // as having no lines.
    explicit LogLineReader(const std::filesystem::path& file);
    LogLineReader(const LogLineReader&) = delete;
    LogLineReader& operator=(const LogLineReader&) = delete;

    // The next line, without its line end; valid until the next call. False
    // at the end of the file and after a read failure (the line being read
    // when it failed is lost).
    bool next(std::string_view& line);

private:
    static constexpr std::size_t kBufferSize = 256 * 1024;
    static_assert(kBufferSize > kMaxLogLineBytes);

    UniqueFd fd_;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0; // start of the line being read
    std::size_t scan_ = 0;  // where the search for "\n" goes on
    std::size_t end_ = 0;   // end of the bytes read
    bool atEnd_ = false;
    bool skipping_ = false; // inside the cut-off rest of an over-long line
};

} // namespace plx
