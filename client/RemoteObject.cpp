#include "client/RemoteObject.h"

#include "api/BusApi.h"

namespace plx {

std::string noAnswerReason(std::chrono::seconds bound) {
    return std::to_string(bound.count()) + "秒待っても応答がありません";
}

CallStatus statusOfError(const sdbus::Error& error, sdbus::MethodReply& reply) {
    if (error.getName() != kErrorName) return busFailure(error.getName());
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

RemoteObject::RemoteObject(std::shared_ptr<ServiceLink> link, std::string path)
    : link_(std::move(link)), path_(std::move(path)), pending_(link_->newPendingCalls()) {
    if (!link_->connection()) {
        unavailable_ = link_->status();
        return;
    }
    try {
        proxy_ = sdbus::createProxy(*link_->connection(), kBusName, path_);
    } catch (const sdbus::Error& e) {
        unavailable_ = busFailure(e.getName());
    }
}

RemoteObject::~RemoteObject() {
    proxy_.reset();
    pending_->close();
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
