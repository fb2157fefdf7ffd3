// The bus policy registration installs, enforced by a real dbus-daemon set
// up as the system bus is, with the real service running as its account and
// callers of other uids. Needs root (to take other uids) and a mount
// namespace (so the daemon's passwd and group files know the account without
// touching the machine's own).
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service/shell/Registration.h"
#include "tests/service/BusFixture.h"

using namespace plx;
namespace fs = std::filesystem;
using test::as;
using test::Identity;
using test::PeerProcess;
using test::ProgramRun;
using test::ScopedEnv;
using test::TempDir;

namespace {

constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";

std::vector<std::string> splitOn(const std::string& text, char separator) {
    std::vector<std::string> out;
    for (std::size_t start = 0, end;; start = end + 1) {
        end = text.find(separator, start);
        out.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
    }
    return out;
}

// The lines of a passwd or group file.
std::vector<std::vector<std::string>> entries(const fs::path& file) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& line : splitOn(test::readFile(file), '\n'))
        if (!line.empty()) out.push_back(splitOn(line, ':'));
    return out;
}

void writeEntries(const fs::path& file, const std::vector<std::vector<std::string>>& all) {
    std::string text;
    for (const auto& fields : all) {
        for (std::size_t i = 0; i < fields.size(); ++i) text += (i ? ":" : "") + fields[i];
        text += "\n";
    }
    test::writeFile(file, text);
}

// A daemon configured as the system bus is (deny by default, holes punched
// by policy files), with only the policy registration wrote included; its
// passwd and group files hold the service account its sysusers.d entry
// makes, an operator (a member of the operators' group) and an outsider.
class SystemLikeBus {
public:
    SystemLikeBus(const InstallLayout& layout) {
        // Callers of other uids reach the socket through this folder.
        ::chmod(dir_.path().c_str(), 0755);
        fs::path etc = dir_ / "system/etc";
        fs::create_directories(etc);
        fs::copy_file("/etc/passwd", etc / "passwd");
        fs::copy_file("/etc/group", etc / "group");
        auto made = test::runCaptured(
            {"/usr/bin/systemd-sysusers", "--root=" + (dir_ / "system").string(), layout.sysusers.string()});
        if (made.exitCode != 0) throw std::runtime_error("systemd-sysusers: " + made.err);

        auto passwd = entries(etc / "passwd");
        auto group = entries(etc / "group");
        auto named = [](const auto& all, const std::string& name) {
            return std::find_if(all.begin(), all.end(), [&](const auto& e) { return e[0] == name; });
        };
        auto account = named(passwd, "plx");
        if (account == passwd.end()) throw std::runtime_error("no account plx made");
        account_ = {unsigned(std::stoul((*account)[2])), unsigned(std::stoul((*account)[3])), {}};

        auto used = [&](unsigned id) {
            return std::any_of(passwd.begin(), passwd.end(),
                               [&](const auto& e) { return e[2] == std::to_string(id); }) ||
                   std::any_of(group.begin(), group.end(), [&](const auto& e) { return e[2] == std::to_string(id); });
        };
        unsigned id = 60100;
        for (Identity* who : {&operator_, &outsider_}) {
            while (used(id)) ++id;
            *who = {id, id, {}};
            ++id;
        }
        operator_.groups = {account_.gid};
        passwd.push_back({"plxtestop", "x", std::to_string(operator_.uid), std::to_string(operator_.gid), "", "/",
                          "/usr/sbin/nologin"});
        passwd.push_back({"plxtestout", "x", std::to_string(outsider_.uid), std::to_string(outsider_.gid), "", "/",
                          "/usr/sbin/nologin"});
        group.push_back({"plxtestop", "x", std::to_string(operator_.gid), ""});
        group.push_back({"plxtestout", "x", std::to_string(outsider_.gid), ""});
        for (auto& g : group)
            if (g[0] == "plx") g[3] = "plxtestop"; // usermod -aG plx plxtestop
        writeEntries(etc / "passwd", passwd);
        writeEntries(etc / "group", group);

        test::writeFile(
            dir_ / "bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
            "  <type>system</type>\n  <listen>unix:path=" +
                (dir_ / "bus").string() +
                "</listen>\n  <auth>EXTERNAL</auth>\n"
                "  <policy context=\"default\">\n"
                "    <allow user=\"*\"/>\n    <deny own=\"*\"/>\n    <deny send_type=\"method_call\"/>\n"
                "    <allow send_type=\"signal\"/>\n"
                "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
                "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
                "    <allow receive_type=\"method_call\"/>\n    <allow receive_type=\"method_return\"/>\n"
                "    <allow receive_type=\"error\"/>\n    <allow receive_type=\"signal\"/>\n"
                "    <allow send_destination=\"org.freedesktop.DBus\" send_interface=\"org.freedesktop.DBus\"/>\n"
                "    <allow send_destination=\"org.freedesktop.DBus\"\n"
                "           send_interface=\"org.freedesktop.DBus.Introspectable\"/>\n"
                "  </policy>\n  <include>" +
                layout.policy.string() + "</include>\n</busconfig>\n");
        daemon_ = test::startDaemonSeeing(dir_ / "bus.conf", etc);
        address_ = daemon_->readLine(10);
        if (address_.empty()) throw std::runtime_error("the system-like dbus-daemon did not start");
    }

