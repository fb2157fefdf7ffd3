// How often one transfer of the real service opens its ini files, seen by
// strace attached to the service process.
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <system_error>

#include "tests/service/BusFixture.h"

using namespace plx;
using test::ServiceOnBus;

namespace {

// Opens of each ini file (by name) while call runs; nullopt when the
// service cannot be traced here (no strace, or ptrace not permitted).
template <typename Call>
std::optional<std::map<std::string, int>> iniOpens(const ServiceOnBus& service, Call call, std::string& why) {
    test::TempDir traceDir;
    const auto traceFile = traceDir / "opens.txt";
    std::optional<test::PeerProcess> tracer;
    try {
        tracer.emplace(std::vector<std::string>{"strace", "-f", "-e", "trace=open,openat", "-o", traceFile.string(),
                                                "-p", std::to_string(service.pid())},
                       false, true);
    } catch (const std::system_error& e) {
        why = std::string("strace: ") + e.what();
        return std::nullopt;
    }
    why = tracer->readLine(10);
    if (why.find("attached") == std::string::npos) return std::nullopt;
    call();
    tracer.reset(); // detaches, and the trace is complete
    std::map<std::string, int> opens;
    std::istringstream lines(test::readFile(traceFile));
    const std::regex iniName(R"(/?([A-Za-z0-9_.-]+\.ini)\")");
    std::smatch found;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_search(line, found, iniName)) ++opens[found[1]];
    return opens;
}

// Lines in the service's API and session logs: each one a record the log
// library wrote, and each record reads plconfig.ini for its folder (the
// library is loaded afresh for every record).
int logRecords(const ServiceOnBus& service) {
    int lines = 0;
    for (const char* folder : {"apilog", "sessionlog"})
        for (const auto& file : std::filesystem::directory_iterator(service.home() / folder)) {
            std::string text = test::readFile(file.path());
            lines += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        }
    return lines;
}

} // namespace

// The HTTP layer read plterm.ini (and the settings) again for every host,
// port, head and tunnel it built: a send opened plterm.ini some 20 times.
TEST(IniReads, ASendOpensEachIniFileAtMostTwice) {
    test::CenterSimulator center;
    ServiceOnBus service;
    auto c = service.connect();
    ClientProxy client(*c);
    client.PLSetTermInfo("1001", "9001", "", "http://127.0.0.1:" + std::to_string(center.port()) + "/", "pw", "1.0", "",
                         "", "");
    client.PLSetFileInfo("K001", "kind", 7, "PF01", "AK0001", -1, 0, "");
    test::writeFile(service.home() / "pltimeout.ini", "[timeout]\nconnect=30\n");
    test::writeFile(service.home() / "data.dat", "payload");
    FactoryProxy factory(*c);
    TransportProxy transport(*c, factory.CreateTransport());

    std::string why;
    int recordsBefore = logRecords(service);
    auto opens = iniOpens(
        service, [&] { transport.PLSendData("K001", service.home().string(), "data.dat"); }, why);
    if (!opens) GTEST_SKIP() << "the service cannot be traced here: " << why;
    EXPECT_EQ(transport.LastErrorCd(), 0) << transport.LastErrorMsg();
    EXPECT_GT((*opens)["plterm.ini"], 0); // the trace saw the send
    int records = logRecords(service) - recordsBefore;
    for (auto& [name, count] : *opens) {
        if (name == "plconfig.ini") count -= records;
        EXPECT_LE(count, 2) << name << " (" << records << " log records)";
    }
}
