#pragma once
// Expands gzip data pushed in pieces of any size, handing the plain bytes
// to a sink as they come: a receive can decode, expand and hash in one pass.
//
// It reads the way the zlib gzip file reader does, so that a file expanded
// here and one expanded by gunzipFile agree: data that does not begin with
// the gzip magic bytes passes through unchanged; members that follow one
// another are expanded in turn; after a member, bytes that do not begin
// another member are ignored.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "common/ByteSink.h"

namespace plx {

class GzipInflater {
public:
    enum class Failure {
        None,
        Corrupt,   // not a valid deflate stream, or a wrong CRC or length
        Truncated, // the input ended inside a member
        TooLarge,  // the output would exceed maxOutputBytes
        Sink,      // the sink refused
    };

    explicit GzipInflater(ByteSink sink, std::uint64_t maxOutputBytes = std::numeric_limits<std::uint64_t>::max());
    ~GzipInflater();
    GzipInflater(const GzipInflater&) = delete;
    GzipInflater& operator=(const GzipInflater&) = delete;

    // False once anything failed; later calls fail too.
    bool write(const void* data, std::size_t size);
    // The end of the input: false when it ended inside a member.
    bool finish();

    Failure failure() const { return failure_; }
    std::uint64_t bytesOut() const { return bytesOut_; }

private:
    enum class Mode { Detect, Pass, Inflate, AfterMember, Ignore };

    bool fail(Failure why);
    bool deliver(const void* data, std::size_t size);
    bool inflateSome(const unsigned char*& data, std::size_t& size);
    bool startMember();

    struct Stream;
    ByteSink sink_;
    std::uint64_t limit_;
    std::unique_ptr<Stream> stream_;
    Mode mode_ = Mode::Detect;
    unsigned char lead_[2] = {};
    std::size_t leadCount_ = 0;
    std::vector<unsigned char> out_;
    std::uint64_t bytesOut_ = 0;
    Failure failure_ = Failure::None;
};

} // namespace plx
