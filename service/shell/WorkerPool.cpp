#include "service/shell/WorkerPool.h"

namespace plx {

WorkerPool::WorkerPool(std::size_t maxThreads) : maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

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
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        --idle_;
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
