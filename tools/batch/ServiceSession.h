#pragma once
// A command tool's objects of the service: the Client with its events
// subscribed (so the service counts the tool as a connected application)
// and ignored, and a Transport and a Retrieve of the tool's own, each
// initialised with the Client. They go in the order Retrieve, Transport,
// Client.

#include <memory>

#include "client/ServiceApi.h"

namespace plx {

class ServiceSession {
public:
    // Connects, creates and initialises; blocks for it. Never throws.
    ServiceSession();
    ServiceSession(const ServiceSession&) = delete;
    ServiceSession& operator=(const ServiceSession&) = delete;

    // The first failure of the start (1/99 when the service cannot be
    // reached); while it is not ok, transport() and retrieve() must not be used.
    const CallStatus& status() const { return status_; }
    RemoteTransport& transport() { return *transport_; }
    RemoteRetrieve& retrieve() { return *retrieve_; }

private:
    template <typename T>
    T keep(CallResult<T> result);

    IgnoredEvents events_;
    std::unique_ptr<ServiceBus> bus_;
    std::shared_ptr<RemoteTransport> transport_;
    std::shared_ptr<RemoteRetrieve> retrieve_;
    CallStatus status_;
};

} // namespace plx
