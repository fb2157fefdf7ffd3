#pragma once
// The life of the service process: start-up checks and clean-up, the bus
// objects, the gateway server, the wait for the end, and the close that
// lets running transfers stop first.

namespace plx {

// Returns the process exit code: 0 after a normal close (or when another
// instance already runs), non-zero when the start failed or the bus was lost.
int runService(bool asService);

} // namespace plx
