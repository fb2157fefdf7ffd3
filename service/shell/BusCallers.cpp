#include "service/shell/BusCallers.h"

#include <cstdint>
#include <optional>
#include <sdbus-c++/Types.h>

namespace plx {

BusCallers::BusCallers(sdbus::IConnection& connection)
    : driver_(sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus")) {}

void BusCallers::note(const std::string& sender) {
    if (!sender.empty()) identity(sender);
}

// What its process holds now, so rights it gave up since its first message
// are not lent back. A process that is gone, runs as another user or may
// not be looked at (/proc mounted with hidepid) has what its user alone
// gives: never a group's right nor an override its user might have had.
Caller BusCallers::of(const std::string& sender) {
    const Identity who = identity(sender);
    if (!who.known) return Caller::unknown();
    std::optional<Credentials> held;
    if (who.started) held = processCredentials(who.pid, who.uid, who.started);
    return Caller::withCredentials(held ? *held : userAlone(who.uid));
}

void BusCallers::forget(const std::string& sender) {
    std::lock_guard lock(mutex_);
    known_.erase(sender);
}

BusCallers::Identity BusCallers::identity(const std::string& sender) {
    {
        std::lock_guard lock(mutex_);
        if (auto it = known_.find(sender); it != known_.end()) return it->second;
    }
    Identity who = ask(sender);
    std::lock_guard lock(mutex_);
    return known_.try_emplace(sender, who).first->second;
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
