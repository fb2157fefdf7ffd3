#include "client/ChunkedWork.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace plx {

void runChunks(std::size_t chunks, std::size_t workers,
               const std::function<void(std::size_t chunk, std::size_t worker)>& task) {
    workers = std::clamp<std::size_t>(workers, 1, std::max<std::size_t>(chunks, 1));
    std::atomic<std::size_t> next{0};
    std::mutex failureMutex;
    std::exception_ptr failure;
    auto work = [&](std::size_t worker) {
        try {
            for (std::size_t chunk; (chunk = next++) < chunks;) task(chunk, worker);
        } catch (...) {
            next = chunks; // the others stop after their current chunk
            std::lock_guard lock(failureMutex);
            if (!failure) failure = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> threads;
        threads.reserve(workers - 1);
        try {
            for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(work, w);
        } catch (const std::system_error&) {
            // Fewer threads do the same work.
        }
        work(0);
    }
    if (failure) std::rethrow_exception(failure);
}

} // namespace plx
