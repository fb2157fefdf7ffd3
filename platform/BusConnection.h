#pragma once
// The bus the service and its clients meet on: PLX_BUS ("system",
// "session" or a bus address) when set, else the caller's default.

#include <memory>
#include <string>

#include <sdbus-c++/IConnection.h>

namespace plx {

enum class BusKind { System, Session };

// What PLX_BUS names, as text ("system", "session" or the address); the
// default when unset.
std::string busChoice(BusKind fallback);
// The choice names the system bus: "system", or the address the system bus
// is reached at (DBUS_SYSTEM_BUS_ADDRESS, else its well-known socket).
bool isSystemBus(const std::string& choice);
// A new connection to that bus. Throws sdbus::Error when it cannot be reached.
std::unique_ptr<sdbus::IConnection> openBus(BusKind fallback);

} // namespace plx
