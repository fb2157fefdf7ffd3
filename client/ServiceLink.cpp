#include "client/ServiceLink.h"

#include <future>

#include "api/BusApi.h"
#include "platform/BusConnection.h"

namespace plx {

ServiceLink::ServiceLink() {
    try {
        connection_ = openBus(BusKind::Session);
    } catch (const sdbus::Error& e) {
        status_ = busFailure(e.getName());
        return;
    }
    try {
        // Before the loop runs: adding a match waits for the bus's answer.
        ownerWatch_ = connection_->addMatch(std::string("type='signal',sender='org.freedesktop.DBus',"
                                                        "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
                                                        "arg0='") +
                                                kBusName + "'",
                                            [this](sdbus::Message& signal) { ownerChanged(signal); });
    } catch (const sdbus::Error&) {
        // Calls still work; only a later start of the service goes unnoticed.
    }
    std::promise<std::thread::id> started;
    auto id = started.get_future();
    loop_ = std::thread([this, &started] {
        started.set_value(std::this_thread::get_id());
        runLoop();
    });
    busThread_ = id.get();
}

void ServiceLink::runLoop() {
    try {
        connection_->enterEventLoop();
    } catch (const sdbus::Error&) {
        // The bus went away: no answer will come.
        lost();
    }
}

void ServiceLink::lost() {
    std::vector<std::weak_ptr<PendingCalls>> registries;
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
        registries.swap(registries_);
    }
    for (auto& weak : registries)
        if (auto registry = weak.lock()) registry->close();
}

void ServiceLink::ownerChanged(sdbus::Message& signal) {
    std::string name;
    std::string oldOwner;
    std::string newOwner;
    try {
        signal >> name >> oldOwner >> newOwner;
    } catch (const sdbus::Error&) {
        return;
    }
    if (name != kBusName || newOwner.empty()) return;
    std::lock_guard lock(startedMutex_);
    if (started_) started_();
}

void ServiceLink::onServiceStarted(std::function<void()> started) {
    std::lock_guard lock(startedMutex_);
    started_ = std::move(started);
}

std::shared_ptr<PendingCalls> ServiceLink::newPendingCalls() {
    auto registry = std::make_shared<PendingCalls>();
    std::lock_guard lock(mutex_);
    if (lost_) {
        registry->close();
    } else {
        std::erase_if(registries_, [](const auto& weak) { return weak.expired(); });
        registries_.push_back(registry);
    }
    return registry;
}

ServiceLink::~ServiceLink() {
    if (!loop_.joinable()) return;
    connection_->leaveEventLoop();
    loop_.join();
}

} // namespace plx
