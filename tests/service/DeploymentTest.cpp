// What registration installs for the system, checked with the tools that
// read it: systemd-analyze, systemd-sysusers and dbus-daemon.
#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/IniFile.h"
#include "service/shell/Registration.h"
#include "service/shell/SystemFiles.h"
#include "tests/IniProfile.h"
#include "tests/service/BusFixture.h"

using namespace plx;
namespace fs = std::filesystem;
using test::PeerProcess;
using test::ScopedEnv;
using test::TempDir;

namespace {

// Registration into a root of the test's own, with its own registry store.
struct InstallRoot {
    TempDir root;
    ScopedEnv installRoot{"PLX_INSTALL_ROOT", root.path().string()};
    ScopedEnv registry{"PLX_REGISTRY", (root / "registry.ini").string()};
    fs::path operator/(std::string_view name) const { return root / name; }
};

int runService(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {PLX_SERVICE_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::runCaptured(argv).exitCode;
}

// Every file under dir with a digest of its content, so two states compare
// whole.
std::vector<std::string> filesUnder(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            out.push_back(fs::relative(e.path(), dir).string() + " " +
                          std::to_string(std::hash<std::string>{}(test::readFile(e.path()))));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
}

bool hasLine(const std::string& text, const std::string& line) {
    auto all = lines(text);
    return std::find(all.begin(), all.end(), line) != all.end();
}

// The colon-separated fields of name's line in a passwd or group file.
std::vector<std::string> entryOf(const fs::path& file, const std::string& name) {
    for (const std::string& line : lines(test::readFile(file))) {
        if (line.rfind(name + ":", 0) != 0) continue;
        std::vector<std::string> fields;
        for (std::size_t start = 0, end;; start = end + 1) {
            end = line.find(':', start);
            fields.push_back(line.substr(start, end - start));
            if (end == std::string::npos) break;
        }
        return fields;
    }
    return {};
}

constexpr const char* kAnalyze = "/usr/bin/systemd-analyze";
constexpr const char* kSysusers = "/usr/bin/systemd-sysusers";

} // namespace

TEST(Deployment, TheUnitStartsTheServiceAsItsAccountWithTheProgramFolder) {
    InstallRoot root;
    TempDir inis;
    fs::path home = inis / "ini folder 100%";
    {
        ScopedEnv carried("PLX_HOME", home.string() + "/");
        ASSERT_EQ(runService({"-Service"}), 0);
    }
    InstallLayout layout = installLayout();
    std::string unit = test::readFile(layout.unit);
    for (const char* line : {"Type=dbus",
                             "BusName=com.korvane.PelorinIO",
                             "User=plx",
                             "Group=plx",
                             "Environment=PLX_BUS=system",
                             "RuntimeDirectory=plx",
                             "Environment=PLX_RUNTIME_DIR=%t/plx",
                             "UMask=0027",
                             "NoNewPrivileges=yes",
                             "ProtectKernelTunables=yes",
                             "ProtectKernelModules=yes",
                             "ProtectKernelLogs=yes",
                             "ProtectControlGroups=yes",
                             "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6",
                             "RestrictNamespaces=yes",
                             "LockPersonality=yes",
                             "CapabilityBoundingSet=CAP_NET_BIND_SERVICE",
                             "AmbientCapabilities=CAP_NET_BIND_SERVICE",
                             "[Install]",
                             "WantedBy=multi-user.target"})
        EXPECT_TRUE(hasLine(unit, line)) << line << "\n" << unit;
    // "%" is a specifier to systemd: written twice, read once.
    EXPECT_TRUE(hasLine(unit, "Environment=\"PLX_HOME=" + inis.path().string() + "/ini folder 100%%\"")) << unit;
    EXPECT_TRUE(hasLine(unit, std::string("ExecStart=") + PLX_SERVICE_PROGRAM)) << unit;
    EXPECT_NE(unit.find("\nDocumentation=file:///"), std::string::npos) << unit;
    EXPECT_NE(unit.find("/docs/operating.md\n"), std::string::npos) << unit;
    // Callers' files under /tmp, /home or anywhere stay reachable.
    for (const char* hidden : {"PrivateTmp", "ProtectHome", "ProtectSystem", "PrivateUsers"})
        EXPECT_EQ(unit.find(hidden), std::string::npos) << hidden;

    // The system bus starts the unit; the program folder rides along for a
    // start without systemd too.
    std::string activation = test::readFile(layout.systemActivation);
    EXPECT_TRUE(hasLine(activation, "SystemdService=plserv.service")) << activation;
    EXPECT_TRUE(hasLine(activation, "User=plx")) << activation;
    EXPECT_TRUE(hasLine(activation, "Exec=/usr/bin/env 'PLX_HOME=" + home.string() +
                                        "' PLX_REGISTRY=" + registryStorePath().string() + " " + PLX_SERVICE_PROGRAM))
        << activation;
    EXPECT_TRUE(hasLine(unit, "Environment=PLX_REGISTRY=" + registryStorePath().string())) << unit;

    if (::access(kAnalyze, X_OK) != 0) GTEST_SKIP() << "no systemd-analyze";
    auto verify = test::runCaptured({kAnalyze, "verify", layout.unit.string()});
    EXPECT_EQ(verify.exitCode, 0) << verify.err;
    auto security = test::runCaptured({kAnalyze, "security", "--offline=yes", layout.unit.string()});
    const std::string marker = "Overall exposure level for plserv.service: ";
    std::size_t at = security.out.find(marker);
    ASSERT_NE(at, std::string::npos) << security.out << security.err;
    double exposure = std::stod(security.out.substr(at + marker.size()));
    EXPECT_LT(exposure, 6.0) << security.out;
    std::printf("systemd-analyze security: %.1f\n", exposure);
}

TEST(Deployment, TheSysusersEntryMakesTheAccountAndTheOperatorsGroup) {
    if (::access(kSysusers, X_OK) != 0) GTEST_SKIP() << "no systemd-sysusers";
    InstallRoot root;
    ASSERT_EQ(runService({"-Service"}), 0);
    TempDir system;
    fs::create_directories(system / "etc");
    auto run = test::runCaptured({kSysusers, "--root=" + system.path().string(), installLayout().sysusers.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // plx:x:UID:GID:...:/usr/sbin/nologin, its primary group the group plx.
    std::vector<std::string> u = entryOf(system / "etc/passwd", "plx");
    std::vector<std::string> g = entryOf(system / "etc/group", "plx");
    ASSERT_EQ(u.size(), 7u);
    ASSERT_GE(g.size(), 3u);
    EXPECT_EQ(u[3], g[2]);
    EXPECT_LT(std::stoi(u[2]), 1000); // a system account
    EXPECT_EQ(u[6], "/usr/sbin/nologin");
}

TEST(Deployment, AFailedRegistrationLeavesWhatWasThere) {
    InstallRoot root;
    // No unit can be written where a file stands for its folder.
    fs::create_directories(root / "etc/systemd");
    test::writeFile(root / "etc/systemd/system", "in the way");
    auto blocked = filesUnder(root.root.path());
    EXPECT_NE(runService({"-Service"}), 0);
    EXPECT_EQ(filesUnder(root.root.path()), blocked); // no activation, policy or registry entry either
    EXPECT_FALSE(fs::exists(root / "usr"));

    // A registration in place stays whole when the next one fails.
    fs::remove(root / "etc/systemd/system");
    ASSERT_EQ(runService({"-RegServer"}), 0);
    test::writeFile(root / "etc/systemd/system", "in the way");
    auto registered = filesUnder(root.root.path());
    {
        ScopedEnv home("PLX_HOME", "/elsewhere");
        EXPECT_NE(runService({"-Service"}), 0);
    }
    EXPECT_EQ(filesUnder(root.root.path()), registered);

    // A registry store that cannot be written fails it after the files
    // were moved in: they go back too.
    fs::remove(root / "etc/systemd/system");
    registered = filesUnder(root.root.path());
    test::writeFile(root / "blocked", "no folder");
    {
        ScopedEnv registry("PLX_REGISTRY", (root / "blocked/registry.ini").string());
        EXPECT_NE(runService({"-Service"}), 0);
    }
    fs::remove(root / "blocked");
    EXPECT_EQ(filesUnder(root.root.path()), registered);
}

TEST(Deployment, UnregisteringRemovesEverythingRegistrationWrote) {
    InstallRoot root;
    ASSERT_EQ(runService({"-Service"}), 0);
    InstallLayout layout = installLayout();
    for (const auto& path : {layout.unit, layout.sysusers, layout.policy, layout.systemActivation,
                             layout.sessionActivation, layout.interfaceFile})
        EXPECT_TRUE(fs::is_regular_file(path)) << path;
    ASSERT_EQ(runService({"-UnregServer"}), 0);
    // The emptied registry store goes too, so an uninstall can remove its folder.
    EXPECT_EQ(filesUnder(root.root.path()), std::vector<std::string>{});
}

// The session bus starts the program with the folder registration named,
// although its own environment names none.
TEST(Deployment, ActivationStartsTheServiceWithTheRegisteredProgramFolder) {
    InstallRoot root;
    TempDir inis;
    fs::path home = inis / "it's ini";
    fs::create_directory(home);
    test::writeServiceConfig(home);
    test::writeFile(home / "plterm.ini", "[terminfo]\nterminalid=4242\ncenterid=9001\npassword=pw\n");
    {
        ScopedEnv carried("PLX_HOME", home.string());
        ASSERT_EQ(runService({"-RegServer"}), 0);
    }
    ScopedEnv noHome("PLX_HOME", "");
    ScopedEnv runtime("PLX_RUNTIME_DIR", (inis / "run").string());
    fs::create_directory(inis / "tmp");
    ScopedEnv tmp("TMPDIR", (inis / "tmp").string());
    ScopedEnv defaultBus("PLX_BUS", "");
    ScopedEnv noNotify("NOTIFY_SOCKET", "");
    test::PrivateBus activating(installLayout().sessionActivation.parent_path());
    ScopedEnv sessionBus("DBUS_SESSION_BUS_ADDRESS", activating.address());
    ASSERT_TRUE(test::waitForService(20));
    auto connection = openClientBus();
    ClientProxy client(*connection);
    EXPECT_EQ(std::get<0>(client.PLGetTermInfo()), "4242");
    ServiceProxy service(*connection);
    EXPECT_TRUE(service.Close(true));
}
