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
#include <vector>

#include "common/Base64Stream.h"
#include "platform/FdIo.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Multiple of 3 so that encoded groups never straddle two blocks.
constexpr std::size_t kBlockSize = 0x3000;
static_assert(kBlockSize % 3 == 0);

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

// Sextets of an unfinished group carried from one block to the next.
struct DecodeState {
    std::uint32_t bits = 0;
    int count = 0;
    bool ended = false; // "=" seen: the rest of the input is ignored
};

// Decodes n characters into out (room for 3 * (n / 4 + 1) bytes). Returns
// the count written, nullopt on a byte outside the alphabet.
std::optional<std::size_t> decodeInto(DecodeState& st, const unsigned char* in, std::size_t n, unsigned char* out) {
    unsigned char* o = out;
    std::size_t i = 0;
    while (i < n) {
        // Whole groups of clean text are the common case.
        if (st.count == 0) {
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
            st.bits = (st.bits << 6) | v;
            if (++st.count == 4) {
                *o++ = static_cast<unsigned char>(st.bits >> 16);
                *o++ = static_cast<unsigned char>(st.bits >> 8);
                *o++ = static_cast<unsigned char>(st.bits);
                st.bits = 0;
                st.count = 0;
            }
        } else if (v == kSkip) {
            continue;
        } else if (v == kPad) {
            st.ended = true;
            break;
        } else {
            return std::nullopt;
        }
    }
    return static_cast<std::size_t>(o - out);
}

// Bytes of a trailing partial group; a lone sextet carries no whole byte.
std::size_t finishDecode(DecodeState& st, unsigned char* out) {
    std::size_t n = 0;
    if (st.count == 2) {
        out[n++] = static_cast<unsigned char>(st.bits >> 4);
    } else if (st.count == 3) {
        out[n++] = static_cast<unsigned char>(st.bits >> 10);
        out[n++] = static_cast<unsigned char>(st.bits >> 2);
    }
    st.bits = 0;
    st.count = 0;
    return n;
}

UniqueFd openForReading(const std::filesystem::path& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

UniqueFd openForWriting(const std::filesystem::path& path) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

// close() may be the first to report a failed write (NFS, quota).
bool closeChecked(UniqueFd& fd) { return ::close(fd.release()) == 0; }

} // namespace

namespace detail {

// Decodes at most limit bytes of Base64 text read from the current position
// of source into destination. Stops at "=" or at the end of the input.
bool decodeBase64Stream(int source, std::uint64_t limit, int destination) {
    std::vector<unsigned char> input(kBlockSize);
    std::vector<unsigned char> output(kBlockSize); // >= 3 * (kBlockSize / 4 + 1)
    DecodeState state;
    while (limit > 0 && !state.ended) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, limit));
        const ssize_t got = readFully(source, input.data(), want);
        if (got < 0) return false;
        if (got == 0) break;
        limit -= static_cast<std::uint64_t>(got);
        const auto produced = decodeInto(state, input.data(), static_cast<std::size_t>(got), output.data());
        if (!produced) return false;
        if (!writeAll(destination, output.data(), *produced)) return false;
    }
    const std::size_t rest = finishDecode(state, output.data());
    return writeAll(destination, output.data(), rest);
}

} // namespace detail

std::string encodeBase64(std::string_view bytes) {
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    encodeInto(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    return out;
}

bool encodeFileBase64(const std::filesystem::path& source, const std::filesystem::path& destination) {
    UniqueFd in = openForReading(source);
    if (!in) return false;
    UniqueFd out = openForWriting(destination);
    if (!out) return false;
    std::vector<unsigned char> input(kBlockSize);
    std::vector<char> output(kBlockSize / 3 * 4);
    for (;;) {
        // Full blocks only, so a short read cannot split a group.
        const ssize_t got = readFully(in.get(), input.data(), input.size());
        if (got < 0) return false;
        if (got == 0) break;
        const std::size_t n = encodeInto(input.data(), static_cast<std::size_t>(got), output.data());
        if (!writeAll(out.get(), output.data(), n)) return false;
        if (static_cast<std::size_t>(got) < input.size()) break;
    }
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
