#include "client/BusProxies.h"

namespace plx {

std::unique_ptr<sdbus::IConnection> openClientBus() {
    auto connection = openBus(BusKind::Session);
    connection->setMethodCallTimeout(kClientCallTimeout);
    return connection;
}

ClientProxy::ClientProxy(sdbus::IConnection& connection) : ProxyInterfaces(connection, kBusName, kClientPath) {
    registerProxy();
}

ClientProxy::~ClientProxy() { unregisterProxy(); }

void ClientProxy::onPLSendStatus(const int32_t& total, const int32_t& sent, const int32_t& passed) {
    if (onSendStatus) onSendStatus(total, sent, passed);
}

void ClientProxy::onPLRecvStatus(const int32_t& total, const int32_t& received, const int32_t& passed) {
    if (onRecvStatus) onRecvStatus(total, received, passed);
}

void ClientProxy::onPLRecvRequest(const int32_t& eventCode, const std::string& fileType) {
    if (onRecvRequest) onRecvRequest(eventCode, fileType);
}

FactoryProxy::FactoryProxy(sdbus::IConnection& connection) : ProxyInterfaces(connection, kBusName, kFactoryPath) {
    registerProxy();
}

FactoryProxy::~FactoryProxy() { unregisterProxy(); }

ServiceProxy::ServiceProxy(sdbus::IConnection& connection) : ProxyInterfaces(connection, kBusName, kServicePath) {
    registerProxy();
}

ServiceProxy::~ServiceProxy() { unregisterProxy(); }

TransportProxy::TransportProxy(sdbus::IConnection& connection, const std::string& path)
    : ProxyInterfaces(connection, kBusName, path) {
    registerProxy();
}

TransportProxy::~TransportProxy() { unregisterProxy(); }

RetrieveProxy::RetrieveProxy(sdbus::IConnection& connection, const std::string& path)
    : ProxyInterfaces(connection, kBusName, path) {
    registerProxy();
}

RetrieveProxy::~RetrieveProxy() { unregisterProxy(); }

} // namespace plx
