#pragma once
// Threads that run the API methods, so a transfer of many minutes never
// holds up the bus or another caller. Threads are added while every one is
// busy, up to a limit; beyond it work waits in line.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace plx {

class WorkerPool {
public:
    explicit WorkerPool(std::size_t maxThreads = 128);
    ~WorkerPool(); // runs what is queued, then joins
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> task);

private:
    void run();

    std::size_t maxThreads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

} // namespace plx