    const std::string& address() const { return address_; }
    const Identity& account() const { return account_; }
    const Identity& operatorUser() const { return operator_; }
    const Identity& outsider() const { return outsider_; }

private:
    TempDir dir_;
    Identity account_, operator_, outsider_;
    std::unique_ptr<PeerProcess> daemon_;
    std::string address_;
};

const Identity kRoot{0, 0, {}};

class BusPolicy : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "other uids need root";
        if (test::runCaptured({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/true"}).exitCode != 0)
            GTEST_SKIP() << "no mount namespace here";
        ASSERT_EQ(test::runCaptured({PLX_SERVICE_PROGRAM, "-Service"}).exitCode, 0);
        bus_ = std::make_unique<SystemLikeBus>(installLayout());
        busEnv_ = std::make_unique<ScopedEnv>("PLX_BUS", bus_->address());

        test::writeServiceConfig(home_.path());
        fs::create_directory(home_ / "tmp");
        tmpEnv_ = std::make_unique<ScopedEnv>("TMPDIR", (home_ / "tmp").string());
        const Identity& account = bus_->account();
        for (const auto& e : fs::recursive_directory_iterator(home_.path()))
            ASSERT_EQ(::lchown(e.path().c_str(), account.uid, account.gid), 0);
        ASSERT_EQ(::lchown(home_.path().c_str(), account.uid, account.gid), 0);
        ::chmod(home_.path().c_str(), 0755); // open folders: the files' own modes decide
        service_ = std::make_unique<PeerProcess>(as(account, {PLX_SERVICE_PROGRAM}));
        ASSERT_TRUE(test::waitForService(15)) << "the service did not come up as its account";
    }

    // A call by who through dbus-send: its exit code and what it printed.
    ProgramRun call(const Identity& who, const std::string& object, const std::string& method,
                    const std::vector<std::string>& args = {}, const std::string& destination = kBusName) {
        std::vector<std::string> argv{"/usr/bin/dbus-send",
                                      "--bus=" + bus_->address(),
                                      "--print-reply",
                                      "--reply-timeout=20000",
                                      "--dest=" + destination,
                                      object,
                                      method};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::runCaptured(as(who, argv));
    }
    ProgramRun aliveCount(const Identity& who) {
        return call(who, "/com/korvane/PelorinIO/Client", "com.korvane.PelorinIO.Client.GetAliveCount");
    }
    ProgramRun requestName(const Identity& who) {
        return call(who, "/org/freedesktop/DBus", "org.freedesktop.DBus.RequestName",
                    {std::string("string:") + kBusName, "uint32:0"}, "org.freedesktop.DBus");
    }

    TempDir root_;
    ScopedEnv installRoot_{"PLX_INSTALL_ROOT", root_.path().string()};
    ScopedEnv registry_{"PLX_REGISTRY", (root_ / "registry.ini").string()};
    test::ScopedHome home_;
    std::unique_ptr<SystemLikeBus> bus_;
    std::unique_ptr<ScopedEnv> busEnv_, tmpEnv_;
    std::unique_ptr<PeerProcess> service_;
};

void expectRefused(const ProgramRun& run) {
    EXPECT_NE(run.exitCode, 0) << run.out;
    EXPECT_NE(run.err.find(kAccessDenied), std::string::npos) << run.err;
}

} // namespace

TEST_F(BusPolicy, RootAndOperatorsAreServed) {
    for (const Identity* who : {&kRoot, &bus_->operatorUser()}) {
        auto run = aliveCount(*who);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("int32 0"), std::string::npos) << run.out;
        auto created = call(*who, "/com/korvane/PelorinIO", "com.korvane.PelorinIO.Factory.CreateTransport");
        EXPECT_EQ(created.exitCode, 0) << created.err;
        EXPECT_NE(created.out.find("object path \"/com/korvane/PelorinIO/Transport/"), std::string::npos)
            << created.out;
    }
}

