#pragma once
// Checked number parsing: no silent wrap-around of out-of-range values.

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace plx {

// The value when text is one or more decimal digits and nothing else.
inline std::optional<std::int64_t> parseDigits(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) return std::numeric_limits<std::int64_t>::max();
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The leading decimal number of text, with an optional sign and leading
// white space, line breaks included (as atol reads it); 0 when there is
// none. Saturates instead of wrapping.
inline std::int64_t leadingDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::string_view(" \t\n\v\f\r").find(text[i]) != std::string_view::npos) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == start) return 0;
    auto digits = parseDigits(text.substr(start, i - start));
    std::int64_t value = digits.value_or(0);
    return negative ? -value : value;
}

// The value when text is an optional "+" or "-" and one or more decimal
// digits, nothing else, and the number fits 32 bits.
inline std::optional<std::int32_t> parseInt32(std::string_view text) {
    bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
    auto digits = parseDigits(text);
    if (!digits) return std::nullopt;
    std::int64_t value = negative ? -*digits : *digits;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

inline std::int32_t clampToInt32(std::int64_t value) {
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// leadingDecimal for the 32-bit fields of the messages: clamped, never wrapped.
inline std::int32_t leadingDecimal32(std::string_view text) { return clampToInt32(leadingDecimal(text)); }

} // namespace plx
