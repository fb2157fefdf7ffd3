#pragma once
// One log line seen as its fields, split at commas when a field is asked
// for: nothing is copied. A line has at most Count fields; the last holds
// the rest of the line, commas included.

#include <array>
#include <cstddef>
#include <string_view>

namespace plx {

template <std::size_t Count>
class LogLineView {
public:
    static constexpr std::size_t kFieldCount = Count;

    LogLineView() = default;
    explicit LogLineView(std::string_view line) : line_(line) {}

    std::string_view line() const { return line_; }

    // "" for a field the line does not have and for index >= Count.
    std::string_view field(std::size_t index) const {
        if (index >= Count) return {};
        std::string_view rest = line_;
        for (std::size_t i = 0; i < index; ++i) {
            std::size_t comma = rest.find(',');
            if (comma == std::string_view::npos) return {};
            rest.remove_prefix(comma + 1);
        }
        return index + 1 == Count ? rest : rest.substr(0, rest.find(','));
    }

    // Every field in one pass.
    std::array<std::string_view, Count> fields() const {
        std::array<std::string_view, Count> out{};
        std::string_view rest = line_;
        for (std::size_t i = 0; i + 1 < Count; ++i) {
            std::size_t comma = rest.find(',');
            out[i] = rest.substr(0, comma);
            if (comma == std::string_view::npos) return out;
            rest.remove_prefix(comma + 1);
        }
        out[Count - 1] = rest;
        return out;
    }

    // The first N fields in one pass (N < Count); the rest of the line is
    // not looked at.
    template <std::size_t N>
    std::array<std::string_view, N> leadingFields() const {
        static_assert(N < Count);
        std::array<std::string_view, N> out{};
        std::string_view rest = line_;
        for (std::size_t i = 0; i < N; ++i) {
            std::size_t comma = rest.find(',');
            out[i] = rest.substr(0, comma);
            if (comma == std::string_view::npos) return out;
            rest.remove_prefix(comma + 1);
        }
        return out;
    }

private:
    std::string_view line_;
};

} // namespace plx
