#pragma once
// The one place where the desktop client and the batch program talk to the
// service: one Client (subscribed to its events), one Transport and one
// Retrieve, the error triple of the last call, placeholder expansion before
// a transfer and the data kind's follow-up program after a successful one.
//
// No operation throws. After every operation LastErrorCd(),
// LastErrorCdDetail() and LastErrorMsg() hold the triple of that call as
// the service answered it; a service that cannot be reached gives code 1,
// detail 99 and a message saying so, and empty results. Calls block until
// the service answers (a transfer may take hours): a window calls them off
// its own thread. One call at a time.
//
// When the service was started again since the objects were made (its
// answer: no such object, or no owner of its name), a transfer makes them
// again and is tried once more; so is a transfer after a start that failed.
// A transfer that was running when the service went away still fails.
// The service's name is watched: when it gets an owner again this program
// is subscribed to the new service at once, the next transfer makes the
// objects again first, and the program is told (onServiceStarted).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "api/ApiRecords.h"
#include "client/ServiceApi.h"
#include "client/UserNotifier.h"
#include "platform/FileTime.h"

namespace plx {

class ServiceWrapper {
public:
    using Clock = std::function<LocalDateTime()>;

    // Creates Client, Transport and Retrieve and initialises Transport, then
    // Retrieve; LastErrorCd() right after tells whether the start succeeded.
    // notifier shows the follow-up program's failure box.
    explicit ServiceWrapper(UserNotifier& notifier, Clock clock = {});
    ~ServiceWrapper(); // releases Transport, Retrieve, then Client
    ServiceWrapper(const ServiceWrapper&) = delete;
    ServiceWrapper& operator=(const ServiceWrapper&) = delete;

    // A record the service refused for a stored value still comes back as
    // the service read it.
    TerminalRec GetTermInfo();
    void SetTermInfo(const TerminalRec& rec);
    // Every registered data kind: the count, read one by one with GetFileInfoAt.
    std::int32_t GetFileInfo();
    FileRec GetFileInfoAt(std::int32_t index);
    void SetFileInfo(const FileRec& rec);
    void DeleteFileInfo(const std::string& fileType);
    void SendData(const std::string& fileType, const std::string& cldir, const std::string& clfile,
                  const std::string& followUp);
    // clfile comes back expanded, or as the service named the file it wrote.
    std::int32_t RecvData(const std::string& fileType, const std::string& cldir, std::string& clfile, std::int32_t flag,
                          const std::string& followUp);

    std::int32_t LastErrorCd() const { return status_.code; }
    std::int32_t LastErrorCdDetail() const { return status_.detail; }
    const std::string& LastErrorMsg() const { return status_.message; }
    // The three together.
    const CallStatus& triple() const { return status_; }

    // started runs on the bus thread each time the service starts after this
    // wrapper was made (at once when it did so already): keep it short and
    // make no call there. An empty one stops it; setting it waits for a run
    // in progress to end.
    void onServiceStarted(std::function<void()> started);

private:
    template <typename T>
    T keep(CallResult<T> result);
    void runFollowUp(const std::string& commandLine);
    // Makes Client, Transport and Retrieve and initialises them; the triple
    // says how that went.
    void start();
    // Runs call on Transport, making the objects again first after a failed
    // start, or once more after them when the service lost them.
    void onTransport(const std::function<void()>& call);
    void serviceStarted();

    UserNotifier& notifier_;
    Clock clock_;
    CallStatus status_;
    bool started_ = false;
    std::atomic<unsigned> serviceStarts_ = 0; // seen on the bus since the wrapper was made
    unsigned startsAtStart_ = 0;              // ... when the objects were made
    std::mutex startedMutex_;
    std::function<void()> startedHook_;
    IgnoredEvents events_; // subscribed: the service counts this program as connected
    std::unique_ptr<ServiceBus> bus_;
    std::shared_ptr<RemoteTransport> transport_;
    std::shared_ptr<RemoteRetrieve> retrieve_;
};

} // namespace plx
