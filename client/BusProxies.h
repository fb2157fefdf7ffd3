#pragma once
// The service's objects as seen from a client program: one proxy per
// object, over one connection. Calls wait as long as a transfer may take.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "PelorinIO_proxy.h"
#include "api/BusApi.h"
#include "platform/BusConnection.h"

namespace plx {

// How long a client waits for one call: transfers can take hours.
inline constexpr std::chrono::hours kClientCallTimeout{24};

// A connection for a client program, with the long call time-out.
std::unique_ptr<sdbus::IConnection> openClientBus();

class ClientProxy final : public sdbus::ProxyInterfaces<com::korvane::PelorinIO::Client_proxy> {
public:
    ClientProxy(sdbus::IConnection& connection);
    ~ClientProxy();

    std::function<void(std::int32_t, std::int32_t, std::int32_t)> onSendStatus;
    std::function<void(std::int32_t, std::int32_t, std::int32_t)> onRecvStatus;
    std::function<void(std::int32_t, const std::string&)> onRecvRequest;

private:
    void onPLSendStatus(const int32_t& total, const int32_t& sent, const int32_t& passed) override;
    void onPLRecvStatus(const int32_t& total, const int32_t& received, const int32_t& passed) override;
    void onPLRecvRequest(const int32_t& eventCode, const std::string& fileType) override;
};

class FactoryProxy final : public sdbus::ProxyInterfaces<com::korvane::PelorinIO::Factory_proxy> {
public:
    FactoryProxy(sdbus::IConnection& connection);
    ~FactoryProxy();
};

class ServiceProxy final : public sdbus::ProxyInterfaces<com::korvane::PelorinIO::Service_proxy> {
public:
    ServiceProxy(sdbus::IConnection& connection);
    ~ServiceProxy();
};

class TransportProxy final : public sdbus::ProxyInterfaces<com::korvane::PelorinIO::Transport_proxy> {
public:
    TransportProxy(sdbus::IConnection& connection, const std::string& path);
    ~TransportProxy();
};

class RetrieveProxy final : public sdbus::ProxyInterfaces<com::korvane::PelorinIO::Retrieve_proxy> {
public:
    RetrieveProxy(sdbus::IConnection& connection, const std::string& path);
    ~RetrieveProxy();
};

} // namespace plx
