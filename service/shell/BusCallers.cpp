#include "service/shell/BusCallers.h"

#include <cstdint>
#include <optional>
#include <sdbus-c++/Types.h>

namespace plx {

BusCallers::BusCallers(sdbus::IConnection& connection)
    : driver_(sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus")) {}

// The identity is asked of the bus once per connection; what it holds is
// read from its process on every call, so rights it gave up since then are
// not lent back.
Caller BusCallers::of(const std::string& sender) {
    std::optional<Identity> asked;
    {
        std::lock_guard lock(mutex_);
        if (auto it = known_.find(sender); it != known_.end()) asked = it->second;
    }
    if (!asked) {
        asked = ask(sender);
        std::lock_guard lock(mutex_);
        known_.insert_or_assign(sender, *asked);
    }
    const Identity& who = *asked;
    if (!who.known) return Caller::unknown();
    // A process we may not look at (/proc mounted with hidepid) has what
    // its user has at a fresh login.
    std::optional<Credentials> held = processCredentials(who.pid, who.uid, who.started);
    if (!held) held = userCredentials(who.uid);
    return held ? Caller::withCredentials(*held) : Caller::unknown();
}

void BusCallers::forget(const std::string& sender) {
    std::lock_guard lock(mutex_);
    known_.erase(sender);
}

// The bus knows the connection's user and process from the socket.
BusCallers::Identity BusCallers::ask(const std::string& sender) {
    std::map<std::string, sdbus::Variant> found;
    try {
        driver_->callMethod("GetConnectionCredentials")
            .onInterface("org.freedesktop.DBus")
            .withArguments(sender)
            .storeResultsTo(found);
    } catch (const sdbus::Error&) {
        return {};
    }
    auto uid = found.find("UnixUserID");
    if (uid == found.end()) return {};
    Identity who;
    who.known = true;
    who.uid = static_cast<uid_t>(uid->second.get<std::uint32_t>());
    if (auto pid = found.find("ProcessID"); pid != found.end()) {
        who.pid = static_cast<pid_t>(pid->second.get<std::uint32_t>());
        who.started = processStartTime(who.pid);
    }
    return who;
}

} // namespace plx
