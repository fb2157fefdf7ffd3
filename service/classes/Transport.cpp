#include "service/classes/Transport.h"

namespace plx {

Transport::Transport(std::shared_ptr<Client> client) : client_(std::move(client)) {}

void Transport::onSendProgress(std::int32_t total, std::int32_t sent, std::int32_t elapsedMs) {
    try {
        client_->inSendStatus(total, sent, elapsedMs);
    } catch (...) {
    }
}

void Transport::onRecvProgress(std::int32_t total, std::int32_t received, std::int32_t elapsedMs) {
    try {
        client_->inRecvStatus(total, received, elapsedMs);
    } catch (...) {
    }
}

} // namespace plx
