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
    PrivateBus();
    const std::string& address() const { return address_; }

private:
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

// The service on a private bus, with a program folder of its own.
class ServiceOnBus {
public:
    ServiceOnBus();
    ~ServiceOnBus();
    const std::filesystem::path& home() const { return home_.path(); }
    const std::string& busAddress() const { return bus_.address(); }
    // A new client connection with its event loop running.
    std::unique_ptr<sdbus::IConnection> connect() const;
    // Stops the service process now.
    void stop();

private:
    ScopedHome home_;
    PrivateBus bus_;
    std::unique_ptr<ScopedEnv> busEnv_;
    std::unique_ptr<ChildProcess> service_;
};

} // namespace plx::test
