#pragma once
// The Transport class: send, stage, receive and pick-up operations of one
// application's object, bound to the service's one Client. Progress of its
// transfers is forwarded to the Client's events.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/ApiRecords.h"
#include "centerlink/TransferProgressSink.h"
#include "service/classes/ApiMethod.h"
#include "service/classes/CallerFiles.h"
#include "service/classes/Client.h"

namespace plx {

class Transport : public TransferProgressSink {
public:
    explicit Transport(std::shared_ptr<Client> client);

    ErrorTriple& triple() { return triple_; }
    Client& client() { return *client_; }

    // The methods that name a caller's files open them with caller's rights
    // checked (CallerFiles.h); the service itself calls with its own.
    ApiResult PLSendData(const std::string& FileType, const std::string& ClDataDirectory,
                         const std::string& ClDataFilename, const Caller& caller = Caller::service());
    ApiResult PLSetData(const std::string& FileType, const std::string& ClDataDirectory,
                        const std::string& ClDataFilename, std::int32_t LimitDay, std::int32_t SetOption,
                        std::string& ClTempFilename, const Caller& caller = Caller::service());
    // ClDataFilename is in and out.
    ApiResult PLRecvData(const std::string& FileType, const std::string& ClDataDirectory, std::string& ClDataFilename,
                         std::int32_t ResendFlag, std::int32_t& FileSize, const Caller& caller = Caller::service());
    ApiResult PLGetDataA(const std::string& FileType, const std::string& ClTempFilename,
                         const std::string& ClDataDirectory, std::string& ClDataFilename, std::int32_t CreateFlag,
                         const Caller& caller = Caller::service());
    ApiResult PLGetData(const std::string& FileType, const std::string& SvDataFilename,
                        const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo, std::int32_t FileSize,
                        std::int32_t Status, std::int32_t GetOption, const std::string& ClDataDirectory,
                        const std::string& ClDataFilename, std::int32_t& count,
                        const Caller& caller = Caller::service());
    ApiResult PLGetDataAt(std::int32_t index, FileRec& out);

    // TransferProgressSink: forwarded to the Client's events.
    void onSendProgress(std::int32_t total, std::int32_t sent, std::int32_t elapsedMs) override;
    void onRecvProgress(std::int32_t total, std::int32_t received, std::int32_t elapsedMs) override;

private:
    // The list PLGetDataAt hands out.
    void clearResults();
    void addResult(const FileRec& rec);

    std::shared_ptr<Client> client_;
    ErrorTriple triple_{kObjectMessageLimit};
    std::mutex resultsMutex_;
    std::vector<FileRec> results_;
};

// Copies existingPath (never through a link as its last name) to newPath
// through an unnamed file in newPath's folder that gets its name only when
// whole, so the target is never seen half written and a crash leaves
// nothing; the copy is writable and stamped with the current time. With
// failIfExists an existing target is kept and the copy fails (EEXIST).
// These two throw std::system_error with the failed call's errno.
void copyFileStamped(const std::filesystem::path& existingPath, const std::filesystem::path& newPath,
                     bool failIfExists);
// Copies the rest of from onto to and stamps to with the current time.
void appendStamped(int from, int to);
// Sets the status of an existing register entry (updateCenterStatus); false
// also when that fails.
bool ChangeGetStatus(const std::string& sectionName, std::int32_t status);

} // namespace plx
