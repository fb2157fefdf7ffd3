#pragma once
// The session semaphore ("PELORIN-SESSION-SEMAPHORE", 100 counts) that every
// running exchange holds a count of, and the session event
// ("PELORIN-SESSION-EVENT") that tells running exchanges to stop. Both live
// inside the service process.

#include <chrono>
#include <memory>
#include <string>

namespace plx {

inline constexpr const char* kSessionSemaphoreName = "PELORIN-SESSION-SEMAPHORE";
inline constexpr const char* kSessionEventName = "PELORIN-SESSION-EVENT";
inline constexpr int kSessionCount = 100;
inline constexpr int kSessionWaitMs = 5000;

// A hold of counts on a named semaphore; what it took is released when it ends.
class CountingSemaphore {
public:
    // Opens the semaphore of that name, created with count free counts of count.
    CountingSemaphore(int count, const std::string& name);
    ~CountingSemaphore();
    CountingSemaphore(const CountingSemaphore&) = delete;
    CountingSemaphore& operator=(const CountingSemaphore&) = delete;

    // Takes counts one at a time, each with one wait of timeoutMs (0: no
    // wait), until it holds min(n, maxCount - heldCount) more; false at the
    // first failed wait (what was taken stays held). False for negative n.
    bool acquire(int n, int timeoutMs);
    // As acquire, but a wait also ends, false, once the session event is set:
    // a session that starts while the service closes never waits it out.
    bool acquireUnlessStopped(int n, int timeoutMs);
    // Releases one held count.
    void Unlock();
    int heldCount() const { return heldCount_; }

    struct State;

private:
    bool take(int n, int timeoutMs, bool untilStopped);

    std::shared_ptr<State> state_;
    int heldCount_ = 0;
    int maxCount_;
};

// A manual-reset event: once set it stays set. Every wait of a running
// exchange also wakes on it: socket waits poll waitFd() beside their socket.
class SessionEvent {
public:
    static void set();
    static bool isSet();
    // Readable exactly while the event is set; -1 when it could not be made
    // (poll() then ignores it). Owned by the process: never close it.
    static int waitFd();
    // Waits up to timeout for the event; true when it is set.
    static bool waitFor(std::chrono::milliseconds timeout);
    // Clears it again: for a new run of the service inside one process.
    static void reset();
};

} // namespace plx
