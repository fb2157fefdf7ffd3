#pragma once
// killplx's whole conversation with the bus: who owns the service's bus
// name, and the service's close request. Nothing here ever starts the
// service: the owner is asked of the bus daemon, and the request goes to
// the owner's unique name.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sdbus-c++/IConnection.h>

namespace plx {

class ServiceBuses {
public:
    // PLX_BUS when set, else the system bus and the session bus; a bus that
    // cannot be reached is left out (openErrors says why).
    ServiceBuses();

    struct Owner {
        sdbus::IConnection* bus;
        std::string uniqueName;
    };
    // The connection that owns the service's name on one of the buses.
    // nullopt with error empty: every bus said the name has no owner; with
    // error: a bus could not say (error tells why), so the service may still run.
    std::optional<Owner> findService(std::string& error);

    enum class Answer { Closing, Refused, Failed };
    // The close request, unconfirmed: the service closes when no session
    // runs or its settings say closing need not ask, and refuses otherwise.
    // Failed: no answer within wait (error says why).
    Answer requestClose(const Owner& owner, std::chrono::milliseconds wait, std::string& error);

    bool anyBus() const { return !buses_.empty(); }
    const std::vector<std::string>& openErrors() const { return openErrors_; }

private:
    std::vector<std::unique_ptr<sdbus::IConnection>> buses_;
    std::vector<std::string> openErrors_;
};

} // namespace plx
