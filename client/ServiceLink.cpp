#include "client/ServiceLink.h"

#include <future>

#include "platform/BusConnection.h"

namespace plx {

ServiceLink::ServiceLink() {
    try {
        connection_ = openBus(BusKind::Session);
    } catch (const sdbus::Error& e) {
        status_ = unreachableStatus(e.getName());
        return;
    }
    std::promise<std::thread::id> started;
    auto id = started.get_future();
    loop_ = std::thread([this, &started] {
        started.set_value(std::this_thread::get_id());
        connection_->enterEventLoop();
    });
    busThread_ = id.get();
}

ServiceLink::~ServiceLink() {
    if (!loop_.joinable()) return;
    connection_->leaveEventLoop();
    loop_.join();
}

} // namespace plx
