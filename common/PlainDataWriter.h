#pragma once
// Where the decoded body of a received file goes, a piece at a time as it
// arrives: expanded first when it travelled gzip-compressed (never beyond a
// limit), hashed (MD5) and written to its file. A receive thus decodes,
// expands, hashes and stores in one pass.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "common/GzipInflater.h"
#include "common/Md5.h"

namespace plx {

class PlainDataWriter {
public:
    enum class Failure {
        None,
        Expansion, // corrupt or truncated gzip data, or more than the limit
        Write,     // the file refused
    };

    // Why the data could not be stored, with the system error behind a
    // refused write (0 otherwise).
    class Error {
    public:
        Error() = default;
        Error(Failure why, int systemError) : why_(why), systemError_(systemError) {}
        Failure why() const { return why_; }
        int systemError() const { return systemError_; }

    private:
        Failure why_ = Failure::None;
        int systemError_ = 0;
    };

    // fd: the file the plain data goes to (-1: nowhere, only hashed); the
    // writer does not own it. expand: the bytes are gzip data, expanded as
    // gunzipFile does (data that is not gzip passes unchanged) to at most
    // limit bytes.
    PlainDataWriter(int fd, bool expand, std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());
    ~PlainDataWriter();
    PlainDataWriter(const PlainDataWriter&) = delete;
    PlainDataWriter& operator=(const PlainDataWriter&) = delete;

    // False once anything failed; later calls are ignored.
    bool write(const void* data, std::size_t size);
    // The end of the data: false when it failed now or before.
    bool finish();
    // Everything readable from fd's position on, then finish.
    bool writeFrom(int fd);

    // What failed; Failure::None while nothing did.
    const Error& error() const { return error_; }
    // 32 lower-case hex digits of the plain data, once finished without a
    // failure; empty otherwise.
    const std::string& md5() const { return md5_; }
    std::uint64_t bytesOut() const { return bytesOut_; }

private:
    bool store(const void* data, std::size_t size);
    bool failed() const { return error_.why() != Failure::None; }
    // Keeps the first failure; returns false for the caller to pass on.
    bool fail(Failure why, int systemError = 0);

    int fd_;
    std::unique_ptr<GzipInflater> inflater_;
    Md5 hash_;
    std::string md5_;
    std::uint64_t bytesOut_ = 0;
    Error error_;
    bool finished_ = false;
};

} // namespace plx
