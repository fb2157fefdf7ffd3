#pragma once
// A call to the service on its way: wait for its answer, or have a function
// called with it. Answers arrive on the bus thread of the connection.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "client/CallStatus.h"

namespace plx {

// Shared by the call's sender and its answer; completes once.
template <typename T>
class PendingState {
public:
    explicit PendingState(std::thread::id busThread) : busThread_(busThread) {}

    void complete(CallResult<T> result) {
        std::function<void(CallResult<T>)> done;
        {
            std::lock_guard lock(mutex_);
            if (result_) return;
            result_ = std::move(result);
            done = std::move(done_);
        }
        ready_.notify_all();
        if (done) done(*result_);
    }

    CallResult<T> wait() {
        // The answer is delivered by the bus thread: waiting there would never end.
        if (std::this_thread::get_id() == busThread_)
            return {unreachableStatus("イベント処理中の呼び出しは待てません"), T{}};
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return result_.has_value(); });
        return *result_;
    }

    void then(std::function<void(CallResult<T>)> done) {
        std::unique_lock lock(mutex_);
        if (!result_) {
            done_ = std::move(done);
            return;
        }
        CallResult<T> result = *result_;
        lock.unlock();
        done(std::move(result));
    }

    bool ready() const {
        std::lock_guard lock(mutex_);
        return result_.has_value();
    }

private:
    std::thread::id busThread_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::optional<CallResult<T>> result_;
    std::function<void(CallResult<T>)> done_;
};

template <typename T>
class PendingCall {
public:
    explicit PendingCall(std::shared_ptr<PendingState<T>> state) : state_(std::move(state)) {}

    // Blocks until the answer came. On the bus thread (inside an event
    // listener) it answers at once with a failure instead of hanging.
    CallResult<T> wait() const { return state_->wait(); }
    // done runs once with the answer: on this thread when it came already,
    // else on the bus thread. Keep done short; hand window work to the window.
    void then(std::function<void(CallResult<T>)> done) const { state_->then(std::move(done)); }
    bool ready() const { return state_->ready(); }

private:
    std::shared_ptr<PendingState<T>> state_;
};

} // namespace plx
