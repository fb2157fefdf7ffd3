#include "client/RemoteObject.h"

#include <vector>

#include "api/BusApi.h"

namespace plx {

CallStatus statusOfError(const sdbus::Error& error, sdbus::MethodReply& reply) {
    if (error.getName() != kErrorName) return unreachableStatus(error.getName());
    try {
        std::string message;
        std::int32_t code = 0;
        std::int32_t detail = 0;
        reply.rewind(true);
        reply >> message >> code >> detail;
        return CallStatus{code, detail, message};
    } catch (const sdbus::Error&) {
        // An error of the service without a triple (a misused object).
        return CallStatus{kApiNotReady, kInitFailureDetail, error.getMessage()};
    }
}

std::uint64_t PendingCalls::add(std::function<void()> abandon) {
    std::lock_guard lock(mutex_);
    std::uint64_t id = next_++;
    abandon_.emplace(id, std::move(abandon));
    return id;
}

void PendingCalls::remove(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    abandon_.erase(id);
}

void PendingCalls::abandonAll() {
    std::map<std::uint64_t, std::function<void()>> left;
    {
        std::lock_guard lock(mutex_);
        left.swap(abandon_);
    }
    for (auto& [id, abandon] : left) abandon();
}

RemoteObject::RemoteObject(std::shared_ptr<ServiceLink> link, std::string path)
    : link_(std::move(link)), path_(std::move(path)) {
    if (!link_->connection()) {
        unavailable_ = link_->status();
        return;
    }
    try {
        proxy_ = sdbus::createProxy(*link_->connection(), kBusName, path_);
    } catch (const sdbus::Error& e) {
        unavailable_ = unreachableStatus(e.getName());
    }
}

RemoteObject::~RemoteObject() {
    proxy_.reset();
    pending_->abandonAll();
}

void RemoteObject::post(const char* interface, const char* method) {
    if (!proxy_) return;
    try {
        auto message = proxy_->createMethodCall(interface, method);
        message.dontExpectReply();
        proxy_->callMethod(message);
    } catch (const sdbus::Error&) {
        // Nothing waits for it.
    }
}

} // namespace plx
