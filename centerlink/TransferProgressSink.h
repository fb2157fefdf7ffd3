#pragma once
// Receives progress reports of a transfer: bytes of the request to send or
// of the reply to receive, bytes moved so far, milliseconds since the start.

#include <cstdint>

namespace plx {

class TransferProgressSink {
public:
    virtual ~TransferProgressSink() = default;
    virtual void onSendProgress(std::int32_t total, std::int32_t sent, std::int32_t elapsedMs) = 0;
    virtual void onRecvProgress(std::int32_t total, std::int32_t received, std::int32_t elapsedMs) = 0;
};

} // namespace plx
