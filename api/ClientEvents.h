#pragma once
// The Client object's events: raised by the service (the bus layer emits
// them as signals) and heard by the client programs that listen.

#include <cstdint>
#include <string>

namespace plx {

class ClientEvents {
public:
    virtual ~ClientEvents() = default;
    virtual void PLSendStatus(std::int32_t totalByte, std::int32_t sentByte, std::int32_t passedTime) = 0;
    virtual void PLRecvStatus(std::int32_t totalByte, std::int32_t recvByte, std::int32_t passedTime) = 0;
    virtual void PLRecvRequest(std::int32_t eventCode, const std::string& fileType) = 0;
};

} // namespace plx
