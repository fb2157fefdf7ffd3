#pragma once
// One object of the service as the client calls it: each call goes out at
// once and answers through a PendingCall with the call's own triple. A call
// the service fails carries LastErrorMsg, LastErrorCd and LastErrorCdDetail
// in its error; any other failure (no service, no answer, a dropped
// connection) answers with unreachableStatus(). Calls wait up to 24 hours:
// a transfer may take that long.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <sdbus-c++/IProxy.h>
#include <sdbus-c++/Message.h>

#include "client/PendingCall.h"
#include "client/PendingCalls.h"
#include "client/ServiceLink.h"

namespace plx {

inline constexpr std::chrono::hours kServiceCallTimeout{24};

// The triple a failed call carries, from its error reply.
CallStatus statusOfError(const sdbus::Error& error, sdbus::MethodReply& reply);

class RemoteObject {
public:
    template <typename T>
    using ReplyReader = std::function<T(sdbus::MethodReply&)>;

    RemoteObject(std::shared_ptr<ServiceLink> link, std::string path);
    ~RemoteObject();
    RemoteObject(const RemoteObject&) = delete;
    RemoteObject& operator=(const RemoteObject&) = delete;

    const std::string& path() const { return path_; }
    sdbus::IProxy* proxy() { return proxy_.get(); }
    ServiceLink& link() { return *link_; }

    template <typename T, typename... Args>
    PendingCall<T> call(const char* interface, const char* method, ReplyReader<T> read, const Args&... args);
    // Sends and does not wait for the answer.
    void post(const char* interface, const char* method);

private:
    std::shared_ptr<ServiceLink> link_;
    std::string path_;
    std::unique_ptr<sdbus::IProxy> proxy_; // after link_: goes first
    std::shared_ptr<PendingCalls> pending_;
    CallStatus unavailable_; // what calls answer without a proxy
};

// Reads a call's single result of type T.
template <typename T>
T readOne(sdbus::MethodReply& reply) {
    T value{};
    reply >> value;
    return value;
}

template <typename T, typename... Args>
PendingCall<T> RemoteObject::call(const char* interface, const char* method, ReplyReader<T> read, const Args&... args) {
    auto state = std::make_shared<PendingState<T>>(link_->busThread());
    if (!proxy_) {
        state->complete({unavailable_, T{}});
        return PendingCall<T>(state);
    }
    try {
        auto message = proxy_->createMethodCall(interface, method);
        ((message << args), ...);
        auto id = pending_->add([state] { state->complete({unreachableStatus("接続が閉じられました"), T{}}); });
        if (!id) return PendingCall<T>(state);
        auto onReply = [state, id = *id, pending = pending_, read = std::move(read)](sdbus::MethodReply& reply,
                                                                                     const sdbus::Error* error) {
            pending->remove(id);
            if (error) {
                CallStatus status = statusOfError(*error, reply);
                T carried{}; // what a failure still hands out (a faulty terminal record)
                try {
                    carried = read(reply);
                } catch (const sdbus::Error&) {
                }
                return state->complete({std::move(status), std::move(carried)});
            }
            try {
                state->complete({CallStatus{}, read(reply)});
            } catch (const sdbus::Error& e) {
                state->complete({unreachableStatus(e.getName()), T{}});
            }
        };
        try {
            proxy_->callMethod(message, std::move(onReply), kServiceCallTimeout);
        } catch (const sdbus::Error&) {
            pending_->remove(*id);
            throw;
        }
    } catch (const sdbus::Error& e) {
        state->complete({unreachableStatus(e.getName()), T{}});
    }
    return PendingCall<T>(state);
}

} // namespace plx
