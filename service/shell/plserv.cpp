// plserv: the file delivery and collection service.
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "centerlink/SoapReader.h"
#include "service/shell/CommandLine.h"
#include "service/shell/Registration.h"
#include "service/shell/RunRoutine.h"

int main(int argc, char* argv[]) {
    using namespace plx;
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
