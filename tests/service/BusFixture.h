#pragma once
// A private bus (a dbus-daemon of the test's own) with the service running
// on it as a real process, and client connections to it.

#include <memory>
#include <string>

#include "client/BusProxies.h"
#include "tests/TestSupport.h"
#include "tests/centerlink/TestPeers.h"

namespace plx::test {

class PrivateBus {
public:
    // With serviceDir, the bus starts the services its activation files
    // name, as a user's session bus does.
    explicit PrivateBus(const std::filesystem::path& serviceDir = {});
    const std::string& address() const { return address_; }

private:
    TempDir config_;
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

// plconfig.ini for a service whose folders are temp, apilog and sessionlog
// under home (made here), with more sections after it.
void writeServiceConfig(const std::filesystem::path& home, const std::string& extraConfig = "");
// True once the service answers on the bus the clients open, within seconds.
bool waitForService(int seconds);
// Today's session-log records of one transfer kind, as fields, from the
// service's sessionlog folder under home.
std::vector<std::vector<std::string>> sessionRecords(const std::filesystem::path& home, const std::string& kind);

// The service on a private bus, with a program folder of its own.
class ServiceOnBus {
public:
    // extraConfig: more plconfig.ini text (sections of its own).
    // termIni: a plterm.ini to find at start.
    explicit ServiceOnBus(const std::string& extraConfig = "", const std::string& termIni = "");
    ~ServiceOnBus();
    const std::filesystem::path& home() const { return home_.path(); }
    const std::string& busAddress() const { return bus_.address(); }
    // A new client connection with its event loop running.
    std::unique_ptr<sdbus::IConnection> connect() const;
    // Stops the service process now.
    void stop();
    int pid() const { return service_ ? service_->pid() : -1; }
    // The service's exit status once it ended within seconds, else -1.
    int waitExit(int seconds) { return service_->waitExit(seconds); }

private:
    ScopedHome home_;
    PrivateBus bus_;
    std::unique_ptr<ScopedEnv> busEnv_;
    std::unique_ptr<ScopedEnv> tmpEnv_; // its own temporary folder: start-up purges it
    std::unique_ptr<ChildProcess> service_;
};

} // namespace plx::test
