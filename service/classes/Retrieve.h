#pragma once
// The Retrieve class: search and deletion in the transfer register for one
// application's object, bound to the service's one Client.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/ApiRecords.h"
#include "common/CenterRegister.h"
#include "service/classes/ApiMethod.h"
#include "service/classes/Client.h"

namespace plx {

class Retrieve {
public:
    explicit Retrieve(std::shared_ptr<Client> client);

    ErrorTriple& triple() { return triple_; }

    ApiResult PLSearchSent(const std::string& FileType, const std::string& ClDataFilename,
                           const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo, std::int32_t Status,
                           std::int32_t& count);
    ApiResult PLSearchSentAt(std::int32_t index, FileRec& out);
    ApiResult PLSearchReceived(const std::string& FileType, const std::string& SvDataFilename,
                               const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo,
                               std::int32_t FileSize, std::int32_t Status, std::int32_t GetOption, std::int32_t& count);
    ApiResult PLSearchReceivedAt(std::int32_t index, FileRec& out);
    ApiResult PLDeleteFile(const std::string& FileType, std::int32_t SendRecvFlag, const std::string& SetDate,
                           const std::string& DayCount, std::int32_t Status, const std::string& ClTempFilename,
                           std::int32_t& count);

    // In-process only (not on the bus): the register entry behind a result
    // of the last PLSearchReceived, for the pick-up that copies it.
    std::optional<CenterRecord> receivedRecord(std::int32_t index);

private:
    ApiResult run(std::string_view name, std::string argumentLine, std::string_view defaultMessage,
                  const std::function<void()>& body);

    std::shared_ptr<Client> client_;
    ErrorTriple triple_{kObjectMessageLimit};
    std::mutex resultsMutex_;
    std::vector<CenterRecord> sentResults_;
    std::vector<CenterRecord> receivedResults_;
};

} // namespace plx
