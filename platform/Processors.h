#pragma once
// How many processors this process may run on.

namespace plx {

// The processors of the process's affinity mask (a taskset or a cgroup may
// allow fewer than the machine has); the machine's count when the mask
// cannot be read; at least 1.
unsigned usableProcessors();

} // namespace plx
