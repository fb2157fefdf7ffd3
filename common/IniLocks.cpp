#include "common/IniLocks.h"

namespace plx {

NamedMutex& centerIniMutex() {
    static NamedMutex mutex("Korvane/PLX plcenter.ini");
    return mutex;
}

NamedMutex& fileIniMutex() {
    static NamedMutex mutex("Korvane/PLX plfile.ini");
    return mutex;
}

} // namespace plx
