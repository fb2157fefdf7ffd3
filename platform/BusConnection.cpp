#include "platform/BusConnection.h"

#include <cstdlib>

namespace plx {

std::string busChoice(BusKind fallback) {
    if (const char* bus = std::getenv("PLX_BUS"); bus && *bus) return bus;
    return fallback == BusKind::System ? "system" : "session";
}

std::unique_ptr<sdbus::IConnection> openBus(BusKind fallback) {
    std::string choice = busChoice(fallback);
    if (choice == "system") return sdbus::createSystemBusConnection();
    if (choice == "session") return sdbus::createSessionBusConnection();
    return sdbus::createSessionBusConnectionWithAddress(choice);
}

} // namespace plx
