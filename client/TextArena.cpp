#include "client/TextArena.h"

#include <algorithm>
#include <cstring>

namespace plx {

std::string_view TextArena::store(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > left_) {
        // A text longer than a block gets a block of its own; the current
        // block stays open for the texts after it.
        std::size_t size = std::max(text.size(), kBlockSize);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        if (size > kBlockSize) {
            std::memcpy(blocks_.back().get(), text.data(), text.size());
            return {blocks_.back().get(), text.size()};
        }
        next_ = blocks_.back().get();
        left_ = size;
    }
    std::memcpy(next_, text.data(), text.size());
    std::string_view stored(next_, text.size());
    next_ += text.size();
    left_ -= text.size();
    return stored;
}

void TextArena::adopt(TextArena&& other) {
    blocks_.reserve(blocks_.size() + other.blocks_.size());
    for (auto& block : other.blocks_) blocks_.push_back(std::move(block));
    other.blocks_.clear();
    other.next_ = nullptr;
    other.left_ = 0;
}

} // namespace plx
