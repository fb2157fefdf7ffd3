#include "service/shell/BusServer.h"

#include <sdbus-c++/Message.h>

#include "platform/MemoryReturn.h"
#include "service/shell/BusObjects.h"

namespace plx {

namespace {
// What the bus answers for an object that is not there.
constexpr const char* kUnknownObjectError = "org.freedesktop.DBus.Error.UnknownObject";
} // namespace

BusServer::BusServer(sdbus::IConnection& connection, std::shared_ptr<Client> client)
    : connection_(connection), client_(std::move(client)), callers_(connection) {
    client_->setSubscriberCounter([this] { return subscriberCount(); });
    clientObject_ = std::make_unique<ClientObject>(connection_, client_, *this);
    factoryObject_ = std::make_unique<FactoryObject>(connection_, *this);
    serviceObject_ = std::make_unique<ServiceObject>(connection_, *this);
    // Every call is seen here before it is served: its caller is noted at
    // its first, and the objects released since are gone, so a call to one
    // (an Introspect too) finds nothing there.
    callWatch_ =
        std::make_unique<sdbus::Slot>(connection_.addMatch("type='method_call'", [this](sdbus::Message& message) {
            callers_.note(message.getSender());
            collectReleased();
        }));
    // A caller that leaves the bus loses its objects and its subscriptions.
    ownerWatch_ = std::make_unique<sdbus::Slot>(connection_.addMatch(
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'",
        [this](sdbus::Message& message) {
            std::string name, oldOwner, newOwner;
            message >> name >> oldOwner >> newOwner;
            if (newOwner.empty() && !name.empty() && name[0] == ':') peerGone(name);
            collectReleased();
        }));
}

BusServer::~BusServer() {
    callWatch_.reset();
    ownerWatch_.reset();
    client_->setSubscriberCounter({});
    serviceObject_.reset();
    factoryObject_.reset();
    {
        std::lock_guard lock(mutex_);
        objects_.clear();
        released_.clear();
    }
    clientObject_.reset();
}

std::string BusServer::newPath(const char* kind) {
    return std::string(kFactoryPath) + "/" + kind + "/" + std::to_string(nextId_++);
}

std::string BusServer::createTransport(const std::string& owner) {
    collectReleased();
    std::lock_guard lock(mutex_);
    std::size_t owned = 0;
    for (const auto& [path, entry] : objects_) owned += entry.owner == owner;
    if (owned >= kMaxObjectsPerCaller) throw sdbus::Error(kErrorName, "too many objects for one caller");
    std::string path = newPath("Transport");
    auto object = std::make_unique<TransportObject>(connection_, path, std::make_shared<Transport>(client_), *this);
    objects_.emplace(path, Owned{owner, std::move(object)});
    return path;
}

std::string BusServer::createRetrieve(const std::string& owner) {
    collectReleased();
    std::lock_guard lock(mutex_);
    std::size_t owned = 0;
    for (const auto& [path, entry] : objects_) owned += entry.owner == owner;
    if (owned >= kMaxObjectsPerCaller) throw sdbus::Error(kErrorName, "too many objects for one caller");
    std::string path = newPath("Retrieve");
    auto object = std::make_unique<RetrieveObject>(connection_, path, std::make_shared<Retrieve>(client_), *this);
    objects_.emplace(path, Owned{owner, std::move(object)});
    return path;
}

namespace {
constexpr const char* kNotTheCallersObject = "not an object of the caller";
} // namespace

void BusServer::release(const std::string& path, const std::string& caller) {
    checkServing(path, caller);
    std::lock_guard lock(mutex_);
    auto it = objects_.find(path);
    if (it == objects_.end()) throw sdbus::Error(kErrorName, kNotTheCallersObject);
    released_.emplace(path, std::move(it->second.object));
    objects_.erase(it);
}

void BusServer::collectReleased(const std::string& serving) {
    std::map<std::string, std::unique_ptr<BusObject>> dead;
    bool servingReleased = false;
    {
        std::lock_guard lock(mutex_);
        dead.swap(released_);
        // The serving object's handler is still running: it stays for later.
        if (auto node = dead.extract(serving)) {
            released_.insert(std::move(node));
            servingReleased = true;
        }
    }
    // The others are destroyed here, outside the handlers of their own.
    if (servingReleased) throw sdbus::Error(kUnknownObjectError, "the object was released");
}

void BusServer::checkServing(const std::string& path, const std::string& caller) {
    collectReleased(path);
    std::lock_guard lock(mutex_);
    auto it = objects_.find(path);
    if (it != objects_.end() && it->second.owner != caller) throw sdbus::Error(kErrorName, kNotTheCallersObject);
}

void BusServer::peerGone(const std::string& name) {
    std::vector<std::unique_ptr<BusObject>> dead;
    {
        std::lock_guard lock(mutex_);
        for (auto it = objects_.begin(); it != objects_.end();) {
            if (it->second.owner == name) {
                dead.push_back(std::move(it->second.object));
                it = objects_.erase(it);
            } else {
                ++it;
            }
        }
        subscriptions_.erase(name);
    }
    client_->forgetCaller(name);
    callers_.forget(name);
    if (!dead.empty()) {
        dead.clear();
        returnFreeMemoryIfIdle(); // a caller that made many transfers has left
    }
}

void BusServer::advise(const std::string& sender) {
    collectReleased();
    std::lock_guard lock(mutex_);
    ++subscriptions_[sender];
}

void BusServer::unadvise(const std::string& sender) {
    collectReleased();
    std::lock_guard lock(mutex_);
    auto it = subscriptions_.find(sender);
    if (it != subscriptions_.end() && --it->second <= 0) subscriptions_.erase(it);
}

std::int32_t BusServer::subscriberCount() const {
    std::lock_guard lock(mutex_);
    std::int32_t count = 0;
    for (const auto& [name, n] : subscriptions_) count += n;
    return count;
}

std::vector<std::string> BusServer::subscribers() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [name, n] : subscriptions_) names.push_back(name);
    return names;
}

void BusServer::setCloseHandler(std::function<bool(bool)> handler) {
    std::lock_guard lock(mutex_);
    closeHandler_ = std::move(handler);
}

bool BusServer::requestClose(bool confirmed) {
    std::function<bool(bool)> handler;
    {
        std::lock_guard lock(mutex_);
        handler = closeHandler_;
    }
    return handler ? handler(confirmed) : false;
}

} // namespace plx
