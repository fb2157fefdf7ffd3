#pragma once
// The named locks over the register and the data-kind store.

#include <mutex>

#include "platform/NamedMutex.h"

namespace plx {

NamedMutex& centerIniMutex(); // "Korvane/PLX plcenter.ini"
NamedMutex& fileIniMutex();   // "Korvane/PLX plfile.ini"

using NamedLock = std::unique_lock<NamedMutex>;

// Runs f while holding the plcenter.ini lock: for read-modify-write of the register.
template <typename F>
decltype(auto) withCenterLock(F&& f) {
    std::lock_guard lock(centerIniMutex());
    return f();
}

} // namespace plx