TEST_F(BusPolicy, EveryoneElseIsRefusedEveryMember) {
    const Identity& outsider = bus_->outsider();
    expectRefused(aliveCount(outsider));
    expectRefused(call(outsider, "/com/korvane/PelorinIO/Client", "com.korvane.PelorinIO.Client.PLGetTermInfo"));
    expectRefused(call(outsider, "/com/korvane/PelorinIO", "com.korvane.PelorinIO.Factory.CreateTransport"));
    expectRefused(call(outsider, "/com/korvane/PelorinIO/Client", "org.freedesktop.DBus.Properties.Get",
                       {"string:com.korvane.PelorinIO.Client", "string:LastErrorMsg"}));
    expectRefused(call(outsider, "/", "org.freedesktop.DBus.Introspectable.Introspect"));
    expectRefused(
        call(outsider, "/com/korvane/PelorinIO/Service", "com.korvane.PelorinIO.Service.Close", {"boolean:true"}));
    EXPECT_EQ(service_->waitExit(0), -1); // still running, and serving
    EXPECT_EQ(aliveCount(kRoot).exitCode, 0);

    // The operators' group is what admits: the operator's uid without it is
    // an outsider.
    Identity withoutGroup = bus_->operatorUser();
    withoutGroup.groups.clear();
    expectRefused(aliveCount(withoutGroup));
}

TEST_F(BusPolicy, OnlyTheServiceAccountMayOwnTheName) {
    for (const Identity* who : {&kRoot, &bus_->operatorUser(), &bus_->outsider()}) {
        auto run = requestName(*who);
        expectRefused(run);
        EXPECT_NE(run.err.find("is not allowed to own the service"), std::string::npos) << run.err;
    }
}

TEST_F(BusPolicy, AnOperatorMayCloseTheService) {
    auto run = call(bus_->operatorUser(), "/com/korvane/PelorinIO/Service", "com.korvane.PelorinIO.Service.Close",
                    {"boolean:true"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("boolean true"), std::string::npos) << run.out;
    EXPECT_EQ(service_->waitExit(20), 0);
}

// The logs are for the operators: readable by the operators' group, which
// the service runs in, and by nobody else.
TEST_F(BusPolicy, OperatorsReadTheLogsAndNobodyElse) {
    auto run =
        call(bus_->operatorUser(), "/com/korvane/PelorinIO/Client", "com.korvane.PelorinIO.Client.PLGetTermInfo");
    ASSERT_NE(run.err.find("PelorinIO"), std::string::npos) << run.err; // it ran (and failed: no plterm.ini)
    fs::path log;
    for (const auto& e : fs::directory_iterator(home_ / "apilog")) log = e.path();
    ASSERT_FALSE(log.empty());
    struct stat st {};
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_uid, bus_->account().uid);
    EXPECT_EQ(st.st_gid, bus_->account().gid);
    auto read = [&](const Identity& who) { return test::runCaptured(as(who, {"/bin/cat", log.string()})); };
    auto byOperator = read(bus_->operatorUser());
    EXPECT_EQ(byOperator.exitCode, 0) << byOperator.err;
    EXPECT_NE(byOperator.out.find("PLGetTermInfo"), std::string::npos) << byOperator.out;
    EXPECT_NE(read(bus_->outsider()).exitCode, 0);
}

// Root's rights are never lent to the callers of the system bus: the
// service does not start there as root, however the bus is named.
TEST(SystemBus, TheServiceRefusesToRunAsRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    test::ScopedHome home;
    test::writeServiceConfig(home.path());
    test::PrivateBus privateBus;
    auto refused = [&](const char* how) {
        auto run = test::runCaptured({PLX_SERVICE_PROGRAM});
        EXPECT_EQ(run.exitCode, 1) << how;
        EXPECT_NE(run.err.find("refusing to run as root on the system bus"), std::string::npos) << how << run.err;
        EXPECT_FALSE(fs::exists(home / ".run")) << how; // stopped before anything else
    };
    {
        ScopedEnv bus("PLX_BUS", "system");
        refused("PLX_BUS=system");
    }
    {
        ScopedEnv bus("PLX_BUS", "unix:path=/run/dbus/system_bus_socket");
        refused("the system bus's socket");
    }
    {
        ScopedEnv system("DBUS_SYSTEM_BUS_ADDRESS", privateBus.address());
        ScopedEnv bus("PLX_BUS", privateBus.address());
        refused("the system bus's address");
    }
    {
        // Registered as a service and started by systemd: the system bus.
        TempDir root;
        ScopedEnv installRoot("PLX_INSTALL_ROOT", root.path().string());
        ScopedEnv registry("PLX_REGISTRY", (root / "registry.ini").string());
        ASSERT_EQ(test::runCaptured({PLX_SERVICE_PROGRAM, "-Service"}).exitCode, 0);
        ScopedEnv bus("PLX_BUS", "");
        ScopedEnv notify("NOTIFY_SOCKET", (root / "notify").string());
        refused("started as the unit");
    }
    // Any other bus is a local server's, which runs as its user.
    ScopedEnv bus("PLX_BUS", privateBus.address());
    PeerProcess service({PLX_SERVICE_PROGRAM});
    EXPECT_TRUE(test::waitForService(15));
    auto c = openClientBus();
    ServiceProxy(*c).Close(true);
    EXPECT_EQ(service.waitExit(20), 0);
}
