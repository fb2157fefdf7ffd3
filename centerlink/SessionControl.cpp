#include "centerlink/SessionControl.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace plx {

struct CountingSemaphore::State {
    std::mutex mutex;
    std::condition_variable freed;
    int available = 0;
};

namespace {

std::shared_ptr<CountingSemaphore::State> semaphoreNamed(const std::string& name, int count) {
    static std::mutex registryMutex;
    static std::map<std::string, std::shared_ptr<CountingSemaphore::State>> registry;
    std::lock_guard lock(registryMutex);
    auto& state = registry[name];
    if (!state) {
        state = std::make_shared<CountingSemaphore::State>();
        state->available = count;
    }
    return state;
}

struct EventState {
    std::mutex mutex;
    std::condition_variable changed;
    bool set = false;
};

EventState& sessionEvent() {
    static EventState state;
    return state;
}

} // namespace

CountingSemaphore::CountingSemaphore(int count, const std::string& name)
    : state_(semaphoreNamed(name, count)), maxCount_(count) {}

CountingSemaphore::~CountingSemaphore() {
    while (heldCount_ > 0) Unlock();
}

bool CountingSemaphore::acquire(int n, int timeoutMs) {
    if (n < 0) return false;
    int wanted = std::min(n, maxCount_ - heldCount_);
    for (int i = 0; i < wanted; ++i) {
        std::unique_lock lock(state_->mutex);
        bool got = state_->freed.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                          [&] { return state_->available > 0; });
        if (!got) return false;
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
        e.set = true;
    }
    e.changed.notify_all();
}

bool SessionEvent::isSet() {
    auto& e = sessionEvent();
    std::lock_guard lock(e.mutex);
    return e.set;
}

bool SessionEvent::waitFor(std::chrono::milliseconds timeout) {
    auto& e = sessionEvent();
    std::unique_lock lock(e.mutex);
    return e.changed.wait_for(lock, timeout, [&] { return e.set; });
}

void SessionEvent::reset() {
    auto& e = sessionEvent();
    std::lock_guard lock(e.mutex);
    e.set = false;
}

} // namespace plx
