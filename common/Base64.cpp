#include "common/Base64.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/types.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/Base64Stream.h"
#include "platform/FdIo.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Reads of the file codecs.
constexpr std::size_t kBlockSize = 0x3000;

// Decode table values above the sextet range.
constexpr std::uint8_t kSkip = 0x40;
constexpr std::uint8_t kPad = 0x41;
constexpr std::uint8_t kBad = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = kBad;
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
    table[static_cast<unsigned char>(' ')] = kSkip;
    table[static_cast<unsigned char>('\t')] = kSkip;
    table[static_cast<unsigned char>('\r')] = kSkip;
    table[static_cast<unsigned char>('\n')] = kSkip;
    table[static_cast<unsigned char>('=')] = kPad;
    return table;
}

constexpr std::array<std::uint8_t, 256> kDecode = makeDecodeTable();

// Encodes n bytes (any count) into out, which must hold 4 * ceil(n / 3)
// characters; returns the count written.
std::size_t encodeInto(const unsigned char* in, std::size_t n, char* out) {
    char* o = out;
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *o++ = kAlphabet[b0 >> 2];
        *o++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *o++ = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *o++ = kAlphabet[b2 & 63];
    }
    if (n - i == 1) {
        const unsigned b0 = in[i];
        *o++ = kAlphabet[b0 >> 2];
        *o++ = kAlphabet[(b0 & 3) << 4];
        *o++ = '=';
        *o++ = '=';
    } else if (n - i == 2) {
        const unsigned b0 = in[i], b1 = in[i + 1];
        *o++ = kAlphabet[b0 >> 2];
        *o++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *o++ = kAlphabet[(b1 & 15) << 2];
        *o++ = '=';
    }
    return static_cast<std::size_t>(o - out);
}

// Decodes n characters into out (room for 3 * (n / 4 + 1) bytes), carrying
// the sextets of an unfinished group in bits and count. Returns the count
// written, nullopt on a byte outside the alphabet; sets ended at "=".
std::optional<std::size_t> decodeInto(std::uint32_t& bits, int& count, bool& ended, const unsigned char* in,
                                      std::size_t n, unsigned char* out) {
    unsigned char* o = out;
    std::size_t i = 0;
    while (i < n) {
        // Whole groups of clean text are the common case.
        if (count == 0) {
            while (i + 4 <= n) {
                const std::uint32_t a = kDecode[in[i]], b = kDecode[in[i + 1]], c = kDecode[in[i + 2]],
                                    d = kDecode[in[i + 3]];
                if ((a | b | c | d) >= 64) break;
                const std::uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
                *o++ = static_cast<unsigned char>(v >> 16);
                *o++ = static_cast<unsigned char>(v >> 8);
                *o++ = static_cast<unsigned char>(v);
                i += 4;
            }
            if (i == n) break;
        }
        const std::uint8_t v = kDecode[in[i++]];
        if (v < 64) {
            bits = (bits << 6) | v;
            if (++count == 4) {
                *o++ = static_cast<unsigned char>(bits >> 16);
                *o++ = static_cast<unsigned char>(bits >> 8);
                *o++ = static_cast<unsigned char>(bits);
                bits = 0;
                count = 0;
            }
        } else if (v == kSkip) {
            continue;
        } else if (v == kPad) {
            ended = true;
            break;
        } else {
            return std::nullopt;
        }
    }
    return static_cast<std::size_t>(o - out);
}

// Bytes of a trailing partial group; a lone sextet carries no whole byte.
std::size_t finishDecode(std::uint32_t& bits, int& count, unsigned char* out) {
    std::size_t n = 0;
    if (count == 2) {
        out[n++] = static_cast<unsigned char>(bits >> 4);
    } else if (count == 3) {
        out[n++] = static_cast<unsigned char>(bits >> 10);
        out[n++] = static_cast<unsigned char>(bits >> 2);
    }
    bits = 0;
    count = 0;
    return n;
}

// Output pieces of the streaming encoder, and input slices of the decoder.
constexpr std::size_t kEncodeOut = 64 * 1024;
static_assert(kEncodeOut % 4 == 0);
constexpr std::size_t kDecodeSlice = 64 * 1024;

UniqueFd openForReading(const std::filesystem::path& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

UniqueFd openForWriting(const std::filesystem::path& path) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

// close() may be the first to report a failed write (NFS, quota).
bool closeChecked(UniqueFd& fd) { return ::close(fd.release()) == 0; }

} // namespace

Base64Encoder::Base64Encoder(ByteSink sink) : sink_(std::move(sink)), out_(kEncodeOut) {}

