#pragma once
// Named locks that hold across threads and processes. The same thread may
// take a lock again (it is released when every take is undone). Across
// processes the lock is an flock on a file in the runtime folder, so a
// holder that dies never keeps it.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace plx {

class NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    void lock();
    // Gives up after timeout (polling the process lock meanwhile).
    bool try_lock_for(std::chrono::milliseconds timeout);
    void unlock();
    const std::string& name() const;

    struct State;

private:
    bool acquire(std::optional<std::chrono::steady_clock::time_point> deadline);

    std::shared_ptr<State> state_;
};

// The folder of the lock files: PLX_RUNTIME_DIR, else $XDG_RUNTIME_DIR/plx,
// else /tmp/plx-<uid>; created private to the user.
std::string runtimeFolder();

} // namespace plx
