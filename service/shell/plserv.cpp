// plserv: the file delivery and collection service.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <malloc.h>

#include "centerlink/SoapReader.h"
#include "platform/CommandUsage.h"
#include "service/shell/CommandLine.h"
#include "service/shell/Registration.h"
#include "service/shell/RunRoutine.h"

int main(int argc, char* argv[]) {
    using namespace plx;
    // A few heaps rather than eight per processor: what a burst of transfers
    // leaves in them goes back to the system (see MemoryReturnScope).
    ::mallopt(M_ARENA_MAX, 4);
    // Blocks of a megabyte or more (a caller's huge arguments, compression
    // blocks) get pages of their own, returned when freed: left to the
    // allocator's sliding threshold they would settle in a heap's top,
    // which no trim gives back.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
    ServiceSwitch command = parseServiceSwitch(argc, argv);
    if (command == ServiceSwitch::Help) return showUsage(kServiceUsage);
    if (command == ServiceSwitch::Unknown) return refuseCommandLine(kServiceUsage);
    ::tzset();
    initializeXml();
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    switch (command) {
    case ServiceSwitch::RegServer: return registerServer(program, false);
    case ServiceSwitch::Service: return registerServer(program, true);
    case ServiceSwitch::UnregServer: return unregisterServer();
    case ServiceSwitch::None:
    case ServiceSwitch::Help:
    case ServiceSwitch::Unknown: break;
    }
    return runService(runsAsService());
}
