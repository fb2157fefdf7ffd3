#include "service/Retrieve.h"

namespace plx {

namespace {
constexpr const char* kNotAvailable = "この操作はまだ利用できません";
}

Retrieve::Retrieve(std::shared_ptr<Client> client) : client_(std::move(client)) {}

ApiResult Retrieve::notYetAvailable(std::string_view name, std::string argumentLine) {
    return runApiMethod(triple_, ApiMethod{name, std::move(argumentLine), kNotAvailable},
                        [] { throw ApiError(kApiNotReady, 0, kNotAvailable, true); });
}

ApiResult Retrieve::PLSearchSent(const std::string& FileType, const std::string& ClDataFilename,
                                 const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo,
                                 std::int32_t Status, std::int32_t& count) {
    count = 0;
    return notYetAvailable("PLSearchSent",
                           (ArgumentLine() << FileType << ClDataFilename << SetDateTimeFrom << SetDateTimeTo << Status).text());
}

ApiResult Retrieve::PLSearchSentAt(std::int32_t index, FileRec& out) {
    out = FileRec{};
    return notYetAvailable("PLSearchSentAt", (ArgumentLine() << index).text());
}

ApiResult Retrieve::PLSearchReceived(const std::string& FileType, const std::string& SvDataFilename,
                                     const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo,
                                     std::int32_t FileSize, std::int32_t Status, std::int32_t GetOption,
                                     std::int32_t& count) {
    count = 0;
    return notYetAvailable("PLSearchReceived", (ArgumentLine() << FileType << SvDataFilename << SetDateTimeFrom
                                                               << SetDateTimeTo << FileSize << Status << GetOption)
                                                   .text());
}

ApiResult Retrieve::PLSearchReceivedAt(std::int32_t index, FileRec& out) {
    out = FileRec{};
    return notYetAvailable("PLSearchReceivedAt", (ArgumentLine() << index).text());
}

ApiResult Retrieve::PLDeleteFile(const std::string& FileType, std::int32_t SendRecvFlag, const std::string& SetDate,
                                 const std::string& DayCount, std::int32_t Status, const std::string& ClTempFilename,
                                 std::int32_t& count) {
    count = 0;
    return notYetAvailable("PLDeleteFile", (ArgumentLine() << FileType << SendRecvFlag << SetDate << DayCount << Status
                                                           << ClTempFilename)
                                               .text());
}

} // namespace plx
