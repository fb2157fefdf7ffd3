#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

#include "platform/IniFile.h"
#include "platform/UniqueFd.h"
#include "service/CommandLine.h"
#include "service/Registration.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using test::ChildProcess;
using test::ScopedEnv;
using test::ServiceOnBus;
using test::TempDir;

namespace {

ServiceSwitch parse(std::vector<const char*> args) {
    args.insert(args.begin(), "plserv");
    return parseServiceSwitch(static_cast<int>(args.size()), args.data());
}

int runProgram(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {PLX_SERVICE_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess p(argv);
    return p.waitExit(30);
}

bool listening(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

} // namespace

TEST(ServiceShell, SwitchesAreTheWholeRestOfTheLine) {
    EXPECT_EQ(parse({"-regserver"}), ServiceSwitch::RegServer);
    EXPECT_EQ(parse({"/RegServer"}), ServiceSwitch::RegServer);
    EXPECT_EQ(parse({"/SERVICE"}), ServiceSwitch::Service);
    EXPECT_EQ(parse({"-x", "/Service"}), ServiceSwitch::Service);
    EXPECT_EQ(parse({"-UnregServer"}), ServiceSwitch::UnregServer);
    EXPECT_EQ(parse({"/RegServer", "extra"}), ServiceSwitch::None); // followed by more text: the program runs
    EXPECT_EQ(parse({"RegServer"}), ServiceSwitch::None);
    EXPECT_EQ(parse({}), ServiceSwitch::None);
}

TEST(ServiceShell, RegistrationWritesAndRemovesItsFiles) {
    TempDir root;
    ScopedEnv installRoot("PLX_INSTALL_ROOT", root.path().string());
    ScopedEnv registry("PLX_REGISTRY", (root / "registry.ini").string());
    InstallLayout layout = installLayout();

    ASSERT_EQ(runProgram({"/Service"}), 0);
    EXPECT_TRUE(std::filesystem::exists(layout.unit));
    EXPECT_NE(test::readFile(layout.systemActivation).find("SystemdService=plserv.service"), std::string::npos);
    EXPECT_NE(test::readFile(layout.interfaceFile).find("com.korvane.PelorinIO.Transport"), std::string::npos);
    EXPECT_TRUE(registeredAsService());
    EXPECT_EQ(getProfileString(registryStorePath(), kAppIdSection, "ServiceParameters"), "-Service");
    EXPECT_EQ(getProfileString(registryStorePath(), "HKEY_CLASSES_ROOT\\PelorinIO.Client", "CurVer"), "PelorinIO.Client.1");

    // Registering again without the service leaves no service behind.
    ASSERT_EQ(runProgram({"-RegServer"}), 0);
    EXPECT_FALSE(std::filesystem::exists(layout.unit));
    EXPECT_FALSE(registeredAsService());
    EXPECT_EQ(test::readFile(layout.systemActivation).find("SystemdService"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(layout.sessionActivation));

    ASSERT_EQ(runProgram({"-unregserver"}), 0);
    for (const auto& path : {layout.unit, layout.sessionActivation, layout.systemActivation, layout.policy,
                             layout.interfaceFile})
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_TRUE(getProfileSectionNames(registryStorePath()).empty());
    EXPECT_EQ(runProgram({"-UnregServer"}), 0); // nothing left to remove is no failure
}

TEST(ServiceShell, AStartWithoutSettingsFailsVisibly) {
    test::ScopedHome home;
    test::PrivateBus bus;
    ScopedEnv busEnv("PLX_BUS", bus.address());
    EXPECT_EQ(runProgram({}), 1);
    std::filesystem::create_directory(home / "temp");
    test::writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + (home / "temp").string() + "\n");
    EXPECT_EQ(runProgram({}), 1); // no log folders
}

TEST(ServiceShell, OneInstanceAtATime) {
    ServiceOnBus service;
    {
        ScopedEnv home("PLX_HOME", service.home().string());
        EXPECT_EQ(runProgram({}), 0); // the second ends at once
    }
    auto c = service.connect();
    ClientProxy client(*c);
    EXPECT_EQ(client.GetAliveCount(), 0); // the first still serves
}

TEST(ServiceShell, CloseWithNothingRunningEndsTheService) {
    ServiceOnBus service;
    auto c = service.connect();
    ServiceProxy serviceObject(*c);
    EXPECT_EQ(serviceObject.WindowClass(), "Korvane/PLX_Class");
    EXPECT_EQ(serviceObject.WindowTitle(), "Korvane/PLX");
    EXPECT_TRUE(serviceObject.Close(false));
    EXPECT_EQ(service.waitExit(20), 0);
}

TEST(ServiceShell, StopSignalEndsTheServiceCleanly) {
    ServiceOnBus service;
    ::kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.waitExit(20), 0);
}

TEST(ServiceShell, TheGatewayListensOnlyWhenAsked) {
    int port = test::freeLoopbackPort();
    {
        ServiceOnBus service("[http]\ndaemon=yes\nterminalport=" + std::to_string(port) + "\n");
        EXPECT_TRUE(test::waitForPort(port, 10));
    }
    ServiceOnBus quiet("[http]\ndaemon=no\nterminalport=" + std::to_string(port) + "\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(listening(port));
}

TEST(ServiceShell, CloseAsksWhileATransferRunsAndStopsItWhenConfirmed) {
    test::CenterSimulator center({"--fault", "slow@file", "--slow-seconds", "20"});
    ServiceOnBus service("[shutdown]\ncompulsion=no\n");
    auto c = service.connect();
    ServiceProxy serviceObject(*c);
    test::RunningSend send(service, *c, center);
    EXPECT_FALSE(serviceObject.Close(false)); // the caller must ask its user first
    EXPECT_EQ(service.waitExit(0), -1);
    EXPECT_TRUE(serviceObject.Close(true));
    EXPECT_EQ(send.finish(), "セッションが中止されました");
    EXPECT_EQ(service.waitExit(20), 0);
}
