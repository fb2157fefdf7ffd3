#pragma once
// The Client class: terminal information (plterm.ini), data-kind
// definitions (plfile.ini) and the events that tell applications about
// transfer progress and about transfers the center starts. One object
// serves the whole service process; its triple is shared by every caller,
// its search results are kept per caller.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "api/ApiRecords.h"
#include "api/ClientEvents.h"
#include "api/TextLimits.h"
#include "common/TermInfo.h"
#include "service/classes/ApiMethod.h"

namespace plx {

class Client {
public:
    Client();
    // The one Client of the process.
    static std::shared_ptr<Client> instance();

    ErrorTriple& triple() { return triple_; }

    ApiResult PLSetTermInfo(const std::string& TerminalID, const std::string& CenterID, const std::string& CenterHost,
                            const std::string& CenterURL, const std::string& Password,
                            const std::string& ProtocolVersion, const std::string& ProxyServer,
                            const std::string& ProxyUser, const std::string& ProxyPassword);
    // out holds every stored key, also when a faulty one fails the call;
    // route, when given, the center route of the same read.
    ApiResult PLGetTermInfo(TerminalRec& out, std::optional<CenterRoute>* route = nullptr);
    ApiResult PLSetFileInfo(const std::string& FileType, const std::string& DataName, std::int32_t ServiceNo,
                            const std::string& ProtocolFilename, const std::string& AccessKey,
                            std::int32_t RecordLength, std::int32_t CompressID, const std::string& UserData);
    // The results stay with caller (a bus name; empty for the service's own
    // objects, which hold the plfile.ini lock across the two calls), so two
    // programs listing data kinds at once each read their own list.
    ApiResult PLGetFileInfo(const std::string& FileType, std::int32_t ServiceNo, const std::string& ProtocolFilename,
                            const std::string& AccessKey, std::int32_t RecordLength, std::int32_t CompressID,
                            std::int32_t& count, const std::string& caller = {});
    ApiResult PLGetFileInfoAt(std::int32_t index, FileRec& out, const std::string& caller = {});
    ApiResult PLDeleteFileInfo(const std::string& FileType);

    // Internal members: no triple, no API log, failures swallowed.
    void innerPLRecvRequest(std::int32_t eventCode, const std::string& fileType);
    std::int32_t AliveCount() const { return aliveCount_; }
    void setAliveCount(std::int32_t value) { aliveCount_ = value; }
    // The number of applications connected to the events; stored in AliveCount.
    std::int32_t GetAliveCount();
    void inSendStatus(std::int32_t totalBytes, std::int32_t sentByte, std::int32_t passedTime);
    void inRecvStatus(std::int32_t totalByte, std::int32_t recvByte, std::int32_t passedTime);

    // Wiring by the bus layer.
    void setEventSink(ClientEvents* sink);
    // A caller left the bus: its search results go.
    void forgetCaller(const std::string& caller);
    void setSubscriberCounter(std::function<std::int32_t()> counter);

private:
    // Calls the sink, if any, outside the wiring lock; failures are dropped.
    void fire(const std::function<void(ClientEvents&)>& call) noexcept;
    void replaceResults(const std::string& caller, std::vector<FileRec> results);

    ErrorTriple triple_{kTextLimit};
    std::mutex resultsMutex_;
    std::map<std::string, std::vector<FileRec>> fileInfoResults_;
    std::atomic<std::int32_t> aliveCount_{0};
    // Held shared while an event or the counter is called, so rewiring waits
    // for calls in flight and never leaves one with a dead listener.
    std::shared_mutex wiringMutex_;
    ClientEvents* sink_ = nullptr;
    std::function<std::int32_t()> subscriberCounter_;
};

} // namespace plx
