#include "tools/batch/ServiceSession.h"

namespace plx {

template <typename T>
T ServiceSession::keep(CallResult<T> result) {
    status_ = std::move(result.status);
    return std::move(result.value);
}

ServiceSession::ServiceSession() : bus_(std::make_unique<ServiceBus>(&events_)), status_(bus_->status()) {
    if (status_.ok()) transport_ = keep(bus_->createTransport().wait());
    if (status_.ok()) retrieve_ = keep(bus_->createRetrieve().wait());
    if (status_.ok()) keep(transport_->Init(bus_->client().path()).wait());
    if (status_.ok()) keep(retrieve_->Init(bus_->client().path()).wait());
}

} // namespace plx
