#include "tools/setup/ServiceBuses.h"

#include <chrono>

#include <sdbus-c++/Error.h>
#include <sdbus-c++/IProxy.h>

#include "api/BusApi.h"
#include "platform/BusConnection.h"

namespace plx {

ServiceBuses::ServiceBuses() {
    std::vector<BusKind> kinds{BusKind::System};
    if (busChoice(BusKind::Session) != busChoice(BusKind::System)) kinds.push_back(BusKind::Session);
    for (BusKind kind : kinds) {
        try {
            buses_.push_back(openBus(kind));
        } catch (const sdbus::Error& e) {
            openErrors_.push_back(busChoice(kind) + ": " + e.getMessage());
        }
    }
}

std::optional<ServiceBuses::Owner> ServiceBuses::findService(std::string& error) {
    error.clear();
    for (auto& bus : buses_) {
        try {
            auto daemon = sdbus::createProxy(*bus, "org.freedesktop.DBus", "/org/freedesktop/DBus");
            std::string owner;
            daemon->callMethod("GetNameOwner")
                .onInterface("org.freedesktop.DBus")
                .withArguments(std::string(kBusName))
                .storeResultsTo(owner);
            return Owner{bus.get(), owner};
        } catch (const sdbus::Error& e) {
            if (e.getName() != "org.freedesktop.DBus.Error.NameHasNoOwner") error = e.getName() + ": " + e.getMessage();
        }
    }
    return std::nullopt;
}

ServiceBuses::Answer ServiceBuses::requestClose(const Owner& owner, std::chrono::milliseconds wait,
                                                std::string& error) {
    try {
        auto service = sdbus::createProxy(*owner.bus, owner.uniqueName, kServicePath);
        bool closing = false;
        service->callMethod("Close")
            .onInterface(kServiceInterface)
            .withTimeout(wait)
            .withArguments(false)
            .storeResultsTo(closing);
        return closing ? Answer::Closing : Answer::Refused;
    } catch (const sdbus::Error& e) {
        error = e.getName() + ": " + e.getMessage();
        return Answer::Failed;
    }
}

} // namespace plx
