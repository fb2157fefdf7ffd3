#include "client/ServiceWrapper.h"

#include "client/FollowUpProgram.h"
#include "client/NamePlaceholders.h"

namespace plx {

namespace {

LocalDateTime systemClock() { return localNow().value_or(LocalDateTime{}); }

// The call never reached an object: the service that made them is gone.
bool objectsGone(const CallStatus& status) {
    return status.busError == "org.freedesktop.DBus.Error.UnknownObject" ||
           status.busError == "org.freedesktop.DBus.Error.ServiceUnknown";
}

} // namespace

ServiceWrapper::ServiceWrapper(UserNotifier& notifier, Clock clock)
    : notifier_(notifier), clock_(clock ? std::move(clock) : Clock(systemClock)) {
    start();
}

void ServiceWrapper::start() {
    transport_.reset();
    retrieve_.reset();
    startsAtStart_ = serviceStarts_;
    // The new bus subscribes before the old one lets go: the service never
    // counts this program out in between.
    auto bus = std::make_unique<ServiceBus>(&events_, [this] { serviceStarted(); });
    bus_ = std::move(bus);
    status_ = bus_->status();
    if (status_.ok()) transport_ = keep(bus_->createTransport().wait());
    if (status_.ok()) retrieve_ = keep(bus_->createRetrieve().wait());
    if (status_.ok()) keep(transport_->Init(bus_->client().path()).wait());
    if (status_.ok()) keep(retrieve_->Init(bus_->client().path()).wait());
    started_ = status_.ok();
}

void ServiceWrapper::serviceStarted() {
    ++serviceStarts_;
    std::lock_guard lock(startedMutex_);
    if (startedHook_) startedHook_();
}

void ServiceWrapper::onServiceStarted(std::function<void()> started) {
    std::lock_guard lock(startedMutex_);
    startedHook_ = std::move(started);
    if (startedHook_ && serviceStarts_ > 0) startedHook_();
}

void ServiceWrapper::onTransport(const std::function<void()>& call) {
    // Objects of a service that has since started again are gone or not ours.
    if (!started_ || serviceStarts_ != startsAtStart_) {
        start();
        if (!started_) return;
    }
    call();
    if (!objectsGone(status_)) return;
    start();
    if (started_) call();
}

ServiceWrapper::~ServiceWrapper() {
    onServiceStarted({});
    transport_.reset();
    retrieve_.reset();
    bus_.reset();
}

template <typename T>
T ServiceWrapper::keep(CallResult<T> result) {
    status_ = std::move(result.status);
    return status_.ok() ? std::move(result.value) : T{};
}

TerminalRec ServiceWrapper::GetTermInfo() {
    CallResult<TerminalRec> read = bus_->client().PLGetTermInfo().wait();
    status_ = std::move(read.status);
    return std::move(read.value); // also the record a failure carries
}

void ServiceWrapper::SetTermInfo(const TerminalRec& rec) { keep(bus_->client().PLSetTermInfo(rec).wait()); }

std::int32_t ServiceWrapper::GetFileInfo() { return keep(bus_->client().PLGetFileInfo({}).wait()); }

FileRec ServiceWrapper::GetFileInfoAt(std::int32_t index) { return keep(bus_->client().PLGetFileInfoAt(index).wait()); }

void ServiceWrapper::SetFileInfo(const FileRec& rec) { keep(bus_->client().PLSetFileInfo(rec).wait()); }

void ServiceWrapper::DeleteFileInfo(const std::string& fileType) {
    keep(bus_->client().PLDeleteFileInfo(fileType).wait());
}

void ServiceWrapper::SendData(const std::string& fileType, const std::string& cldir, const std::string& clfile,
                              const std::string& followUp) {
    LocalDateTime now = clock_();
    std::string folder = expandPlaceholders(cldir, now);
    std::string file = expandPlaceholders(clfile, now);
    onTransport([&] { keep(transport_->PLSendData(fileType, folder, file).wait()); });
    runFollowUp(followUp);
}

std::int32_t ServiceWrapper::RecvData(const std::string& fileType, const std::string& cldir, std::string& clfile,
                                      std::int32_t flag, const std::string& followUp) {
    LocalDateTime now = clock_();
    std::string folder = expandPlaceholders(cldir, now);
    clfile = expandPlaceholders(clfile, now);
    RemoteTransport::Received received;
    onTransport([&] { received = keep(transport_->PLRecvData(fileType, folder, clfile, flag).wait()); });
    if (!status_.ok()) return 0;
    clfile = received.fileName;
    runFollowUp(followUp);
    return received.fileSize;
}

void ServiceWrapper::runFollowUp(const std::string& commandLine) {
    if (!status_.ok() || commandLine.empty()) return;
    int error = 0;
    if (startProgram(commandLine, error)) return;
    // The transfer itself succeeded: the triple stays 0.
    notifier_.show("Korvane/PLX プログラム実行", "\"" + commandLine + "\"の呼び出しに失敗しました。",
                   UserNotifier::Icon::Warning);
}

} // namespace plx
