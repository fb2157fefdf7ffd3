#pragma once
// Calls still waiting for their answer. When the answers can no longer come
// (the object's handle goes, the bus connection is lost) the registry is
// closed: every waiting call is answered with a failure at once, and so is
// every call added later, so no waiter hangs.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace plx {

class PendingCalls {
public:
    // An id to remove with once the answer came; nullopt when closed, after
    // abandon has run.
    std::optional<std::uint64_t> add(std::function<void()> abandon);
    void remove(std::uint64_t id);
    void close();

private:
    std::mutex mutex_;
    bool closed_ = false;
    std::uint64_t next_ = 1;
    std::map<std::uint64_t, std::function<void()>> abandon_;
};

} // namespace plx
