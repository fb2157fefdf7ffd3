#pragma once
// The service's objects for client programs: the one Client (terminal
// information, data kinds, events), and Transport and Retrieve objects that
// belong to this caller and are released when their handle goes. Every
// method sends at once and answers through a PendingCall carrying the
// call's own triple: wait() for it off a window's thread, or then() to be
// told on the bus thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "api/ApiRecords.h"
#include "api/ClientEvents.h"
#include "client/PendingCall.h"
#include "client/RemoteObject.h"

namespace plx {

// A listener for programs that subscribe to the events so that the service
// counts them as connected, but do nothing with them.
class IgnoredEvents final : public ClientEvents {
public:
    void PLSendStatus(std::int32_t, std::int32_t, std::int32_t) override {}
    void PLRecvStatus(std::int32_t, std::int32_t, std::int32_t) override {}
    void PLRecvRequest(std::int32_t, const std::string&) override {}
};

class RemoteClient {
public:
    explicit RemoteClient(std::shared_ptr<ServiceLink> link);

    const std::string& path() const { return object_.path(); }
    PendingCall<NoResult> PLSetTermInfo(const TerminalRec& rec);
    PendingCall<TerminalRec> PLGetTermInfo();
    // The definition fields of rec (FileType to UserData).
    PendingCall<NoResult> PLSetFileInfo(const FileRec& rec);
    PendingCall<std::int32_t> PLGetFileInfo(const FileInfoQuery& filter);
    // Over this caller's last PLGetFileInfo.
    PendingCall<FileRec> PLGetFileInfoAt(std::int32_t index);
    PendingCall<NoResult> PLDeleteFileInfo(const std::string& fileType);
    PendingCall<std::int32_t> GetAliveCount();
    PendingCall<NoResult> Advise();
    void Unadvise();

    // Subscribes listener to the signals; called once, before Advise. The
    // events come on the bus thread: a listener hands anything for a window
    // to the window's own thread and never waits there for a call.
    void listen(ClientEvents& listener);

private:
    RemoteObject object_;
};

class RemoteTransport {
public:
    RemoteTransport(std::shared_ptr<ServiceLink> link, std::string path);
    ~RemoteTransport(); // Release

    struct Received {
        std::string fileName;
        std::int32_t fileSize = 0;
    };

    const std::string& path() const { return object_.path(); }
    PendingCall<NoResult> Init(const std::string& clientPath);
    PendingCall<NoResult> PLSendData(const std::string& fileType, const std::string& folder, const std::string& file);
    // The temporary file name the entry was staged under.
    PendingCall<std::string> PLSetData(const std::string& fileType, const std::string& folder, const std::string& file,
                                       std::int32_t limitDay, std::int32_t setOption);
    PendingCall<Received> PLRecvData(const std::string& fileType, const std::string& folder, const std::string& file,
                                     std::int32_t resendFlag);
    // The file name written.
    PendingCall<std::string> PLGetDataA(const std::string& fileType, const std::string& clTempFilename,
                                        const std::string& folder, const std::string& file, std::int32_t createFlag);
    PendingCall<std::int32_t> PLGetData(const std::string& fileType, const std::string& svDataFilename,
                                        const std::string& setDateTimeFrom, const std::string& setDateTimeTo,
                                        std::int32_t fileSize, std::int32_t status, std::int32_t getOption,
                                        const std::string& folder, const std::string& file);
    PendingCall<FileRec> PLGetDataAt(std::int32_t index);

private:
    RemoteObject object_;
};

class RemoteRetrieve {
public:
    RemoteRetrieve(std::shared_ptr<ServiceLink> link, std::string path);
    ~RemoteRetrieve(); // Release

    const std::string& path() const { return object_.path(); }
    PendingCall<NoResult> Init(const std::string& clientPath);
    PendingCall<std::int32_t> PLSearchSent(const std::string& fileType, const std::string& clDataFilename,
                                           const std::string& setDateTimeFrom, const std::string& setDateTimeTo,
                                           std::int32_t status);
    PendingCall<FileRec> PLSearchSentAt(std::int32_t index);
    PendingCall<std::int32_t> PLSearchReceived(const std::string& fileType, const std::string& svDataFilename,
                                               const std::string& setDateTimeFrom, const std::string& setDateTimeTo,
                                               std::int32_t fileSize, std::int32_t status, std::int32_t getOption);
    PendingCall<FileRec> PLSearchReceivedAt(std::int32_t index);
    PendingCall<std::int32_t> PLDeleteFile(const std::string& fileType, std::int32_t sendRecvFlag,
                                           const std::string& setDate, const std::string& dayCount, std::int32_t status,
                                           const std::string& clTempFilename);

private:
    RemoteObject object_;
};

// A program's connection to the service: the Client, and the factory of
// this caller's Transport and Retrieve objects.
class ServiceBus {
public:
    // Connects and, with a listener, subscribes it to the Client's events
    // (Advise) before returning; blocks for that, so open it off a window's
    // thread. Never throws: when the service cannot be reached, status()
    // says so and every call answers with that failure.
    //
    // Each time the service's name gets an owner later (it started late or
    // again), the listener is subscribed to that service too, so that it
    // counts this program as connected, and then started runs on the bus
    // thread: keep it short and wait there for no call.
    explicit ServiceBus(ClientEvents* listener = nullptr, std::function<void()> started = {});
    ~ServiceBus(); // Unadvise

    const CallStatus& status() const { return status_; }
    RemoteClient& client() { return client_; }
    PendingCall<std::shared_ptr<RemoteTransport>> createTransport();
    PendingCall<std::shared_ptr<RemoteRetrieve>> createRetrieve();

private:
    std::shared_ptr<ServiceLink> link_;
    RemoteClient client_;
    RemoteObject factory_;
    std::atomic<bool> advised_ = false;
    CallStatus status_;
};

} // namespace plx
