// plserv: the file delivery and collection service.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <malloc.h>

#include "centerlink/SoapReader.h"
#include "service/shell/CommandLine.h"
#include "service/shell/Registration.h"
#include "service/shell/RunRoutine.h"

int main(int argc, char* argv[]) {
    using namespace plx;
    // A few heaps rather than eight per processor: what a burst of transfers
    // leaves in them goes back to the system (see MemoryReturnScope).
    ::mallopt(M_ARENA_MAX, 4);
    ::tzset();
    initializeXml();
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    switch (parseServiceSwitch(argc, argv)) {
    case ServiceSwitch::RegServer: return registerServer(program, false);
    case ServiceSwitch::Service: return registerServer(program, true);
    case ServiceSwitch::UnregServer: return unregisterServer();
    case ServiceSwitch::None: break;
    }
    return runService(runsAsService());
}
