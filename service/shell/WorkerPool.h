#pragma once
// Threads that run the API methods, so a transfer of many minutes never
// holds up the bus or another caller. Threads are added while every one is
// busy, up to a limit; beyond it work waits in line. After a burst, threads
// beyond a few that stay idle for a while end, and with them their stacks
// and the memory their allocator caches held.

#include <chrono>
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
    explicit WorkerPool(std::size_t maxThreads = 128, std::size_t keptThreads = 4,
                        std::chrono::milliseconds idleLimit = std::chrono::seconds(1));
    ~WorkerPool(); // runs what is queued, then joins
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> task);

private:
    void run();

    std::size_t maxThreads_;
    std::size_t keptThreads_;
    std::chrono::milliseconds idleLimit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    bool trimWanted_ = false; // threads ended since the last return of memory
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

} // namespace plx
