#pragma once
// One object of the service as the client calls it: each call goes out at
// once and answers through a PendingCall with the call's own triple. A call
// the service fails carries LastErrorMsg, LastErrorCd and LastErrorCdDetail
// in its error; any other failure (no service, no answer in time, a
// dropped connection) answers with unreachableStatus().

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

// How long a call waits for its answer: a read or a change of settings is
// answered at once by a service that works; a transfer or a file's copy may
// take hours (the center's own time-outs, pltimeout.ini, are minutes).
inline constexpr std::chrono::seconds kShortCallTimeout{30};
inline constexpr std::chrono::hours kTransferCallTimeout{24};

// The reason a call that was not answered within bound gives up with.
std::string noAnswerReason(std::chrono::seconds bound);

inline constexpr const char* kNoReplyError = "org.freedesktop.DBus.Error.NoReply";

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

    // Waits kShortCallTimeout.
    template <typename T, typename... Args>
    PendingCall<T> call(const char* interface, const char* method, ReplyReader<T> read, const Args&... args) {
        return callWithin<T>(kShortCallTimeout, interface, method, std::move(read), args...);
    }
    // Waits kTransferCallTimeout.
    template <typename T, typename... Args>
    PendingCall<T> transfer(const char* interface, const char* method, ReplyReader<T> read, const Args&... args) {
        return callWithin<T>(kTransferCallTimeout, interface, method, std::move(read), args...);
    }
    // Sends and does not wait for the answer.
    void post(const char* interface, const char* method);

private:
    template <typename T, typename... Args>
    PendingCall<T> callWithin(std::chrono::seconds bound, const char* interface, const char* method,
                              ReplyReader<T> read, const Args&... args);

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
PendingCall<T> RemoteObject::callWithin(std::chrono::seconds bound, const char* interface, const char* method,
                                        ReplyReader<T> read, const Args&... args) {
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
        auto sent = std::chrono::steady_clock::now();
        auto onReply = [state, id = *id, pending = pending_, read = std::move(read), bound,
                        sent](sdbus::MethodReply& reply, const sdbus::Error* error) {
            pending->remove(id);
            // The same error says the service ended without an answer.
            if (error && error->getName() == kNoReplyError && std::chrono::steady_clock::now() - sent >= bound)
                return state->complete({unreachableStatus(noAnswerReason(bound)), T{}});
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
                state->complete({busFailure(e.getName()), T{}});
            }
        };
        try {
            proxy_->callMethod(message, std::move(onReply), bound);
        } catch (const sdbus::Error&) {
            pending_->remove(*id);
            throw;
        }
    } catch (const sdbus::Error& e) {
        state->complete({busFailure(e.getName()), T{}});
    }
    return PendingCall<T>(state);
}

} // namespace plx
