#include "client/PendingCalls.h"

namespace plx {

std::optional<std::uint64_t> PendingCalls::add(std::function<void()> abandon) {
    {
        std::lock_guard lock(mutex_);
        if (!closed_) {
            std::uint64_t id = next_++;
            abandon_.emplace(id, std::move(abandon));
            return id;
        }
    }
    abandon();
    return std::nullopt;
}

void PendingCalls::remove(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    abandon_.erase(id);
}

void PendingCalls::close() {
    std::map<std::uint64_t, std::function<void()>> left;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        left.swap(abandon_);
    }
    for (auto& [id, abandon] : left) abandon();
}

} // namespace plx
