#pragma once
// Base64 that streams: text pushed in pieces of any size, the result handed
// to a sink as it is ready. The file codecs and the entity extraction are
// built on these; so can a transfer that encodes straight into a request.
// Same alphabet and rules as common/Base64.h.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/ByteSink.h"

namespace plx {

// Encodes bytes into Base64 text without line breaks. Output goes to the
// sink in pieces of up to 64 KiB (whole groups of four characters).
class Base64Encoder {
public:
    explicit Base64Encoder(ByteSink sink);

    // False once the sink has refused: nothing more is encoded.
    bool write(const void* data, std::size_t size);
    // Encodes the last one or two bytes with their "=" padding and hands
    // over what is pending. False when the sink refused now or earlier.
    bool finish();

    std::uint64_t charsOut() const { return charsOut_; }

private:
    bool flush();

    ByteSink sink_;
    unsigned char carry_[3] = {}; // a group being completed across calls
    std::size_t carried_ = 0;
    std::vector<char> out_;
    std::size_t pending_ = 0;
    std::uint64_t charsOut_ = 0;
    bool failed_ = false;
};

// Decodes Base64 text. Blanks and line breaks are skipped; "=" ends the
// data and everything after it is ignored; any other byte outside the
// alphabet is an error. A final group of two or three characters without
// padding still gives its bytes; a lone character gives none.
class Base64Decoder {
public:
    explicit Base64Decoder(ByteSink sink);

    // False on a byte outside the alphabet or when the sink refused; after
    // that every call fails.
    bool write(const void* text, std::size_t size);
    // Hands over the bytes of an unfinished last group.
    bool finish();

    bool ended() const { return ended_; } // "=" seen
    bool badText() const { return badText_; }
    std::uint64_t bytesOut() const { return bytesOut_; }

private:
    ByteSink sink_;
    std::uint32_t bits_ = 0;
    int count_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    bool badText_ = false;
    std::vector<unsigned char> out_;
    std::uint64_t bytesOut_ = 0;
};

// Length of the Base64 text of size bytes: 4 * ceil(size / 3).
constexpr std::uint64_t base64Length(std::uint64_t size) { return (size + 2) / 3 * 4; }

namespace detail {

// Decodes at most limit bytes of Base64 text read from the current position
// of source into destination. Stops at "=" or at the end of the input.
bool decodeBase64Stream(int source, std::uint64_t limit, int destination);

} // namespace detail

} // namespace plx
