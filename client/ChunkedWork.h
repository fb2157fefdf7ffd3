#pragma once
// Runs the chunks of a job on a few threads of its own.

#include <cstddef>
#include <functional>

namespace plx {

// Calls task(chunk, worker) once for every chunk in 0..chunks-1, on up to
// workers threads (at least one; the calling thread is one of them), each
// thread taking the next chunk not yet taken. worker (< workers) names the
// thread, so a task may keep per-thread state. Returns once every chunk is
// done; rethrows the first exception a task threw (the chunks not yet taken
// are then left undone). When threads cannot be started, fewer do the work.
void runChunks(std::size_t chunks, std::size_t workers,
               const std::function<void(std::size_t chunk, std::size_t worker)>& task);

} // namespace plx
