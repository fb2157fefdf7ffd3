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

ApiResult Transport::PLSetData(const std::string& FileType, const std::string& ClDataDirectory,
                               const std::string& ClDataFilename, std::int32_t LimitDay, std::int32_t SetOption,
                               std::string& ClTempFilename) {
    ClTempFilename.clear();
    return notYetAvailable("PLSetData",
                           (ArgumentLine() << FileType << ClDataDirectory << ClDataFilename << LimitDay << SetOption).text());
}

ApiResult Transport::PLGetDataA(const std::string& FileType, const std::string& ClTempFilename,
                                const std::string& ClDataDirectory, std::string& ClDataFilename, std::int32_t CreateFlag) {
    return notYetAvailable(
        "PLGetDataA", (ArgumentLine() << FileType << ClTempFilename << ClDataDirectory << ClDataFilename << CreateFlag).text());
}

ApiResult Transport::PLGetData(const std::string& FileType, const std::string& SvDataFilename,
                               const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo,
                               std::int32_t FileSize, std::int32_t Status, std::int32_t GetOption,
                               const std::string& ClDataDirectory, const std::string& ClDataFilename, std::int32_t& count) {
    count = 0;
    return notYetAvailable("PLGetData", (ArgumentLine() << FileType << SvDataFilename << SetDateTimeFrom << SetDateTimeTo
                                                        << FileSize << Status << GetOption << ClDataDirectory
                                                        << ClDataFilename)
                                            .text());
}

ApiResult Transport::PLGetDataAt(std::int32_t index, FileRec& out) {
    out = FileRec{};
    return notYetAvailable("PLGetDataAt", (ArgumentLine() << index).text());
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
