#include "service/shell/BusObjects.h"

#include "service/shell/BusServer.h"

namespace plx {

namespace {

// A failed method answers with the error name, LastErrorMsg as the error's
// message and then LastErrorCd and LastErrorCdDetail: the caller gets the
// triple of its own call, whatever other callers did to the object since.
// carried: results the failure still hands out, after the triple.
template <typename... C>
void replyFailure(const sdbus::MethodCall& call, std::int32_t code, std::int32_t detail, const std::string& message,
                  const C&... carried) {
    auto reply = call.createErrorReply(sdbus::Error(kErrorName, message));
    reply << code << detail;
    ((reply << carried), ...);
    reply.send();
}

// The answer to one PL method: its results, or the failure's triple.
template <typename... R>
class Reply {
public:
    Reply(sdbus::Result<R...>&& result, sdbus::MethodCall call) : result_(std::move(result)), call_(std::move(call)) {}
    void operator()(const ApiResult& r, const R&... values) {
        r ? result_.returnResults(values...) : replyFailure(call_, r.code, r.detail, r.message);
    }
    // As operator(), a failure carrying the results as far as they were made.
    void carrying(const ApiResult& r, const R&... values) {
        r ? result_.returnResults(values...) : replyFailure(call_, r.code, r.detail, r.message, values...);
    }
    void unexpected(const std::exception& e) { replyFailure(call_, kApiNotReady, 0, e.what()); }

private:
    sdbus::Result<R...> result_;
    sdbus::MethodCall call_;
};

std::string callerOf(sdbus::IObject& object) {
    const sdbus::Message* message = object.getCurrentlyProcessedMessage();
    return message ? message->getSender() : std::string();
}

// The call object's handler is serving; only valid inside that handler.
sdbus::MethodCall currentCall(sdbus::IObject& object) {
    return *static_cast<const sdbus::MethodCall*>(object.getCurrentlyProcessedMessage());
}

// Runs work on pool with the call's reply; work answers it. The object's
// serving was checked before.
template <typename... R, typename Work>
void onPool(WorkerPool& pool, sdbus::IObject& object, sdbus::Result<R...>&& result, Work work) {
    auto reply = std::make_shared<Reply<R...>>(std::move(result), currentCall(object));
    pool.submit([reply, work = std::move(work)]() mutable {
        try {
            work(*reply);
        } catch (const std::exception& e) {
            reply->unexpected(e);
        }
    });
}

// A call that answers at once: settings, searches, result lists.
template <typename... R, typename Work>
void onWorker(sdbus::IObject& object, BusServer& server, sdbus::Result<R...>&& result, Work work) {
    server.checkServing(object.getObjectPath(), callerOf(object));
    onPool(server.quickCalls(), object, std::move(result), std::move(work));
}

// A call that moves files, with the caller whose files they are: known here,
// on the bus thread, while its call is the one being served.
template <typename... R, typename Work>
void onTransferWorker(sdbus::IObject& object, BusServer& server, sdbus::Result<R...>&& result, Work work) {
    // A refused call costs no look-up of the caller's rights.
    const std::string sender = callerOf(object);
    server.checkServing(object.getObjectPath(), sender);
    Caller caller = server.callers().of(sender);
    onPool(server.transfers(), object, std::move(result),
           [caller = std::move(caller), work = std::move(work)](auto& reply) mutable { work(reply, caller); });
}

// The triple of a Transport or Retrieve; a released one answers
// UnknownObject. A property read carries no sender here, so its owner is not
// checked: the failing call's own answer is what callers rely on.
template <typename Object>
ErrorTriple& liveTriple(BusServer& server, sdbus::IObject& served, Object& object) {
    server.collectReleased(served.getObjectPath());
    return object.triple();
}

// The Client's events go to each advised caller alone, never to the whole
// bus: no other caller sees what another transfers.
template <typename... Args>
void emitToAdvised(sdbus::IObject& object, BusServer& server, const char* name, const Args&... args) {
    for (const std::string& caller : server.subscribers()) {
        try {
            sdbus::Signal signal = object.createSignal(kClientInterface, name);
            signal.setDestination(caller);
            (signal << ... << args);
            object.emitSignal(signal);
        } catch (const sdbus::Error&) {
            // A caller that just left must not keep the event from the others.
        }
    }
}

} // namespace

// ---- Factory ----

FactoryObject::FactoryObject(sdbus::IConnection& connection, BusServer& server)
    : AdaptorInterfaces(connection, kFactoryPath), server_(server) {
    registerAdaptor();
}

FactoryObject::~FactoryObject() { unregisterAdaptor(); }

std::string FactoryObject::sender() { return callerOf(getObject()); }

sdbus::ObjectPath FactoryObject::CreateTransport() { return sdbus::ObjectPath(server_.createTransport(sender())); }
sdbus::ObjectPath FactoryObject::CreateRetrieve() { return sdbus::ObjectPath(server_.createRetrieve(sender())); }

// ---- Service ----

ServiceObject::ServiceObject(sdbus::IConnection& connection, BusServer& server)
    : AdaptorInterfaces(connection, kServicePath), server_(server) {
    registerAdaptor();
}

ServiceObject::~ServiceObject() { unregisterAdaptor(); }

bool ServiceObject::Close(const bool& confirmed) {
    server_.collectReleased();
    return server_.requestClose(confirmed);
}

std::string ServiceObject::WindowClass() { return "Korvane/PLX_Class"; }
std::string ServiceObject::WindowTitle() { return "Korvane/PLX"; }

// ---- Client ----

ClientObject::ClientObject(sdbus::IConnection& connection, std::shared_ptr<Client> client, BusServer& server)
    : AdaptorInterfaces(connection, kClientPath), client_(std::move(client)), server_(server) {
    registerAdaptor();
    client_->setEventSink(this);
}

ClientObject::~ClientObject() {
    client_->setEventSink(nullptr);
    unregisterAdaptor();
}

void ClientObject::PLSendStatus(std::int32_t totalByte, std::int32_t sentByte, std::int32_t passedTime) {
    emitToAdvised(getObject(), server_, "PLSendStatus", totalByte, sentByte, passedTime);
}

void ClientObject::PLRecvStatus(std::int32_t totalByte, std::int32_t recvByte, std::int32_t passedTime) {
    emitToAdvised(getObject(), server_, "PLRecvStatus", totalByte, recvByte, passedTime);
}

void ClientObject::PLRecvRequest(std::int32_t eventCode, const std::string& fileType) {
    emitToAdvised(getObject(), server_, "PLRecvRequest", eventCode, fileType);
}

void ClientObject::PLSetTermInfo(sdbus::Result<>&& result, std::string TerminalID, std::string CenterID,
                                 std::string CenterHost, std::string CenterURL, std::string Password,
                                 std::string ProtocolVersion, std::string ProxyServer, std::string ProxyUser,
                                 std::string ProxyPassword) {
    onWorker(getObject(), server_, std::move(result),
             [client = client_, TerminalID, CenterID, CenterHost, CenterURL, Password, ProtocolVersion, ProxyServer,
              ProxyUser, ProxyPassword](auto& reply) {
                 ApiResult r = client->PLSetTermInfo(TerminalID, CenterID, CenterHost, CenterURL, Password,
                                                     ProtocolVersion, ProxyServer, ProxyUser, ProxyPassword);
                 reply(r);
             });
}

void ClientObject::PLGetTermInfo(sdbus::Result<BusTerminalRec>&& result) {
    onWorker(getObject(), server_, std::move(result), [client = client_](auto& reply) {
        TerminalRec rec;
        ApiResult r = client->PLGetTermInfo(rec);
        reply.carrying(r, toBus(rec)); // a faulty record, to be repaired
    });
}

void ClientObject::PLSetFileInfo(sdbus::Result<>&& result, std::string FileType, std::string DataName,
                                 int32_t ServiceNo, std::string ProtocolFilename, std::string AccessKey,
                                 int32_t RecordLength, int32_t CompressID, std::string UserData) {
    onWorker(getObject(), server_, std::move(result),
             [client = client_, FileType, DataName, ServiceNo, ProtocolFilename, AccessKey, RecordLength, CompressID,
              UserData](auto& reply) {
                 ApiResult r = client->PLSetFileInfo(FileType, DataName, ServiceNo, ProtocolFilename, AccessKey,
                                                     RecordLength, CompressID, UserData);
                 reply(r);
             });
}

void ClientObject::PLGetFileInfo(sdbus::Result<int32_t>&& result, std::string FileType, int32_t ServiceNo,
                                 std::string ProtocolFilename, std::string AccessKey, int32_t RecordLength,
                                 int32_t CompressID) {
    onWorker(getObject(), server_, std::move(result),
             [client = client_, caller = callerOf(getObject()), FileType, ServiceNo, ProtocolFilename, AccessKey,
              RecordLength, CompressID](auto& reply) {
                 std::int32_t count = 0;
                 ApiResult r = client->PLGetFileInfo(FileType, ServiceNo, ProtocolFilename, AccessKey, RecordLength,
                                                     CompressID, count, caller);
                 reply(r, count);
             });
}

void ClientObject::PLGetFileInfoAt(sdbus::Result<BusFileRec>&& result, int32_t index) {
    onWorker(getObject(), server_, std::move(result),
             [client = client_, caller = callerOf(getObject()), index](auto& reply) {
                 FileRec rec;
                 ApiResult r = client->PLGetFileInfoAt(index, rec, caller);
                 reply(r, toBus(rec));
             });
}

void ClientObject::PLDeleteFileInfo(sdbus::Result<>&& result, std::string FileType) {
    onWorker(getObject(), server_, std::move(result), [client = client_, FileType](auto& reply) {
        ApiResult r = client->PLDeleteFileInfo(FileType);
        reply(r);
    });
}

int32_t ClientObject::GetAliveCount() {
    server_.collectReleased();
    return client_->GetAliveCount();
}
void ClientObject::Advise() { server_.advise(callerOf(getObject())); }
void ClientObject::Unadvise() { server_.unadvise(callerOf(getObject())); }
int32_t ClientObject::LastErrorCd() { return client_->triple().code(); }
int32_t ClientObject::LastErrorCdDetail() { return client_->triple().detail(); }
std::string ClientObject::LastErrorMsg() { return client_->triple().message(); }
int32_t ClientObject::AliveCount() { return client_->AliveCount(); }
void ClientObject::AliveCount(const int32_t& value) { client_->setAliveCount(value); }

// ---- Transport ----

TransportObject::TransportObject(sdbus::IConnection& connection, std::string path, std::shared_ptr<Transport> transport,
                                 BusServer& server)
    : AdaptorInterfaces(connection, path), path_(std::move(path)), transport_(std::move(transport)), server_(server) {
    registerAdaptor();
}

TransportObject::~TransportObject() { unregisterAdaptor(); }

void TransportObject::Init(const sdbus::ObjectPath&) {
    server_.checkServing(path_, callerOf(getObject()));
} // it has its Client already

void TransportObject::PLSendData(sdbus::Result<>&& result, std::string FileType, std::string ClDataDirectory,
                                 std::string ClDataFilename) {
    onTransferWorker(getObject(), server_, std::move(result),
                     [t = transport_, FileType, ClDataDirectory, ClDataFilename](auto& reply, const Caller& caller) {
                         ApiResult r = t->PLSendData(FileType, ClDataDirectory, ClDataFilename, caller);
                         reply(r);
                     });
}

void TransportObject::PLSetData(sdbus::Result<std::string>&& result, std::string FileType, std::string ClDataDirectory,
                                std::string ClDataFilename, int32_t LimitDay, int32_t SetOption) {
    onTransferWorker(getObject(), server_, std::move(result),
                     [t = transport_, FileType, ClDataDirectory, ClDataFilename, LimitDay,
                      SetOption](auto& reply, const Caller& caller) {
                         std::string temp;
                         ApiResult r =
                             t->PLSetData(FileType, ClDataDirectory, ClDataFilename, LimitDay, SetOption, temp, caller);
                         reply(r, temp);
                     });
}

void TransportObject::PLRecvData(sdbus::Result<std::string, int32_t>&& result, std::string FileType,
                                 std::string ClDataDirectory, std::string ClDataFilename, int32_t ResendFlag) {
    onTransferWorker(getObject(), server_, std::move(result),
                     [t = transport_, FileType, ClDataDirectory, ClDataFilename,
                      ResendFlag](auto& reply, const Caller& caller) mutable {
                         std::int32_t size = 0;
                         ApiResult r =
                             t->PLRecvData(FileType, ClDataDirectory, ClDataFilename, ResendFlag, size, caller);
                         reply(r, ClDataFilename, size);
                     });
}

void TransportObject::PLGetDataA(sdbus::Result<std::string>&& result, std::string FileType, std::string ClTempFilename,
                                 std::string ClDataDirectory, std::string ClDataFilename, int32_t CreateFlag) {
    onTransferWorker(getObject(), server_, std::move(result),
                     [t = transport_, FileType, ClTempFilename, ClDataDirectory, ClDataFilename,
                      CreateFlag](auto& reply, const Caller& caller) mutable {
                         ApiResult r = t->PLGetDataA(FileType, ClTempFilename, ClDataDirectory, ClDataFilename,
                                                     CreateFlag, caller);
                         reply(r, ClDataFilename);
                     });
}

void TransportObject::PLGetData(sdbus::Result<int32_t>&& result, std::string FileType, std::string SvDataFilename,
                                std::string SetDateTimeFrom, std::string SetDateTimeTo, int32_t FileSize,
                                int32_t Status, int32_t GetOption, std::string ClDataDirectory,
                                std::string ClDataFilename) {
    onTransferWorker(getObject(), server_, std::move(result),
                     [t = transport_, FileType, SvDataFilename, SetDateTimeFrom, SetDateTimeTo, FileSize, Status,
                      GetOption, ClDataDirectory, ClDataFilename](auto& reply, const Caller& caller) {
                         std::int32_t count = 0;
                         ApiResult r = t->PLGetData(FileType, SvDataFilename, SetDateTimeFrom, SetDateTimeTo, FileSize,
                                                    Status, GetOption, ClDataDirectory, ClDataFilename, count, caller);
                         reply(r, count);
                     });
}

void TransportObject::PLGetDataAt(sdbus::Result<BusFileRec>&& result, int32_t index) {
    onWorker(getObject(), server_, std::move(result), [t = transport_, index](auto& reply) {
        FileRec rec;
        ApiResult r = t->PLGetDataAt(index, rec);
        reply(r, toBus(rec));
    });
}

void TransportObject::Release() { server_.release(path_, callerOf(getObject())); }

int32_t TransportObject::LastErrorCd() { return liveTriple(server_, getObject(), *transport_).code(); }
int32_t TransportObject::LastErrorCdDetail() { return liveTriple(server_, getObject(), *transport_).detail(); }
std::string TransportObject::LastErrorMsg() { return liveTriple(server_, getObject(), *transport_).message(); }

// ---- Retrieve ----

RetrieveObject::RetrieveObject(sdbus::IConnection& connection, std::string path, std::shared_ptr<Retrieve> retrieve,
                               BusServer& server)
    : AdaptorInterfaces(connection, path), path_(std::move(path)), retrieve_(std::move(retrieve)), server_(server) {
    registerAdaptor();
}

RetrieveObject::~RetrieveObject() { unregisterAdaptor(); }

void RetrieveObject::Init(const sdbus::ObjectPath&) { server_.checkServing(path_, callerOf(getObject())); }

void RetrieveObject::PLSearchSent(sdbus::Result<int32_t>&& result, std::string FileType, std::string ClDataFilename,
                                  std::string SetDateTimeFrom, std::string SetDateTimeTo, int32_t Status) {
    onWorker(getObject(), server_, std::move(result),
             [rt = retrieve_, FileType, ClDataFilename, SetDateTimeFrom, SetDateTimeTo, Status](auto& reply) {
                 std::int32_t count = 0;
                 ApiResult r =
                     rt->PLSearchSent(FileType, ClDataFilename, SetDateTimeFrom, SetDateTimeTo, Status, count);
                 reply(r, count);
             });
}

void RetrieveObject::PLSearchSentAt(sdbus::Result<BusFileRec>&& result, int32_t index) {
    onWorker(getObject(), server_, std::move(result), [rt = retrieve_, index](auto& reply) {
        FileRec rec;
        ApiResult r = rt->PLSearchSentAt(index, rec);
        reply(r, toBus(rec));
    });
}

void RetrieveObject::PLSearchReceived(sdbus::Result<int32_t>&& result, std::string FileType, std::string SvDataFilename,
                                      std::string SetDateTimeFrom, std::string SetDateTimeTo, int32_t FileSize,
                                      int32_t Status, int32_t GetOption) {
    onWorker(getObject(), server_, std::move(result),
             [rt = retrieve_, FileType, SvDataFilename, SetDateTimeFrom, SetDateTimeTo, FileSize, Status,
              GetOption](auto& reply) {
                 std::int32_t count = 0;
                 ApiResult r = rt->PLSearchReceived(FileType, SvDataFilename, SetDateTimeFrom, SetDateTimeTo, FileSize,
                                                    Status, GetOption, count);
                 reply(r, count);
             });
}

void RetrieveObject::PLSearchReceivedAt(sdbus::Result<BusFileRec>&& result, int32_t index) {
    onWorker(getObject(), server_, std::move(result), [rt = retrieve_, index](auto& reply) {
        FileRec rec;
        ApiResult r = rt->PLSearchReceivedAt(index, rec);
        reply(r, toBus(rec));
    });
}

void RetrieveObject::PLDeleteFile(sdbus::Result<int32_t>&& result, std::string FileType, int32_t SendRecvFlag,
                                  std::string SetDate, std::string DayCount, int32_t Status,
                                  std::string ClTempFilename) {
    onWorker(getObject(), server_, std::move(result),
             [rt = retrieve_, FileType, SendRecvFlag, SetDate, DayCount, Status, ClTempFilename](auto& reply) {
                 std::int32_t count = 0;
                 ApiResult r =
                     rt->PLDeleteFile(FileType, SendRecvFlag, SetDate, DayCount, Status, ClTempFilename, count);
                 reply(r, count);
             });
}

void RetrieveObject::Release() { server_.release(path_, callerOf(getObject())); }

int32_t RetrieveObject::LastErrorCd() { return liveTriple(server_, getObject(), *retrieve_).code(); }
int32_t RetrieveObject::LastErrorCdDetail() { return liveTriple(server_, getObject(), *retrieve_).detail(); }
std::string RetrieveObject::LastErrorMsg() { return liveTriple(server_, getObject(), *retrieve_).message(); }

} // namespace plx
