#include "platform/Utf8.h"

namespace plx {

namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0 when the
// bytes there are not one.
std::size_t sequenceLength(std::string_view text, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lowest = 0x80, highest = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lowest = 0xA0;  // overlong
        if (c == 0xED) highest = 0x9F; // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lowest = 0x90;
        if (c == 0xF4) highest = 0x8F;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    unsigned char second = byte(i + 1);
    if (second < lowest || second > highest) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return len;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

} // namespace

std::string utf8Truncate(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = 0;
    while (end < text.size()) {
        std::size_t len = sequenceLength(text, end);
        if (len == 0) len = 1;
        if (end + len > maxBytes) break;
        end += len;
    }
    return std::string(text.substr(0, end));
}

std::string utf8TruncateCharacters(std::string_view text, std::size_t maxCharacters) {
    std::size_t end = 0;
    for (std::size_t count = 0; end < text.size() && count < maxCharacters; ++count) {
        std::size_t len = sequenceLength(text, end);
        end += len == 0 ? 1 : len;
    }
    return std::string(text.substr(0, end));
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = sequenceLength(text, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::size_t utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) {
        std::size_t len = sequenceLength(text, i);
        i += len == 0 ? 1 : len;
    }
    return count;
}

std::string utf8Sanitize(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = sequenceLength(text, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

std::string toUpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = upperAscii(c);
    return out;
}

std::string toLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

} // namespace plx
