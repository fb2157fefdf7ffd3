#pragma once
// The callers on the bus and what they hold for the file permission checks:
// asked of the bus once per connection, at its first message (its user and
// process), then taken from that process's current credentials.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>

#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IProxy.h>

#include "service/classes/CallerFiles.h"

namespace plx {

class BusCallers {
public:
    explicit BusCallers(sdbus::IConnection& connection);

    // Called on the bus thread for every message that arrives, before it
    // is served: the first of a connection fixes which process it is.
    void note(const std::string& sender);
    // The caller behind a unique bus name; Caller::unknown() when the bus
    // cannot say (the caller left already). Called on the bus thread while
    // one of sender's calls is served.
    Caller of(const std::string& sender);
    // sender left the bus.
    void forget(const std::string& sender);

private:
    // What the bus knows of a connection: fixed for its life.
    struct Identity {
        bool known = false;
        uid_t uid = 0;
        pid_t pid = 0;                        // 0: the bus did not say
        std::optional<std::uint64_t> started; // of pid, so a later process given it is not taken for it
    };
    // Noted once per connection.
    Identity identity(const std::string& sender);
    Identity ask(const std::string& sender);

    std::unique_ptr<sdbus::IProxy> driver_;
    std::mutex mutex_;
    std::map<std::string, Identity> known_;
};

} // namespace plx
