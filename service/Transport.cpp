#include "service/Transport.h"

#include "platform/Numbers.h"

namespace plx {

namespace {
constexpr const char* kNotAvailable = "この操作はまだ利用できません";
}

Transport::Transport(std::shared_ptr<Client> client) : client_(std::move(client)) {}

ApiResult Transport::notYetAvailable(std::string_view name, std::string argumentLine) {
    return runApiMethod(triple_, ApiMethod{name, std::move(argumentLine), kNotAvailable},
                        [] { throw ApiError(kApiNotReady, 0, kNotAvailable, true); });
}

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
