#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

#include "platform/IniFile.h"
#include "platform/UniqueFd.h"
#include "service/shell/CommandLine.h"
#include "service/shell/Registration.h"
#include "tests/IniProfile.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using test::PeerProcess;
using test::ScopedEnv;
using test::ServiceOnBus;
using test::TempDir;

namespace {

ServiceSwitch parse(std::vector<const char*> args) {
    args.insert(args.begin(), "plserv");
    return parseServiceSwitch(static_cast<int>(args.size()), args.data());
}

int runService(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {PLX_SERVICE_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    PeerProcess p(argv);
    return p.waitExit(30);
}

// As root the program would write into read-only folders anyway; without
// that right a read-only folder is read-only to it too.
std::vector<std::string> withoutRootOverride(std::vector<std::string> argv) {
    if (::geteuid() != 0) return argv;
    std::vector<std::string> wrapped = {"setpriv", "--inh-caps=-dac_override,-dac_read_search",
                                        "--bounding-set=-dac_override,-dac_read_search"};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}

bool closeService() {
    auto c = openClientBus();
    ServiceProxy service(*c);
    return service.Close(true);
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
    EXPECT_EQ(parse({"/RegServer", "extra"}), ServiceSwitch::Unknown); // followed by more text: refused
    EXPECT_EQ(parse({"RegServer"}), ServiceSwitch::Unknown);
    EXPECT_EQ(parse({"--help"}), ServiceSwitch::Help);
    EXPECT_EQ(parse({}), ServiceSwitch::None);
}

TEST(ServiceShell, RegistrationWritesAndRemovesItsFiles) {
    TempDir root;
    ScopedEnv installRoot("PLX_INSTALL_ROOT", root.path().string());
    ScopedEnv registry("PLX_REGISTRY", (root / "registry.ini").string());
    InstallLayout layout = installLayout();

    ASSERT_EQ(runService({"/Service"}), 0);
    EXPECT_TRUE(std::filesystem::exists(layout.unit));
    EXPECT_NE(test::readFile(layout.systemActivation).find("SystemdService=plserv.service"), std::string::npos);
    EXPECT_NE(test::readFile(layout.interfaceFile).find("com.korvane.PelorinIO.Transport"), std::string::npos);
    EXPECT_TRUE(registeredAsService());
    EXPECT_EQ(getProfileString(registryStorePath(), kAppIdSection, "ServiceParameters"), "-Service");
    EXPECT_EQ(getProfileString(registryStorePath(), "HKEY_CLASSES_ROOT\\PelorinIO.Client", "CurVer"),
              "PelorinIO.Client.1");

    // Registering again without the service leaves no service behind.
    ASSERT_EQ(runService({"-RegServer"}), 0);
    EXPECT_FALSE(std::filesystem::exists(layout.unit));
    EXPECT_FALSE(registeredAsService());
    EXPECT_EQ(test::readFile(layout.systemActivation).find("SystemdService"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(layout.sessionActivation));

    ASSERT_EQ(runService({"-unregserver"}), 0);
    for (const auto& path :
         {layout.unit, layout.sessionActivation, layout.systemActivation, layout.policy, layout.interfaceFile})
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_TRUE(getProfileSectionNames(registryStorePath()).empty());
    EXPECT_EQ(runService({"-UnregServer"}), 0); // nothing left to remove is no failure
}

TEST(ServiceShell, AStartWithoutSettingsFailsVisibly) {
    test::ScopedHome home;
    test::PrivateBus bus;
    ScopedEnv busEnv("PLX_BUS", bus.address());
    EXPECT_EQ(runService({}), 1);
    std::filesystem::create_directory(home / "temp");
    test::writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + (home / "temp").string() + "\n");
    EXPECT_EQ(runService({}), 1); // no log folders
}

TEST(ServiceShell, OneInstanceAtATime) {
    ServiceOnBus service;
    {
        ScopedEnv home("PLX_HOME", service.home().string());
        EXPECT_EQ(runService({}), 0); // the second ends at once
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

// The start reads the register; it writes it only to repair a row, so a
// program folder the service cannot write stops nothing else.
TEST(ServiceShell, AReadOnlyProgramFolderStartsUnlessTheRegisterNeedsARepair) {
    test::ScopedHome home;
    test::PrivateBus bus;
    ScopedEnv busEnv("PLX_BUS", bus.address());
    test::writeServiceConfig(home.path());
    for (const char* folder : {"tmp", ".run"}) std::filesystem::create_directory(home / folder);
    ScopedEnv tmp("TMPDIR", (home / "tmp").string());
    test::writeFile(home / "temp" / "@zvA1.tmp", "delivered");
    test::writeFile(home / "temp" / "@zvB2.tmp", "fetched");
    const std::string done = "[K001," + (home / "temp" / "@zvA1.tmp").string() +
                             "]\nsvdatafilename=a.dat\nlimit=0\nstatus=2\nsendrecvflag=2\n"
                             "[K001," +
                             (home / "temp" / "@zvB2.tmp").string() +
                             "]\nsvdatafilename=\nlimit=3\nstatus=2\nsendrecvflag=1\n";
    test::writeFile(home / "plcenter.ini", done);
    std::filesystem::permissions(home.path(), std::filesystem::perms(0555));
    {
        PeerProcess service(withoutRootOverride({PLX_SERVICE_PROGRAM}));
        ASSERT_TRUE(test::waitForService(15));
        EXPECT_TRUE(closeService());
        EXPECT_EQ(service.waitExit(20), 0);
    }
    EXPECT_EQ(test::readFile(home / "plcenter.ini"), done);

    // A row left in progress must be repaired, and the folder refuses the write.
    std::filesystem::permissions(home.path(), std::filesystem::perms(0755));
    test::writeFile(home / "plcenter.ini",
                    done + "[K001," + (home / "temp" / "@zvC3.tmp").string() + "]\nstatus=3\nsendrecvflag=1\n");
    std::filesystem::permissions(home.path(), std::filesystem::perms(0555));
    PeerProcess failing(withoutRootOverride({PLX_SERVICE_PROGRAM}), false, true);
    std::string output = failing.readAll(20);
    EXPECT_EQ(failing.waitExit(20), 1) << output; // a clean failure, never an abort
    EXPECT_NE(output.find("plcenter.ini"), std::string::npos) << output;
    EXPECT_NE(test::readFile(home / "plcenter.ini").find("status=3"), std::string::npos);
    std::filesystem::permissions(home.path(), std::filesystem::perms(0755));
}

// Closing ends a transfer that waits for the center's reply at once, not
// at its time-out: the process is gone within the close's own waits.
TEST(ServiceShell, CloseEndsATransferWaitingForTheCenter) {
    test::CenterSimulator center({"--fault", "silent@file", "--silent-seconds", "120"});
    auto service = std::make_unique<ServiceOnBus>();
    std::filesystem::path home = service->home();
    auto c = service->connect();
    ClientProxy client(*c);
    client.PLSetTermInfo("1001", "9001", "", "http://127.0.0.1:" + std::to_string(center.port()) + "/", "pw", "1.0", "",
                         "", "");
    client.PLSetFileInfo("K001", "kind", 7, "PF01", "AK0001", -1, 0, "");
    test::writeFile(home / "data.dat", "payload");
    FactoryProxy factory(*c);
    TransportProxy transport(*c, factory.CreateTransport());

    std::string failure;
    std::thread send([&] {
        try {
            transport.PLSendData("K001", home.string(), "data.dat");
        } catch (const sdbus::Error& e) {
            failure = e.getMessage();
        }
    });
    EXPECT_TRUE(test::waitFor([&] { return center.log().find("PutFile") != std::string::npos; }));
    EXPECT_TRUE(closeService());
    int exited = service->waitExit(test::kCloseSeconds);
    EXPECT_EQ(exited, 0);
    if (exited != 0) service->stop(); // do not wait out the center's silence
    send.join();
    EXPECT_EQ(failure, "セッションが中止されました");
    auto records = test::sessionRecords(home, "20");
    ASSERT_EQ(records.size(), 1u);
    const auto& f = records[0];
    EXPECT_EQ(f[0] + "/" + f[4] + "/" + f[5] + "/" + f[6], "2/21/01/-100"); // stopped while waiting for the reply

    // The next start is not refused as a second instance.
    ScopedEnv sameHome("PLX_HOME", home.string());
    PeerProcess again({PLX_SERVICE_PROGRAM});
    EXPECT_TRUE(test::waitForService(15));
    EXPECT_TRUE(closeService());
    EXPECT_EQ(again.waitExit(20), 0);
}

// A hand start of the registered service falls back to a local server on
// the session bus, and so does the start by session activation.
TEST(ServiceShell, OnlySystemdStartsTheRegisteredServiceAsAService) {
    TempDir root;
    ScopedEnv installRoot("PLX_INSTALL_ROOT", root.path().string());
    ScopedEnv registry("PLX_REGISTRY", (root / "registry.ini").string());
    ASSERT_EQ(runService({"/Service"}), 0);
    ASSERT_TRUE(registeredAsService());
    EXPECT_NE(test::readFile(installLayout().unit).find("NotifyAccess=main"), std::string::npos);

    test::ScopedHome home;
    test::writeServiceConfig(home.path());
    std::filesystem::create_directory(home / "tmp");
    ScopedEnv tmp("TMPDIR", (home / "tmp").string());
    ScopedEnv defaultBus("PLX_BUS", ""); // the run mode chooses the bus
    ScopedEnv noNotify("NOTIFY_SOCKET", "");
    {
        test::PrivateBus session;
        ScopedEnv sessionBus("DBUS_SESSION_BUS_ADDRESS", session.address());
        PeerProcess byHand({PLX_SERVICE_PROGRAM});
        ASSERT_TRUE(test::waitForService(15));
        EXPECT_TRUE(closeService());
        EXPECT_EQ(byHand.waitExit(20), 0);
    }
    // The session bus starts the program through the activation file that
    // registration wrote; it must come up there, not head for the system bus.
    test::PrivateBus activating(installLayout().sessionActivation.parent_path());
    ScopedEnv sessionBus("DBUS_SESSION_BUS_ADDRESS", activating.address());
    ASSERT_TRUE(test::waitForService(20));
    EXPECT_TRUE(closeService());
}
