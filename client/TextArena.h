#pragma once
// Append-only storage for many short texts: one heap block holds thousands
// of them, and a stored text never moves until the arena goes (moving the
// arena keeps them where they are).

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace plx {

class TextArena {
public:
    TextArena() = default;
    TextArena(TextArena&&) = default;
    TextArena& operator=(TextArena&&) = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // A copy of text that lives as long as the arena. Throws std::bad_alloc.
    std::string_view store(std::string_view text);
    // Takes over other's blocks: what it stored lives as long as this arena.
    void adopt(TextArena&& other);

private:
    static constexpr std::size_t kBlockSize = 1 << 20;

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

} // namespace plx
