#pragma once
// The named locks over the register and the data-kind store.

#include <mutex>

#include "platform/NamedMutex.h"

namespace plx {

NamedMutex& centerIniMutex(); // "Korvane/PLX plcenter.ini"
NamedMutex& fileIniMutex();   // "Korvane/PLX plfile.ini"

using NamedLock = std::unique_lock<NamedMutex>;

} // namespace plx
