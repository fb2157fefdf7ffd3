#include "service/shell/BusCallers.h"

#include <cstdint>
#include <sdbus-c++/Types.h>

namespace plx {

BusCallers::BusCallers(sdbus::IConnection& connection)
    : driver_(sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus")) {}

Caller BusCallers::of(const std::string& sender) {
    {
        std::lock_guard lock(mutex_);
        if (auto it = known_.find(sender); it != known_.end()) return it->second;
    }
    Caller caller = ask(sender);
    std::lock_guard lock(mutex_);
    known_.insert_or_assign(sender, caller);
    return caller;
}

void BusCallers::forget(const std::string& sender) {
    std::lock_guard lock(mutex_);
    known_.erase(sender);
}

// The bus knows the connection's user and process from the socket; the
// process's groups and capabilities come from the process itself, as long
// as it still runs as that user. A process we may not look at (/proc
// mounted with hidepid) has what its user has at a fresh login.
Caller BusCallers::ask(const std::string& sender) {
    std::map<std::string, sdbus::Variant> found;
    try {
        driver_->callMethod("GetConnectionCredentials")
            .onInterface("org.freedesktop.DBus")
            .withArguments(sender)
            .storeResultsTo(found);
    } catch (const sdbus::Error&) {
        return Caller::unknown();
    }
    auto uid = found.find("UnixUserID");
    if (uid == found.end()) return Caller::unknown();
    auto user = static_cast<uid_t>(uid->second.get<std::uint32_t>());
    std::optional<Credentials> held;
    if (auto pid = found.find("ProcessID"); pid != found.end())
        held = processCredentials(static_cast<pid_t>(pid->second.get<std::uint32_t>()), user);
    if (!held) held = userCredentials(user);
    return held ? Caller::withCredentials(*held) : Caller::unknown();
}

} // namespace plx
