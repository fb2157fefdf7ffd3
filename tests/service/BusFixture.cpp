#include "tests/service/BusFixture.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace plx::test {

PrivateBus::PrivateBus() {
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address"}, true);
    address_ = daemon_->readLine(10);
    if (address_.empty()) throw std::runtime_error("dbus-daemon did not start");
}

ServiceOnBus::ServiceOnBus(const std::string& extraConfig, const std::string& termIni) {
    if (!termIni.empty()) writeFile(home_ / "plterm.ini", termIni);
    for (const char* folder : {"temp", "apilog", "sessionlog"}) std::filesystem::create_directory(home_ / folder);
    writeFile(home_ / "plconfig.ini", "[tempfile]\nlocation=" + (home_ / "temp").string() + "\n[apilog]\nlocation=" +
                                          (home_ / "apilog").string() + "\n[sessionlog]\nlocation=" +
                                          (home_ / "sessionlog").string() + "\n" + extraConfig);
    busEnv_ = std::make_unique<ScopedEnv>("PLX_BUS", bus_.address());
    std::filesystem::create_directory(home_ / "tmp");
    tmpEnv_ = std::make_unique<ScopedEnv>("TMPDIR", (home_ / "tmp").string());
    service_ = std::make_unique<ChildProcess>(std::vector<std::string>{PLX_SERVICE_PROGRAM});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            auto connection = openClientBus();
            ClientProxy client(*connection);
            client.GetAliveCount();
            return;
        } catch (const sdbus::Error&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    throw std::runtime_error("the service did not come up on the bus");
}

ServiceOnBus::~ServiceOnBus() { stop(); }

void ServiceOnBus::stop() { service_.reset(); }

std::unique_ptr<sdbus::IConnection> ServiceOnBus::connect() const {
    auto connection = openClientBus();
    connection->enterEventLoopAsync();
    return connection;
}

} // namespace plx::test
