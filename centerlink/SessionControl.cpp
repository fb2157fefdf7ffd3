#include "centerlink/SessionControl.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

namespace plx {

struct CountingSemaphore::State {
    std::mutex mutex;
    std::condition_variable freed;
    int available = 0;
};

namespace {

struct SemaphoreRegistry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<CountingSemaphore::State>> byName;
};

SemaphoreRegistry& semaphores() {
    static SemaphoreRegistry registry;
    return registry;
}

std::shared_ptr<CountingSemaphore::State> semaphoreNamed(const std::string& name, int count) {
    SemaphoreRegistry& r = semaphores();
    std::lock_guard lock(r.mutex);
    auto& state = r.byName[name];
    if (!state) {
        state = std::make_shared<CountingSemaphore::State>();
        state->available = count;
    }
    return state;
}

struct EventState {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> set{false};
    // Counter above 0 while set: poll() sees it readable.
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

EventState& sessionEvent() {
    static EventState state;
    return state;
}

// Semaphore waits that end on the event look at it under their own lock;
// wake them so they look again.
void wakeSemaphoreWaiters() {
    SemaphoreRegistry& r = semaphores();
    std::lock_guard lock(r.mutex);
    for (auto& [name, state] : r.byName) {
        { std::lock_guard stateLock(state->mutex); }
        state->freed.notify_all();
    }
}

} // namespace

CountingSemaphore::CountingSemaphore(int count, const std::string& name)
    : state_(semaphoreNamed(name, count)), maxCount_(count) {}

CountingSemaphore::~CountingSemaphore() {
    while (heldCount_ > 0) Unlock();
}

bool CountingSemaphore::acquire(int n, int timeoutMs) { return take(n, timeoutMs, false); }

bool CountingSemaphore::acquireUnlessStopped(int n, int timeoutMs) { return take(n, timeoutMs, true); }

bool CountingSemaphore::take(int n, int timeoutMs, bool untilStopped) {
    if (n < 0) return false;
    int wanted = std::min(n, maxCount_ - heldCount_);
    const auto& stop = sessionEvent().set;
    for (int i = 0; i < wanted; ++i) {
        std::unique_lock lock(state_->mutex);
        bool woke = state_->freed.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                           [&] { return state_->available > 0 || (untilStopped && stop.load()); });
        if (!woke || state_->available <= 0 || (untilStopped && stop.load())) return false;
        --state_->available;
        ++heldCount_;
    }
    return true;
}

void CountingSemaphore::Unlock() {
    if (heldCount_ <= 0) return;
    {
        std::lock_guard lock(state_->mutex);
        ++state_->available;
    }
    --heldCount_;
    state_->freed.notify_one();
}

void SessionEvent::set() {
    auto& e = sessionEvent();
    {
        std::lock_guard lock(e.mutex);
        if (!e.set.exchange(true) && e.fd >= 0) {
            std::uint64_t one = 1;
            (void)!::write(e.fd, &one, sizeof one);
        }
    }
    e.changed.notify_all();
    wakeSemaphoreWaiters();
}

bool SessionEvent::isSet() { return sessionEvent().set.load(); }

int SessionEvent::waitFd() { return sessionEvent().fd; }

bool SessionEvent::waitFor(std::chrono::milliseconds timeout) {
    auto& e = sessionEvent();
    std::unique_lock lock(e.mutex);
    return e.changed.wait_for(lock, timeout, [&] { return e.set.load(); });
}

void SessionEvent::reset() {
    auto& e = sessionEvent();
    std::lock_guard lock(e.mutex);
    if (e.set.exchange(false) && e.fd >= 0) {
        std::uint64_t count = 0;
        (void)!::read(e.fd, &count, sizeof count);
    }
}

} // namespace plx
