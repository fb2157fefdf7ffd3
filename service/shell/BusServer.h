#pragma once
// The service's objects on the bus: the factory, the one Client, and the
// Transport and Retrieve objects that each caller creates. Objects belong to
// the caller that created them and go with Release() or when that caller
// leaves the bus. Method calls run on worker pools, never on the bus thread:
// transfers on one, every other call on its own, so no call waits in line
// behind transfers.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/IConnection.h>

#include "service/classes/Client.h"
#include "service/shell/BusCallers.h"
#include "service/shell/WorkerPool.h"

namespace plx {

class BusObject;
class ClientObject;
class FactoryObject;
class ServiceObject;

class BusServer {
public:
    // Registers the factory and the Client on connection; the bus name is
    // requested by the caller once the service is ready.
    BusServer(sdbus::IConnection& connection, std::shared_ptr<Client> client);
    ~BusServer();
    BusServer(const BusServer&) = delete;
    BusServer& operator=(const BusServer&) = delete;

    // Called on the bus thread by the objects.
    std::string createTransport(const std::string& owner);
    std::string createRetrieve(const std::string& owner);
    // Throws as checkServing does when path is not a live object of caller's.
    void release(const std::string& path, const std::string& caller);
    void advise(const std::string& sender);
    void unadvise(const std::string& sender);
    // Applications connected to the Client's events.
    std::int32_t subscriberCount() const;
    // Their bus names, each once.
    std::vector<std::string> subscribers() const;

    // Calls that move files (PLSendData, PLSetData, PLRecvData, PLGetDataA,
    // PLGetData): they can take minutes.
    WorkerPool& transfers() { return transfers_; }
    // Everything else: settings, searches, result lists.
    WorkerPool& quickCalls() { return quickCalls_; }
    BusCallers& callers() { return callers_; }
    sdbus::IConnection& connection() { return connection_; }
    // The close request of the service object; answers whether the service closes.
    void setCloseHandler(std::function<bool(bool confirmed)> handler);
    bool requestClose(bool confirmed);
    // Objects released inside their own handler are destroyed when the next
    // message arrives, or at a later bus-thread call, never inside a handler
    // of theirs: every handler calls this first with its own object's path.
    // A released object answers every call until then with UnknownObject
    // (thrown here), as once it is gone.
    void collectReleased(const std::string& serving = {});
    // What every handler of a Transport or Retrieve does first: collectReleased
    // with its path, then refuses a caller that does not own the object, so
    // no caller drives or reads another's transfers.
    void checkServing(const std::string& path, const std::string& caller);

    static constexpr std::size_t kMaxObjectsPerCaller = 256;
    // Quick calls are short: a few threads keep them moving.
    static constexpr std::size_t kQuickCallThreads = 16;

private:
    void peerGone(const std::string& name);
    std::string newPath(const char* kind);

    sdbus::IConnection& connection_;
    std::shared_ptr<Client> client_;
    BusCallers callers_;
    WorkerPool transfers_;
    WorkerPool quickCalls_{kQuickCallThreads};

    mutable std::mutex mutex_;
    struct Owned {
        std::string owner;
        std::unique_ptr<BusObject> object;
    };
    std::map<std::string, Owned> objects_;
    std::map<std::string, std::unique_ptr<BusObject>> released_;
    std::map<std::string, int> subscriptions_;
    std::uint64_t nextId_ = 1;

    std::unique_ptr<ClientObject> clientObject_;
    std::unique_ptr<FactoryObject> factoryObject_;
    std::unique_ptr<ServiceObject> serviceObject_;
    std::function<bool(bool)> closeHandler_;
    std::unique_ptr<sdbus::Slot> ownerWatch_;
    std::unique_ptr<sdbus::Slot> callWatch_;
};

} // namespace plx
