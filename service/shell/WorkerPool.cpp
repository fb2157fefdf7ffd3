#include "service/shell/WorkerPool.h"

#include <algorithm>

#include "platform/MemoryReturn.h"

namespace plx {

WorkerPool::WorkerPool(std::size_t maxThreads, std::size_t keptThreads, std::chrono::milliseconds idleLimit)
    : maxThreads_(maxThreads == 0 ? 1 : maxThreads), keptThreads_(keptThreads), idleLimit_(idleLimit) {}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void WorkerPool::submit(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
    if (idle_ < queue_.size() && threads_.size() < maxThreads_) threads_.emplace_back([this] { run(); });
    wake_.notify_one();
}

void WorkerPool::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        bool woken = wake_.wait_for(lock, idleLimit_, [&] { return stopping_ || !queue_.empty(); });
        --idle_;
        if (!woken) {
            if (threads_.size() > keptThreads_) {
                // Idle for long: this thread ends. Detached, it touches
                // nothing of the pool once the lock is let go.
                auto self = std::find_if(threads_.begin(), threads_.end(),
                                         [](const std::thread& t) { return t.get_id() == std::this_thread::get_id(); });
                self->detach();
                threads_.erase(self);
                trimWanted_ = true;
                return;
            }
            // A kept thread returns what the ended ones left behind, once
            // they are surely gone.
            if (trimWanted_) {
                trimWanted_ = false;
                lock.unlock();
                returnFreeMemoryIfIdle();
                lock.lock();
            }
            continue;
        }
        if (queue_.empty()) return; // stopping, nothing left
        {
            auto task = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            try {
                task();
            } catch (...) {
                // A task reports its own failures; one that escapes must not end the thread.
            }
            // Gone before the lock is taken again: what a task holds (a bus
            // reply) takes the bus's lock when it goes, and the bus thread
            // takes this lock to hand out work.
        }
        lock.lock();
    }
}

} // namespace plx
