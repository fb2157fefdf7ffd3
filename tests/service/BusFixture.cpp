#include "tests/service/BusFixture.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "common/DateText.h"

namespace plx::test {

PrivateBus::PrivateBus(const std::filesystem::path& serviceDir, const std::string& policy) {
    std::vector<std::string> argv{"dbus-daemon", "--session", "--nofork", "--print-address"};
    if (!serviceDir.empty() || !policy.empty()) {
        config_ = std::make_unique<TempDir>();
        // The session bus's own configuration, plus the test's services and policy.
        std::string extra;
        if (!serviceDir.empty()) extra += "  <servicedir>" + serviceDir.string() + "</servicedir>\n";
        if (!policy.empty()) extra += "  <policy context=\"default\"><allow user=\"*\"/></policy>\n" + policy + "\n";
        writeFile(*config_ / "bus.conf",
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
                  "  <include>/usr/share/dbus-1/session.conf</include>\n" +
                      extra + "</busconfig>\n");
        argv[1] = "--config-file=" + (*config_ / "bus.conf").string();
    }
    daemon_ = std::make_unique<PeerProcess>(argv, true);
    address_ = daemon_->readLine(10);
    if (address_.empty()) throw std::runtime_error("dbus-daemon did not start");
}

std::vector<std::string> as(const Identity& who, std::vector<std::string> argv) {
    std::vector<std::string> out{"/usr/bin/setpriv", "--reuid=" + std::to_string(who.uid),
                                 "--regid=" + std::to_string(who.gid)};
    if (who.groups.empty()) {
        out.push_back("--clear-groups");
    } else {
        std::string list;
        for (unsigned g : who.groups) list += (list.empty() ? "" : ",") + std::to_string(g);
        out.push_back("--groups=" + list);
    }
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

std::unique_ptr<PeerProcess> startDaemonSeeing(const std::filesystem::path& config, const std::filesystem::path& etc) {
    std::string script = "mount --bind " + (etc / "passwd").string() + " /etc/passwd && mount --bind " +
                         (etc / "group").string() + " /etc/group && exec dbus-daemon --config-file=" + config.string() +
                         " --nofork --print-address";
    return std::make_unique<PeerProcess>(
        std::vector<std::string>{"unshare", "--mount", "--propagation", "private", "sh", "-c", script}, true);
}

void writeServiceConfig(const std::filesystem::path& home, const std::string& extraConfig) {
    for (const char* folder : {"temp", "apilog", "sessionlog"}) std::filesystem::create_directory(home / folder);
    writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + (home / "temp").string() +
                                         "\n[apilog]\nlocation=" + (home / "apilog").string() +
                                         "\n[sessionlog]\nlocation=" + (home / "sessionlog").string() + "\n" +
                                         extraConfig);
}

bool waitForService(int seconds) {
    auto answers = [] {
        try {
            auto connection = openClientBus();
            ClientProxy client(*connection);
            client.GetAliveCount();
            return true;
        } catch (const sdbus::Error&) {
            return false;
        }
    };
    return waitFor(answers, scaled(std::chrono::seconds(seconds)));
}

std::vector<std::string> gatewayArgv(int port, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"python3", std::string(PLX_SOURCE_DIR) + "/tests/center/center_sim.py", "gateway",
                                  "--port", std::to_string(port)};
    for (const char* arg : {"--terminal-id", "1001", "--center-id", "9001", "--password", "pw", "--service-no", "7",
                            "--protocol-file-name", "PF01", "--access-key", "AK0001"})
        argv.push_back(arg);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::pair<int, std::string> runGateway(int port, const std::vector<std::string>& args) {
    std::vector<std::string> argv = gatewayArgv(port, {"--timeout", "30"});
    argv.insert(argv.end(), args.begin(), args.end());
    PeerProcess p(argv, true);
    std::string summary = p.readLine(60);
    return {p.waitExit(60), summary};
}

std::vector<std::vector<std::string>> sessionRecords(const std::filesystem::path& home, const std::string& kind) {
    std::vector<std::vector<std::string>> out;
    std::string name = "plsession" + formatDate(localNow().value_or(LocalDateTime{})) + ".log";
    std::ifstream in(home / "sessionlog" / name);
    for (std::string line; std::getline(in, line);)
        if (auto f = splitFields(line); f.size() > 3 && f[3] == kind) out.push_back(f);
    return out;
}

ServiceOnBus::ServiceOnBus(const std::string& extraConfig, const std::string& termIni, const std::string& busPolicy)
    : bus_({}, busPolicy) {
    if (!termIni.empty()) writeFile(home_ / "plterm.ini", termIni);
    writeServiceConfig(home_.path(), extraConfig);
    busEnv_ = std::make_unique<ScopedEnv>("PLX_BUS", bus_.address());
    std::filesystem::create_directory(home_ / "tmp");
    tmpEnv_ = std::make_unique<ScopedEnv>("TMPDIR", (home_ / "tmp").string());
    start();
}

void ServiceOnBus::start() {
    service_ = std::make_unique<PeerProcess>(std::vector<std::string>{PLX_SERVICE_PROGRAM});
    if (!waitForService(15)) throw std::runtime_error("the service did not come up on the bus");
}

ServiceOnBus::~ServiceOnBus() { stop(); }

void ServiceOnBus::stop() { service_.reset(); }

std::unique_ptr<sdbus::IConnection> ServiceOnBus::connect() const {
    auto connection = openClientBus();
    connection->enterEventLoopAsync();
    return connection;
}

RunningSend::RunningSend(const ServiceOnBus& service, sdbus::IConnection& connection, const CenterSimulator& center) {
    ClientProxy client(connection);
    client.PLSetTermInfo("1001", "9001", "", "http://127.0.0.1:" + std::to_string(center.port()) + "/", "pw", "1.0", "",
                         "", "");
    client.PLSetFileInfo("K001", "kind", 7, "PF01", "AK0001", -1, 0, "");
    writeFile(service.home() / "data.dat", "payload");
    FactoryProxy factory(connection);
    transport_ = std::make_unique<TransportProxy>(connection, factory.CreateTransport());
    thread_ = std::thread([this, folder = service.home().string()] {
        try {
            transport_->PLSendData("K001", folder, "data.dat");
        } catch (const sdbus::Error& e) {
            failure_ = e.getMessage();
        }
    });
    waitFor([&center] { return center.log().find("PutFile") != std::string::npos; });
}

RunningSend::~RunningSend() { finish(); }

std::string RunningSend::finish() {
    if (thread_.joinable()) thread_.join();
    return failure_;
}

} // namespace plx::test
