#include "tests/service/BusFixture.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "common/DateText.h"

namespace plx::test {

PrivateBus::PrivateBus(const std::filesystem::path& serviceDir) {
    std::vector<std::string> argv = {"dbus-daemon", "--session", "--nofork", "--print-address"};
    if (!serviceDir.empty()) {
        writeFile(config_ / "bus.conf",
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><servicedir>" +
                      serviceDir.string() +
                      "</servicedir><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                      "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        argv[1] = "--config-file=" + (config_ / "bus.conf").string();
    }
    daemon_ = std::make_unique<ChildProcess>(argv, true);
    address_ = daemon_->readLine(10);
    if (address_.empty()) throw std::runtime_error("dbus-daemon did not start");
}

void writeServiceConfig(const std::filesystem::path& home, const std::string& extraConfig) {
    for (const char* folder : {"temp", "apilog", "sessionlog"}) std::filesystem::create_directory(home / folder);
    writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + (home / "temp").string() +
                                         "\n[apilog]\nlocation=" + (home / "apilog").string() +
                                         "\n[sessionlog]\nlocation=" + (home / "sessionlog").string() + "\n" +
                                         extraConfig);
}

bool waitForService(int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            auto connection = openClientBus();
            ClientProxy client(*connection);
            client.GetAliveCount();
            return true;
        } catch (const sdbus::Error&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return false;
}

std::vector<std::vector<std::string>> sessionRecords(const std::filesystem::path& home, const std::string& kind) {
    std::vector<std::vector<std::string>> out;
    std::string name = "plsession" + formatDate(localNow().value_or(LocalDateTime{})) + ".log";
    std::ifstream in(home / "sessionlog" / name);
    for (std::string line; std::getline(in, line);)
        if (auto f = splitFields(line); f.size() > 3 && f[3] == kind) out.push_back(f);
    return out;
}

ServiceOnBus::ServiceOnBus(const std::string& extraConfig, const std::string& termIni) {
    if (!termIni.empty()) writeFile(home_ / "plterm.ini", termIni);
    writeServiceConfig(home_.path(), extraConfig);
    busEnv_ = std::make_unique<ScopedEnv>("PLX_BUS", bus_.address());
    std::filesystem::create_directory(home_ / "tmp");
    tmpEnv_ = std::make_unique<ScopedEnv>("TMPDIR", (home_ / "tmp").string());
    service_ = std::make_unique<ChildProcess>(std::vector<std::string>{PLX_SERVICE_PROGRAM});
    if (!waitForService(15)) throw std::runtime_error("the service did not come up on the bus");
}

ServiceOnBus::~ServiceOnBus() { stop(); }

void ServiceOnBus::stop() { service_.reset(); }

std::unique_ptr<sdbus::IConnection> ServiceOnBus::connect() const {
    auto connection = openClientBus();
    connection->enterEventLoopAsync();
    return connection;
}

} // namespace plx::test
