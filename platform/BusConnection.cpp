#include "platform/BusConnection.h"

#include <cstdlib>

namespace plx {

std::string busChoice(BusKind fallback) {
    if (const char* bus = std::getenv("PLX_BUS"); bus && *bus) return bus;
    return fallback == BusKind::System ? "system" : "session";
}

bool isSystemBus(const std::string& choice) {
    if (choice == "system") return true;
    if (const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS"); address && *address && choice == address)
        return true;
    return choice == "unix:path=/run/dbus/system_bus_socket" || choice == "unix:path=/var/run/dbus/system_bus_socket";
}

std::unique_ptr<sdbus::IConnection> openBus(BusKind fallback) {
    std::string choice = busChoice(fallback);
    if (choice == "system") return sdbus::createSystemBusConnection();
    if (choice == "session") return sdbus::createSessionBusConnection();
    return sdbus::createSessionBusConnectionWithAddress(choice);
}

} // namespace plx
