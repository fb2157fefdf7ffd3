#pragma once
// A private bus (a dbus-daemon of the test's own) with the service running
// on it as a real process, and client connections to it.

#include <memory>
#include <string>
#include <thread>

#include "centerlink/SessionControl.h"
#include "client/BusProxies.h"
#include "tests/TestSupport.h"
#include "tests/centerlink/TestPeers.h"

namespace plx::test {

class PrivateBus {
public:
    // serviceDir: activation files the daemon may start services from;
    // policy: <policy> elements after the session bus's own, any user may
    // then connect. Both empty: the session bus's usual configuration.
    explicit PrivateBus(const std::filesystem::path& serviceDir = {}, const std::string& policy = {});
    const std::string& address() const { return address_; }

private:
    std::unique_ptr<TempDir> config_;
    std::unique_ptr<PeerProcess> daemon_;
    std::string address_;
};

// A user as the kernel knows it.
struct Identity {
    unsigned uid = 0;
    unsigned gid = 0;
    std::vector<unsigned> groups; // supplementary
};
// argv run as who (through setpriv; needs root).
std::vector<std::string> as(const Identity& who, std::vector<std::string> argv);
// A dbus-daemon on config that sees etc/passwd and etc/group as the user
// and group databases (bound over /etc in a mount namespace of its own:
// the daemon refuses users it cannot look up); needs root.
std::unique_ptr<PeerProcess> startDaemonSeeing(const std::filesystem::path& config, const std::filesystem::path& etc);

// plconfig.ini for a service whose folders are temp, apilog and sessionlog
// under home (made here), with more sections after it.
void writeServiceConfig(const std::filesystem::path& home, const std::string& extraConfig = "");
// True once the service answers on the bus the clients open, within seconds
// stretched by timeFactor().
bool waitForService(int seconds);
// Today's session-log records of one transfer kind, as fields, from the
// service's sessionlog folder under home.
std::vector<std::vector<std::string>> sessionRecords(const std::filesystem::path& home, const std::string& kind);

// How long a close waits for running sessions to end, in seconds.
inline constexpr int kCloseSeconds = kSessionWaitMs / 1000;

// The service on a private bus, with a program folder of its own.
class ServiceOnBus {
public:
    // extraConfig: more plconfig.ini text (sections of its own).
    // termIni: a plterm.ini to find at start. busPolicy: as PrivateBus's.
    explicit ServiceOnBus(const std::string& extraConfig = "", const std::string& termIni = "",
                          const std::string& busPolicy = "");
    ~ServiceOnBus();
    const std::filesystem::path& home() const { return home_.path(); }
    const std::string& busAddress() const { return bus_.address(); }
    // A new client connection with its event loop running.
    std::unique_ptr<sdbus::IConnection> connect() const;
    // Stops the service process now.
    void stop();
    // Starts it again after stop(), on the same bus and folders.
    void start();
    int pid() const { return service_ ? service_->pid() : -1; }
    // The service's exit status once it ended within seconds (stretched by
    // timeFactor()), else -1.
    int waitExit(int seconds) { return service_->waitExit(seconds); }

private:
    ScopedHome home_;
    PrivateBus bus_;
    std::unique_ptr<ScopedEnv> busEnv_;
    std::unique_ptr<ScopedEnv> tmpEnv_; // its own temporary folder: start-up purges it
    std::unique_ptr<PeerProcess> service_;
};

// The center simulator's gateway role against the service's gateway server
// on port, as the center of terminal 1001 with data kind 7/PF01/AK0001.
std::vector<std::string> gatewayArgv(int port, const std::vector<std::string>& args);
// Runs one such conversation; returns its exit code and JSON summary.
std::pair<int, std::string> runGateway(int port, const std::vector<std::string>& args);

// A PLSendData of data kind K001 running on a thread of its own, against a
// center that holds its reply to the file exchange.
class RunningSend {
public:
    // Returns once the center holds the exchange.
    RunningSend(const ServiceOnBus& service, sdbus::IConnection& connection, const CenterSimulator& center);
    ~RunningSend();
    RunningSend(const RunningSend&) = delete;
    RunningSend& operator=(const RunningSend&) = delete;
    // Waits for the send to end; the error text it ended with, empty on success.
    std::string finish();

private:
    std::unique_ptr<TransportProxy> transport_;
    std::string failure_;
    std::thread thread_;
};

} // namespace plx::test