bool Base64Encoder::flush() {
    if (pending_ == 0) return true;
    if (!sink_(out_.data(), pending_)) {
        failed_ = true;
        return false;
    }
    charsOut_ += pending_;
    pending_ = 0;
    return true;
}

bool Base64Encoder::write(const void* data, std::size_t size) {
    if (failed_) return false;
    const auto* in = static_cast<const unsigned char*>(data);
    // Complete the group begun by an earlier call.
    while (carried_ > 0 && size > 0) {
        carry_[carried_++] = *in++;
        --size;
        if (carried_ == 3) {
            if (out_.size() - pending_ < 4 && !flush()) return false;
            pending_ += encodeInto(carry_, 3, out_.data() + pending_);
            carried_ = 0;
        }
    }
    while (size >= 3) {
        std::size_t room = (out_.size() - pending_) / 4 * 3;
        if (room == 0) {
            if (!flush()) return false;
            room = out_.size() / 4 * 3;
        }
        const std::size_t take = std::min(room, size / 3 * 3);
        pending_ += encodeInto(in, take, out_.data() + pending_);
        in += take;
        size -= take;
    }
    for (std::size_t i = 0; i < size; ++i) carry_[carried_++] = in[i];
    return true;
}

bool Base64Encoder::finish() {
    if (failed_) return false;
    if (carried_ > 0) {
        if (out_.size() - pending_ < 4 && !flush()) return false;
        pending_ += encodeInto(carry_, carried_, out_.data() + pending_);
        carried_ = 0;
    }
    return flush();
}

Base64Decoder::Base64Decoder(ByteSink sink) : sink_(std::move(sink)), out_(3 * (kDecodeSlice / 4 + 1)) {}

bool Base64Decoder::write(const void* text, std::size_t size) {
    if (failed_) return false;
    const auto* in = static_cast<const unsigned char*>(text);
    while (size > 0 && !ended_) {
        const std::size_t take = std::min(size, kDecodeSlice);
        const auto produced = decodeInto(bits_, count_, ended_, in, take, out_.data());
        if (!produced) {
            badText_ = true;
            failed_ = true;
            return false;
        }
        if (*produced > 0 && !sink_(out_.data(), *produced)) {
            failed_ = true;
            return false;
        }
        bytesOut_ += *produced;
        in += take;
        size -= take;
    }
    return true;
}

bool Base64Decoder::finish() {
    if (failed_) return false;
    const std::size_t rest = finishDecode(bits_, count_, out_.data());
    if (rest > 0 && !sink_(out_.data(), rest)) {
        failed_ = true;
        return false;
    }
    bytesOut_ += rest;
    return true;
}

namespace detail {

bool decodeBase64Stream(int source, std::uint64_t limit, int destination) {
    FdSink out(destination);
    Base64Decoder decoder(out.sink());
    std::vector<unsigned char> input(kBlockSize);
    while (limit > 0 && !decoder.ended()) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, limit));
        const ssize_t got = readFully(source, input.data(), want);
        if (got < 0) return false;
        if (got == 0) break;
        limit -= static_cast<std::uint64_t>(got);
        if (!decoder.write(input.data(), static_cast<std::size_t>(got))) return false;
    }
    return decoder.finish();
}

} // namespace detail

std::string encodeBase64(std::string_view bytes) {
    std::string out(base64Length(bytes.size()), '\0');
    encodeInto(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    return out;
}

bool encodeFileBase64(const std::filesystem::path& source, const std::filesystem::path& destination) {
    UniqueFd in = openForReading(source);
    if (!in) return false;
    UniqueFd out = openForWriting(destination);
    if (!out) return false;
    FdSink toFile(out.get());
    Base64Encoder encoder(toFile.sink());
    std::vector<unsigned char> input(kBlockSize);
    for (;;) {
        const ssize_t got = readSome(in.get(), input.data(), input.size());
        if (got < 0) return false;
        if (got == 0) break;
        if (!encoder.write(input.data(), static_cast<std::size_t>(got))) return false;
    }
    if (!encoder.finish()) return false;
    return closeChecked(out);
}

bool decodeFileBase64(const std::filesystem::path& source, const std::filesystem::path& destination) {
    UniqueFd in = openForReading(source);
    if (!in) return false;
    UniqueFd out = openForWriting(destination);
    if (!out) return false;
    if (!detail::decodeBase64Stream(in.get(), std::numeric_limits<std::uint64_t>::max(), out.get())) return false;
    return closeChecked(out);
}

} // namespace plx
