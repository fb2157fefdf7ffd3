#include "client/ServiceApi.h"

#include "api/BusApi.h"

namespace plx {

namespace {

NoResult readNothing(sdbus::MethodReply&) { return {}; }

TerminalRec readTerminal(sdbus::MethodReply& reply) { return fromBus(readOne<BusTerminalRec>(reply)); }

FileRec readFile(sdbus::MethodReply& reply) { return fromBus(readOne<BusFileRec>(reply)); }

std::string readPath(sdbus::MethodReply& reply) { return readOne<sdbus::ObjectPath>(reply); }

} // namespace

// ---- Client ----

RemoteClient::RemoteClient(std::shared_ptr<ServiceLink> link) : object_(std::move(link), kClientPath) {}

PendingCall<NoResult> RemoteClient::PLSetTermInfo(const TerminalRec& r) {
    return object_.call<NoResult>(kClientInterface, "PLSetTermInfo", readNothing, r.TerminalID, r.CenterID,
                                  r.CenterHost, r.CenterURL, r.Password, r.ProtocolVersion, r.ProxyServer, r.ProxyUser,
                                  r.ProxyPassword);
}

PendingCall<TerminalRec> RemoteClient::PLGetTermInfo() {
    return object_.call<TerminalRec>(kClientInterface, "PLGetTermInfo", readTerminal);
}

PendingCall<NoResult> RemoteClient::PLSetFileInfo(const FileRec& r) {
    return object_.call<NoResult>(kClientInterface, "PLSetFileInfo", readNothing, r.FileType, r.DataName, r.ServiceNo,
                                  r.ProtocolFilename, r.AccessKey, r.RecordLength, r.CompressID, r.UserData);
}

PendingCall<std::int32_t> RemoteClient::PLGetFileInfo(const FileInfoQuery& f) {
    return object_.call<std::int32_t>(kClientInterface, "PLGetFileInfo", readOne<std::int32_t>, f.FileType, f.ServiceNo,
                                      f.ProtocolFilename, f.AccessKey, f.RecordLength, f.CompressID);
}

PendingCall<FileRec> RemoteClient::PLGetFileInfoAt(std::int32_t index) {
    return object_.call<FileRec>(kClientInterface, "PLGetFileInfoAt", readFile, index);
}

PendingCall<NoResult> RemoteClient::PLDeleteFileInfo(const std::string& fileType) {
    return object_.call<NoResult>(kClientInterface, "PLDeleteFileInfo", readNothing, fileType);
}

PendingCall<std::int32_t> RemoteClient::GetAliveCount() {
    return object_.call<std::int32_t>(kClientInterface, "GetAliveCount", readOne<std::int32_t>);
}

PendingCall<NoResult> RemoteClient::Advise() { return object_.call<NoResult>(kClientInterface, "Advise", readNothing); }

void RemoteClient::Unadvise() { object_.post(kClientInterface, "Unadvise"); }

void RemoteClient::listen(ClientEvents& listener) {
    sdbus::IProxy* proxy = object_.proxy();
    if (!proxy) return;
    proxy->uponSignal("PLSendStatus")
        .onInterface(kClientInterface)
        .call([&listener](std::int32_t total, std::int32_t sent, std::int32_t passed) {
            listener.PLSendStatus(total, sent, passed);
        });
    proxy->uponSignal("PLRecvStatus")
        .onInterface(kClientInterface)
        .call([&listener](std::int32_t total, std::int32_t received, std::int32_t passed) {
            listener.PLRecvStatus(total, received, passed);
        });
    proxy->uponSignal("PLRecvRequest")
        .onInterface(kClientInterface)
        .call([&listener](std::int32_t eventCode, const std::string& fileType) {
            listener.PLRecvRequest(eventCode, fileType);
        });
    proxy->finishRegistration();
}

// ---- Transport ----

RemoteTransport::RemoteTransport(std::shared_ptr<ServiceLink> link, std::string path)
    : object_(std::move(link), std::move(path)) {}

RemoteTransport::~RemoteTransport() { object_.post(kTransportInterface, "Release"); }

PendingCall<NoResult> RemoteTransport::Init(const std::string& clientPath) {
    return object_.call<NoResult>(kTransportInterface, "Init", readNothing, sdbus::ObjectPath(clientPath));
}

PendingCall<NoResult> RemoteTransport::PLSendData(const std::string& fileType, const std::string& folder,
                                                  const std::string& file) {
    return object_.transfer<NoResult>(kTransportInterface, "PLSendData", readNothing, fileType, folder, file);
}

PendingCall<std::string> RemoteTransport::PLSetData(const std::string& fileType, const std::string& folder,
                                                    const std::string& file, std::int32_t limitDay,
                                                    std::int32_t setOption) {
    return object_.transfer<std::string>(kTransportInterface, "PLSetData", readOne<std::string>, fileType, folder, file,
                                         limitDay, setOption);
}

PendingCall<RemoteTransport::Received> RemoteTransport::PLRecvData(const std::string& fileType,
                                                                   const std::string& folder, const std::string& file,
                                                                   std::int32_t resendFlag) {
    auto read = [](sdbus::MethodReply& reply) {
        Received received;
        reply >> received.fileName >> received.fileSize;
        return received;
    };
    return object_.transfer<Received>(kTransportInterface, "PLRecvData", read, fileType, folder, file, resendFlag);
}

PendingCall<std::string> RemoteTransport::PLGetDataA(const std::string& fileType, const std::string& clTempFilename,
                                                     const std::string& folder, const std::string& file,
                                                     std::int32_t createFlag) {
    return object_.transfer<std::string>(kTransportInterface, "PLGetDataA", readOne<std::string>, fileType,
                                         clTempFilename, folder, file, createFlag);
}

PendingCall<std::int32_t> RemoteTransport::PLGetData(const std::string& fileType, const std::string& svDataFilename,
                                                     const std::string& setDateTimeFrom,
                                                     const std::string& setDateTimeTo, std::int32_t fileSize,
                                                     std::int32_t status, std::int32_t getOption,
                                                     const std::string& folder, const std::string& file) {
    return object_.transfer<std::int32_t>(kTransportInterface, "PLGetData", readOne<std::int32_t>, fileType,
                                          svDataFilename, setDateTimeFrom, setDateTimeTo, fileSize, status, getOption,
                                          folder, file);
}

PendingCall<FileRec> RemoteTransport::PLGetDataAt(std::int32_t index) {
    return object_.call<FileRec>(kTransportInterface, "PLGetDataAt", readFile, index);
}

// ---- Retrieve ----

RemoteRetrieve::RemoteRetrieve(std::shared_ptr<ServiceLink> link, std::string path)
    : object_(std::move(link), std::move(path)) {}

RemoteRetrieve::~RemoteRetrieve() { object_.post(kRetrieveInterface, "Release"); }

PendingCall<NoResult> RemoteRetrieve::Init(const std::string& clientPath) {
    return object_.call<NoResult>(kRetrieveInterface, "Init", readNothing, sdbus::ObjectPath(clientPath));
}

PendingCall<std::int32_t> RemoteRetrieve::PLSearchSent(const std::string& fileType, const std::string& clDataFilename,
                                                       const std::string& setDateTimeFrom,
                                                       const std::string& setDateTimeTo, std::int32_t status) {
    return object_.call<std::int32_t>(kRetrieveInterface, "PLSearchSent", readOne<std::int32_t>, fileType,
                                      clDataFilename, setDateTimeFrom, setDateTimeTo, status);
}

PendingCall<FileRec> RemoteRetrieve::PLSearchSentAt(std::int32_t index) {
    return object_.call<FileRec>(kRetrieveInterface, "PLSearchSentAt", readFile, index);
}

PendingCall<std::int32_t> RemoteRetrieve::PLSearchReceived(const std::string& fileType,
                                                           const std::string& svDataFilename,
                                                           const std::string& setDateTimeFrom,
                                                           const std::string& setDateTimeTo, std::int32_t fileSize,
                                                           std::int32_t status, std::int32_t getOption) {
    return object_.call<std::int32_t>(kRetrieveInterface, "PLSearchReceived", readOne<std::int32_t>, fileType,
                                      svDataFilename, setDateTimeFrom, setDateTimeTo, fileSize, status, getOption);
}

PendingCall<FileRec> RemoteRetrieve::PLSearchReceivedAt(std::int32_t index) {
    return object_.call<FileRec>(kRetrieveInterface, "PLSearchReceivedAt", readFile, index);
}

PendingCall<std::int32_t> RemoteRetrieve::PLDeleteFile(const std::string& fileType, std::int32_t sendRecvFlag,
                                                       const std::string& setDate, const std::string& dayCount,
                                                       std::int32_t status, const std::string& clTempFilename) {
    return object_.transfer<std::int32_t>(kRetrieveInterface, "PLDeleteFile", readOne<std::int32_t>, fileType,
                                          sendRecvFlag, setDate, dayCount, status, clTempFilename);
}

// ---- ServiceBus ----

ServiceBus::ServiceBus(ClientEvents* listener, std::function<void()> started)
    : link_(std::make_shared<ServiceLink>()), client_(link_), factory_(link_, kFactoryPath), status_(link_->status()) {
    if (!status_.ok()) return;
    if (listener) client_.listen(*listener);
    // Watched before the first Advise, so that no start goes unseen.
    link_->onServiceStarted([this, listening = listener != nullptr, started = std::move(started)] {
        if (listening) {
            // The new service knows no subscriber of ours; its answer is not waited for.
            client_.Advise();
            advised_ = true;
        }
        if (started) started();
    });
    if (!listener) return;
    status_ = client_.Advise().wait().status;
    if (status_.ok()) advised_ = true;
}

ServiceBus::~ServiceBus() {
    link_->onServiceStarted({});
    if (advised_) client_.Unadvise();
}

PendingCall<std::shared_ptr<RemoteTransport>> ServiceBus::createTransport() {
    auto read = [link = link_](sdbus::MethodReply& reply) {
        return std::make_shared<RemoteTransport>(link, readPath(reply));
    };
    return factory_.call<std::shared_ptr<RemoteTransport>>(kFactoryInterface, "CreateTransport", read);
}

PendingCall<std::shared_ptr<RemoteRetrieve>> ServiceBus::createRetrieve() {
    auto read = [link = link_](sdbus::MethodReply& reply) {
        return std::make_shared<RemoteRetrieve>(link, readPath(reply));
    };
    return factory_.call<std::shared_ptr<RemoteRetrieve>>(kFactoryInterface, "CreateRetrieve", read);
}

} // namespace plx
