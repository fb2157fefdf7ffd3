#pragma once
// The adaptors that put Client, Transport and Retrieve on the bus. Each PL
// method runs on the worker pool and answers with its results, or with the
// error "com.korvane.PelorinIO.Error.Exception" carrying LastErrorMsg.

#include <memory>
#include <string>

#include "PelorinIO_adaptor.h"
#include "api/BusApi.h"
#include "service/classes/Client.h"
#include "service/classes/Retrieve.h"
#include "service/classes/Transport.h"

namespace plx {

class BusServer;

// What BusServer keeps of a per-caller object.
class BusObject {
public:
    virtual ~BusObject() = default;
};

class FactoryObject final : public sdbus::AdaptorInterfaces<com::korvane::PelorinIO::Factory_adaptor> {
public:
    FactoryObject(sdbus::IConnection& connection, BusServer& server);
    ~FactoryObject();

private:
    sdbus::ObjectPath CreateTransport() override;
    sdbus::ObjectPath CreateRetrieve() override;
    std::string sender();

    BusServer& server_;
};

// The service itself: its window's class and title (how tools find it)
// and the close request.
class ServiceObject final : public sdbus::AdaptorInterfaces<com::korvane::PelorinIO::Service_adaptor> {
public:
    ServiceObject(sdbus::IConnection& connection, BusServer& server);
    ~ServiceObject();

private:
    bool Close(const bool& confirmed) override;
    std::string WindowClass() override;
    std::string WindowTitle() override;

    BusServer& server_;
};

class ClientObject final : public sdbus::AdaptorInterfaces<com::korvane::PelorinIO::Client_adaptor>,
                           public ClientEvents {
public:
    ClientObject(sdbus::IConnection& connection, std::shared_ptr<Client> client, BusServer& server);
    ~ClientObject();

    // ClientEvents
    void PLSendStatus(std::int32_t totalByte, std::int32_t sentByte, std::int32_t passedTime) override;
    void PLRecvStatus(std::int32_t totalByte, std::int32_t recvByte, std::int32_t passedTime) override;
    void PLRecvRequest(std::int32_t eventCode, const std::string& fileType) override;

private:
    void PLSetTermInfo(sdbus::Result<>&& result, std::string TerminalID, std::string CenterID, std::string CenterHost,
                       std::string CenterURL, std::string Password, std::string ProtocolVersion,
                       std::string ProxyServer, std::string ProxyUser, std::string ProxyPassword) override;
    void PLGetTermInfo(sdbus::Result<BusTerminalRec>&& result) override;
    void PLSetFileInfo(sdbus::Result<>&& result, std::string FileType, std::string DataName, int32_t ServiceNo,
                       std::string ProtocolFilename, std::string AccessKey, int32_t RecordLength, int32_t CompressID,
                       std::string UserData) override;
    void PLGetFileInfo(sdbus::Result<int32_t>&& result, std::string FileType, int32_t ServiceNo,
                       std::string ProtocolFilename, std::string AccessKey, int32_t RecordLength,
                       int32_t CompressID) override;
    void PLGetFileInfoAt(sdbus::Result<BusFileRec>&& result, int32_t index) override;
    void PLDeleteFileInfo(sdbus::Result<>&& result, std::string FileType) override;
    int32_t GetAliveCount() override;
    void Advise() override;
    void Unadvise() override;
    int32_t LastErrorCd() override;
    int32_t LastErrorCdDetail() override;
    std::string LastErrorMsg() override;
    int32_t AliveCount() override;
    void AliveCount(const int32_t& value) override;

    std::shared_ptr<Client> client_;
    BusServer& server_;
};

class TransportObject final : public BusObject,
                              public sdbus::AdaptorInterfaces<com::korvane::PelorinIO::Transport_adaptor> {
public:
    TransportObject(sdbus::IConnection& connection, std::string path, std::shared_ptr<Transport> transport,
                    BusServer& server);
    ~TransportObject();

private:
    void Init(const sdbus::ObjectPath& ptr) override;
    void PLSendData(sdbus::Result<>&& result, std::string FileType, std::string ClDataDirectory,
                    std::string ClDataFilename) override;
    void PLSetData(sdbus::Result<std::string>&& result, std::string FileType, std::string ClDataDirectory,
                   std::string ClDataFilename, int32_t LimitDay, int32_t SetOption) override;
    void PLRecvData(sdbus::Result<std::string, int32_t>&& result, std::string FileType, std::string ClDataDirectory,
                    std::string ClDataFilename, int32_t ResendFlag) override;
    void PLGetDataA(sdbus::Result<std::string>&& result, std::string FileType, std::string ClTempFilename,
                    std::string ClDataDirectory, std::string ClDataFilename, int32_t CreateFlag) override;
    void PLGetData(sdbus::Result<int32_t>&& result, std::string FileType, std::string SvDataFilename,
                   std::string SetDateTimeFrom, std::string SetDateTimeTo, int32_t FileSize, int32_t Status,
                   int32_t GetOption, std::string ClDataDirectory, std::string ClDataFilename) override;
    void PLGetDataAt(sdbus::Result<BusFileRec>&& result, int32_t index) override;
    void Release() override;
    int32_t LastErrorCd() override;
    int32_t LastErrorCdDetail() override;
    std::string LastErrorMsg() override;

    std::string path_;
    std::shared_ptr<Transport> transport_;
    BusServer& server_;
};

class RetrieveObject final : public BusObject,
                             public sdbus::AdaptorInterfaces<com::korvane::PelorinIO::Retrieve_adaptor> {
public:
    RetrieveObject(sdbus::IConnection& connection, std::string path, std::shared_ptr<Retrieve> retrieve,
                   BusServer& server);
    ~RetrieveObject();

private:
    void Init(const sdbus::ObjectPath& ptr) override;
    void PLSearchSent(sdbus::Result<int32_t>&& result, std::string FileType, std::string ClDataFilename,
                      std::string SetDateTimeFrom, std::string SetDateTimeTo, int32_t Status) override;
    void PLSearchSentAt(sdbus::Result<BusFileRec>&& result, int32_t index) override;
    void PLSearchReceived(sdbus::Result<int32_t>&& result, std::string FileType, std::string SvDataFilename,
                          std::string SetDateTimeFrom, std::string SetDateTimeTo, int32_t FileSize, int32_t Status,
                          int32_t GetOption) override;
    void PLSearchReceivedAt(sdbus::Result<BusFileRec>&& result, int32_t index) override;
    void PLDeleteFile(sdbus::Result<int32_t>&& result, std::string FileType, int32_t SendRecvFlag, std::string SetDate,
                      std::string DayCount, int32_t Status, std::string ClTempFilename) override;
    void Release() override;
    int32_t LastErrorCd() override;
    int32_t LastErrorCdDetail() override;
    std::string LastErrorMsg() override;

    std::string path_;
    std::shared_ptr<Retrieve> retrieve_;
    BusServer& server_;
};

} // namespace plx
