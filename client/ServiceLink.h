#pragma once
// One connection to the bus the service runs on (PLX_BUS, else the session
// bus), with a thread of its own that delivers answers and events. Shared by
// the handles made over it, so none outlives the connection. It watches the
// service's name, so that a client can follow a service started late or
// started again.

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <sdbus-c++/Error.h>
#include <sdbus-c++/IConnection.h>

#include "client/CallStatus.h"
#include "client/PendingCalls.h"

namespace plx {

class ServiceLink {
public:
    // Never throws: when the bus cannot be reached, connection() is null and
    // status() says why.
    ServiceLink();
    ~ServiceLink();
    ServiceLink(const ServiceLink&) = delete;
    ServiceLink& operator=(const ServiceLink&) = delete;

    sdbus::IConnection* connection() { return connection_.get(); }
    const CallStatus& status() const { return status_; }
    // The thread answers and events arrive on.
    std::thread::id busThread() const { return busThread_; }
    // A registry for one object's calls, closed by the link when the
    // connection is lost.
    std::shared_ptr<PendingCalls> newPendingCalls();
    // started runs on the bus thread each time the service's name gets an
    // owner (a late start, a restart); an empty one stops it. Setting it
    // waits for a run in progress to end.
    void onServiceStarted(std::function<void()> started);

private:
    void runLoop();
    void lost();
    void ownerChanged(sdbus::Message& signal);

    std::unique_ptr<sdbus::IConnection> connection_;
    sdbus::Slot ownerWatch_; // after connection_: goes first
    std::mutex startedMutex_;
    std::function<void()> started_;
    CallStatus status_;
    std::thread loop_;
    std::thread::id busThread_;
    std::mutex mutex_;
    bool lost_ = false;
    std::vector<std::weak_ptr<PendingCalls>> registries_;
};

} // namespace plx
