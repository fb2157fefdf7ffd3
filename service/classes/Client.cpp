#include "service/classes/Client.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "common/IniLocks.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "platform/IniFile.h"
#include "platform/Utf8.h"
#include "service/classes/FileInfoStore.h"
#include "service/classes/TermInfoStore.h"

namespace plx {

namespace {

constexpr const char* kTermIniAccessText = "端末管理ファイルへのアクセス中にエラー発生";
constexpr const char* kTermIniMissingText = "端末管理ファイル(plterm.ini)が見つかりません";
constexpr auto kResultsWait = std::chrono::milliseconds(3000);

// A search criterion may be empty: it then matches anything.
void checkLength(const std::string& value, std::size_t limit, std::int32_t position, std::string_view text) {
    checkArgument(position, value, {limit, text, {}});
}

// A value the ini format cannot carry (a line break) is a write failure of
// the store, not a crash of the method.
template <typename Write>
void writeIni(Write&& write) {
    try {
        write();
    } catch (const IniFormatError&) {
        throw PLException(kApiSystemError, EINVAL, "");
    }
}

} // namespace

Client::Client() = default;

std::shared_ptr<Client> Client::instance() {
    static const std::shared_ptr<Client> client = std::make_shared<Client>();
    return client;
}

ApiResult Client::PLSetTermInfo(const std::string& TerminalID, const std::string& CenterID,
                                const std::string& CenterHost, const std::string& CenterURL,
                                const std::string& Password, const std::string& ProtocolVersion,
                                const std::string& ProxyServer, const std::string& ProxyUser,
                                const std::string& ProxyPassword) {
    TerminalRec rec{TerminalID,      CenterID,    CenterHost, CenterURL,    Password,
                    ProtocolVersion, ProxyServer, ProxyUser,  ProxyPassword};
    ArgumentLine line;
    line << TerminalID << CenterID << CenterHost << CenterURL << Password << ProtocolVersion << ProxyServer << ProxyUser
         << ProxyPassword;
    ApiMethod method{.name = "PLSetTermInfo", .argumentLine = line.text(), .defaultMessage = kTermIniAccessText};
    return runApiMethod(triple_, method, [&] {
        if (auto fault = checkTermDefinition(rec)) throw argumentError(fault->position, std::string(fault->message));
        writeIni([&] { saveTermInfo(rec); });
    });
}

ApiResult Client::PLGetTermInfo(TerminalRec& out, std::optional<CenterRoute>* route) {
    out = TerminalRec{};
    ApiMethod method{.name = "PLGetTermInfo", .argumentLine = "", .defaultMessage = kTermIniAccessText};
    return runApiMethod(triple_, method, [&] {
        auto doc = loadTermIni();
        // Not set up yet (first start) is a failure like any other: never code 0.
        if (!doc) throw PLException(kApiSystemError, kNoTermInfoDetail, kTermIniMissingText, PLException::kExact);
        if (route) *route = centerRouteOf(*doc);
        // Every key is read, the faulty one too, so that a caller can show the record for repair.
        std::string_view fault;
        for (const TermKey& key : termKeys()) {
            std::string value = termValue(*doc, key.name);
            if (fault.empty() && utf8Length(value) > key.limit) fault = key.storedTooLongText;
            if (fault.empty() && !key.storedEmptyText.empty() && value.empty()) fault = key.storedEmptyText;
            out.*key.field = std::move(value);
        }
        if (!fault.empty()) throw PLException(kApiSystemError, 0, std::string(fault), PLException::kExact);
    });
}

ApiResult Client::PLSetFileInfo(const std::string& FileType, const std::string& DataName, std::int32_t ServiceNo,
                                const std::string& ProtocolFilename, const std::string& AccessKey,
                                std::int32_t RecordLength, std::int32_t CompressID, const std::string& UserData) {
    ArgumentLine line;
    line << FileType << DataName << ServiceNo << ProtocolFilename << AccessKey << RecordLength << CompressID
         << UserData;
    ApiMethod method{.name = "PLSetFileInfo", .argumentLine = line.text(), .defaultMessage = kFileIniAccessText};
    return runApiMethod(triple_, method, [&] {
        FileRec definition;
        definition.FileType = FileType;
        definition.DataName = DataName;
        definition.ServiceNo = ServiceNo;
        definition.ProtocolFilename = ProtocolFilename;
        definition.AccessKey = AccessKey;
        definition.RecordLength = RecordLength;
        definition.CompressID = CompressID;
        definition.UserData = UserData;
        if (auto fault = checkFileDefinition(definition))
            throw argumentError(fault->position, std::string(fault->message));

        // Held (recursively) from the search to the rewrite, so nobody
        // sees the kind missing or this search's results replaced.
        std::lock_guard lock(fileIniMutex());
        std::int32_t count = 0;
        if (ApiResult search = PLGetFileInfo("", 0, ProtocolFilename, AccessKey, 0, 0, count); !search)
            throw PLException(search.code, search.detail, kFileIniAccessText);
        bool moveToEnd = false;
        for (std::int32_t i = 0; i < count; ++i) {
            FileRec match;
            if (ApiResult read = PLGetFileInfoAt(i, match); !read)
                throw PLException(read.code, read.detail, read.message);
            if (match.FileType == FileType) moveToEnd = true; // exact: a case variant is written in place
        }
        writeIni([&] { saveFileInfo(definition, moveToEnd); });
    });
}

ApiResult Client::PLGetFileInfo(const std::string& FileType, std::int32_t ServiceNo,
                                const std::string& ProtocolFilename, const std::string& AccessKey,
                                std::int32_t RecordLength, std::int32_t CompressID, std::int32_t& count,
                                const std::string& caller) {
    count = 0;
    ArgumentLine line;
    line << FileType << ServiceNo << ProtocolFilename << AccessKey << RecordLength << CompressID;
    ApiMethod method{.name = "PLGetFileInfo", .argumentLine = line.text(), .defaultMessage = kFileIniAccessText};
    return runApiMethod(triple_, method, [&] {
        std::lock_guard lock(fileIniMutex());
        // A failed search leaves nothing for PLGetFileInfoAt to hand out.
        replaceResults(caller, {});
        checkLength(FileType, kFileTypeLimit, 1, kFileTypeRule.tooLongText);
        if (ServiceNo < 0) throw argumentError(2, kBadServiceNoText);
        checkLength(ProtocolFilename, kProtocolFilenameLimit, 3, kProtocolFilenameTooLongText);
        checkLength(AccessKey, kAccessKeyLimit, 4, kAccessKeyTooLongText);
        if (CompressID != 0 && CompressID != 1) throw argumentError(6, kBadCompressIdText);
        if (RecordLength < -1 || RecordLength > 4096) throw argumentError(5, "レコード長が不正です");

        auto doc = loadFileIni();
        if (!doc) return;
        FileInfoQuery filter{FileType, ServiceNo, ProtocolFilename, AccessKey, RecordLength, CompressID};
        std::vector<FileRec> found = findFileInfo(*doc, filter);
        auto kept = static_cast<std::int32_t>(found.size());
        replaceResults(caller, std::move(found));
        count = kept;
    });
}

ApiResult Client::PLGetFileInfoAt(std::int32_t index, FileRec& out, const std::string& caller) {
    out = FileRec{};
    ArgumentLine line;
    line << index;
    ApiMethod method{.name = "PLGetFileInfoAt", .argumentLine = line.text(), .defaultMessage = kFileIniAccessText};
    return runApiMethod(triple_, method, [&] {
        // No system call fails on these paths, so the detail stays 0.
        std::unique_lock lock(fileIniMutex(), std::defer_lock);
        if (!lock.try_lock_for(kResultsWait))
            throw PLException(kApiSystemError, 0, "検索結果が上書きされました", PLException::kExact);
        std::lock_guard guard(resultsMutex_);
        auto results = fileInfoResults_.find(caller);
        if (index < 0 || results == fileInfoResults_.end() || static_cast<std::size_t>(index) >= results->second.size())
            throw PLException(kApiSystemError, 0, "不正なインデックスです：index=" + std::to_string(index),
                              PLException::kExact);
        const FileRec& kept = results->second[static_cast<std::size_t>(index)];
        out.FileType = kept.FileType;
        out.DataName = kept.DataName;
        out.ServiceNo = kept.ServiceNo;
        out.ProtocolFilename = kept.ProtocolFilename;
        out.AccessKey = kept.AccessKey;
        out.RecordLength = kept.RecordLength;
        out.CompressID = kept.CompressID;
        out.UserData = kept.UserData;
    });
}

ApiResult Client::PLDeleteFileInfo(const std::string& FileType) {
    ArgumentLine line;
    line << FileType;
    ApiMethod method{.name = "PLDeleteFileInfo", .argumentLine = line.text(), .defaultMessage = ""};
    return runApiMethod(triple_, method, [&] {
        checkArgument(1, FileType, kFileTypeRule);
        try {
            // Under the lock so a search never reads half a delete and the
            // check below still holds when the section goes.
            std::lock_guard lock(fileIniMutex());
            auto path = findIniFile(kFileIni);
            if (!path) throw PLException(kApiSystemError, ENOENT, kFileIniAccessText, PLException::kExact);
            if (!removeFileInfo(*path, FileType))
                throw PLException(kApiSystemError, 0, kFileTypeNotFoundText, PLException::kExact);
        } catch (const PLException&) {
            throw;
        } catch (...) {
            throw PLException(kApiNotReady, 0, "", PLException::kExact);
        }
    });
}

void Client::replaceResults(const std::string& caller, std::vector<FileRec> results) {
    std::lock_guard guard(resultsMutex_);
    if (results.empty())
        fileInfoResults_.erase(caller);
    else
        fileInfoResults_[caller] = std::move(results);
}

void Client::forgetCaller(const std::string& caller) { replaceResults(caller, {}); }

void Client::fire(const std::function<void(ClientEvents&)>& call) noexcept {
    try {
        std::shared_lock lock(wiringMutex_);
        if (sink_) call(*sink_);
    } catch (...) {
        // A listener's failure must never reach the transfer that reported.
    }
}

void Client::innerPLRecvRequest(std::int32_t eventCode, const std::string& fileType) {
    fire([&](ClientEvents& sink) { sink.PLRecvRequest(eventCode, fileType); });
}

std::int32_t Client::GetAliveCount() {
    try {
        std::shared_lock lock(wiringMutex_);
        std::int32_t count = subscriberCounter_ ? subscriberCounter_() : 0;
        aliveCount_ = count;
        return count;
    } catch (...) {
        return 0;
    }
}

void Client::inSendStatus(std::int32_t totalBytes, std::int32_t sentByte, std::int32_t passedTime) {
    fire([&](ClientEvents& sink) { sink.PLSendStatus(totalBytes, sentByte, passedTime); });
}

void Client::inRecvStatus(std::int32_t totalByte, std::int32_t recvByte, std::int32_t passedTime) {
    fire([&](ClientEvents& sink) { sink.PLRecvStatus(totalByte, recvByte, passedTime); });
}

void Client::setEventSink(ClientEvents* sink) {
    std::unique_lock lock(wiringMutex_);
    sink_ = sink;
}

void Client::setSubscriberCounter(std::function<std::int32_t()> counter) {
    std::unique_lock lock(wiringMutex_);
    subscriberCounter_ = std::move(counter);
}

} // namespace plx
