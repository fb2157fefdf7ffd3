#pragma once
// A lock that only one process can hold at a time, released when the
// holder ends (also by a crash).

#include <optional>
#include <string>

#include "platform/UniqueFd.h"

namespace plx {

// The held lock, or nullopt when another process holds it.
std::optional<UniqueFd> takeSingleInstanceLock(const std::string& name);
// The file the lock is held on (the holder may leave a note in it).
std::string singleInstanceLockPath(const std::string& name);

} // namespace plx
