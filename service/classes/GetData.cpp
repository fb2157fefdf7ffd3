// Picking up files the center delivered: PLGetDataA copies one register
// entry out, PLGetData copies the matches of a search (all or nothing) and
// PLGetDataAt hands out its result list.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <vector>

#include "common/CenterRegister.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/IniLocks.h"
#include "common/Paths.h"
#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"
#include "service/classes/BackupSet.h"
#include "service/classes/CallerFiles.h"
#include "service/classes/Retrieve.h"
#include "service/classes/TransferSupport.h"
#include "service/classes/Transport.h"

namespace plx {

namespace {

namespace fs = std::filesystem;

// A failure that brings no text of its own.
constexpr const char* kUnknownText = "エラー(原因不明)";
constexpr const char* kCreateText = "ファイル生成中にエラー";
constexpr const char* kNotReceivedText = "受信ファイルが存在しません";
constexpr const char* kBadTargetText = "保存先のクライアントファイル名が不正です";
constexpr const char* kBadSourceText = "保存元のクライアントファイル名が不正です";
constexpr const char* kWriteText = "保存先ファイル書き込み中にエラーが発生しました";
constexpr const char* kNoNewTargetText = "保存先のクライアントファイルが生成できませんでした";

// The client's file name may be empty: the center's or a new one is taken then.
constexpr LengthRule kOptionalNameRule{kFileNameLimit, kFileNameRule.tooLongText, {}};

PLException exact(std::int32_t code, std::int32_t detail, std::string_view message) {
    return PLException(code, detail, message, PLException::kExact);
}

bool sameFile(const struct stat& a, const fs::path& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The entry's data file, open for reading. Throws std::system_error when
// it is missing or not a plain file.
UniqueFd openSource(const std::string& path, struct stat& st) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || ::fstat(fd.get(), &st) != 0) throw std::system_error(errno, std::generic_category(), path);
    if (!S_ISREG(st.st_mode)) throw std::system_error(EISDIR, std::generic_category(), path);
    return fd;
}

// ---- PLGetDataA ----

void checkTargetName(const std::string& name, std::int32_t position) {
    checkArgument(position, name, kOptionalNameRule);
    if (!name.empty() && !isPlainName(name)) throw argumentError(position, kBadFileNameText);
}

CallerFolder checkGetDataAArguments(const Caller& caller, const std::string& fileType, const std::string& tempName,
                                    const std::string& folder, const std::string& name, std::int32_t createFlag) {
    checkArgument(1, fileType, {kFileTypeLimit, "ファイル種別が不正です", kFileTypeRule.missingText});
    checkArgument(2, tempName, {kFileNameLimit, "一時ファイル名が64桁を超えました", "一時ファイル名が未入力です"});
    checkArgument(3, folder, kTargetDirectoryRule);
    CallerFolder target = openTargetFolder(caller, folder, 3);
    checkTargetName(name, 4);
    if (createFlag != 0 && createFlag != 1) throw argumentError(5, "作成フラグの指定が不正です");
    return target;
}

// The deliveries of the kind whose temporary file has that name.
std::vector<CenterRecord> deliveriesNamed(const std::vector<CenterRecord>& records, const std::string& fileType,
                                          const std::string& tempName) {
    auto any = [&](auto predicate) { return std::any_of(records.begin(), records.end(), predicate); };
    if (!any([](const CenterRecord& r) { return r.sendRecvFlag == kDirectionRecv; }))
        throw argumentError(2, kNotReceivedText);
    if (!any([&](const CenterRecord& r) { return r.fileType == fileType; }))
        throw argumentError(1, "ファイル種別が不正です");
    if (!any([&](const CenterRecord& r) { return equalsIgnoreCase(r.tempFileName, tempName); }))
        throw argumentError(2, "一時ファイル名が不正です");

    std::vector<CenterRecord> matches;
    for (const CenterRecord& r : records)
        if (r.status > 0 && r.fileType == fileType && r.sendRecvFlag == kDirectionRecv &&
            equalsIgnoreCase(r.tempFileName, tempName))
            matches.push_back(r);
    // The gateway is still writing an entry in progress: nothing of it may go out.
    for (const CenterRecord& r : matches)
        if (r.status == kStatusInProgress) throw exact(kApiSystemError, EBUSY, kNotReceivedText);
    return matches;
}

// Copies one delivery into folder (or appends it) and marks it picked up;
// the name used.
std::string copyOut(const CenterRecord& r, const CallerFolder& folder, const std::string& requested,
                    std::int32_t createFlag) {
    // The source first: a missing one must leave the user's file alone.
    struct stat sourceStat {};
    UniqueFd source;
    systemStep(kApiSystemError, kNotReceivedText, [&] { source = openSource(r.tempFilePath, sourceStat); });

    std::string name = chooseTargetName(requested, r.svDataFilename);
    if (!name.empty() && sameFile(sourceStat, joinPath(folder.path(), name)))
        throw exact(kApiTransferFailure, EINVAL, kCreateText);
    try {
        CallerTarget target(folder, name, createFlag == 0 ? WriteMode::kReplace : WriteMode::kAppend);
        systemStep(kApiTransferFailure, kCreateText, [&] { copyAll(source.get(), target.fd()); });
        name = target.commit();
    } catch (const CallerFileError& e) {
        throw exact(kApiTransferFailure, e.error(), kCreateText);
    }
    CenterRecord picked = r;
    picked.status = kStatusPickedUp;
    writeCenterRecord(picked);
    return name;
}

// ---- PLGetData ----

// The folder when one is given (the temporary folder stands for an empty one).
std::optional<CallerFolder> checkGetDataArguments(const Caller& caller, const std::string& fileType,
                                                  const std::string& centerName, const std::string& from,
                                                  const std::string& to, std::int32_t fileSize, std::int32_t status,
                                                  std::int32_t option, const std::string& folder,
                                                  const std::string& name) {
    auto badDate = [](const std::string& text) {
        FileTime t;
        return !text.empty() && !dateTimeTextToFileTime(text, t);
    };
    checkArgument(1, fileType, {kFileTypeLimit, "ファイル種別が4桁を超えています", kFileTypeRule.missingText});
    checkArgument(2, centerName, {kFileNameLimit, "受信データのセンタファイル名が64桁を超えています", {}});
    if (badDate(from)) throw argumentError(3, "受信日付(From)の指定が不正です");
    if (badDate(to)) throw argumentError(4, "受信日付(To)の指定が不正です");
    if (fileSize < 0) throw argumentError(5, "受信データのサイズが不正です");
    if (status < 0 || status > 2) throw argumentError(6, "受信ステータスの指定が不正です");
    if (option < 0 || option > 4) throw argumentError(7, "受信データの取得方法が不正です");
    checkArgument(8, folder, {kDirectoryLimit, kTargetDirectoryRule.tooLongText, {}});
    std::optional<CallerFolder> target;
    if (!folder.empty()) target.emplace(openTargetFolder(caller, folder, 8));
    checkTargetName(name, 9);
    return target;
}

// One PLGetData's copying: each match written into the folder (replaced,
// or appended with GetOption 3) under the protection of its backups.
class PickUp {
public:
    PickUp(const CallerFolder& folder, std::string requested, std::int32_t option, BackupSet& backups)
        : folder_(folder), requested_(std::move(requested)), option_(option), backups_(backups) {}

    void copy(const FileRec& rec, const CenterRecord& entry);

private:
    const CallerFolder& folder_;
    std::string requested_; // "" with GetOption 4: each file keeps the center's name
    std::int32_t option_;
    BackupSet& backups_;
};

void PickUp::copy(const FileRec& rec, const CenterRecord& entry) {
    bool append = option_ == 3;
    std::string name = chooseTargetName(requested_, rec.SvDataFilename);
    if (!name.empty()) {
        try {
            folder_.openTarget(name, append);
        } catch (const CallerFileError& e) {
            throw exact(kApiNotReady, e.error(), kBadTargetText);
        }
        systemStep(kApiNotReady, kWriteText, [&] { backups_.protect(joinPath(folder_.path(), name)); });
    }

    // The register's own path, not one rebuilt from today's settings.
    struct stat sourceStat {};
    UniqueFd in;
    systemStep(kApiNotReady, kBadSourceText, [&] { in = openSource(entry.tempFilePath, sourceStat); });
    // Appending a file to itself would never end.
    if (!name.empty() && sameFile(sourceStat, joinPath(folder_.path(), name)))
        throw exact(kApiNotReady, EINVAL, kBadTargetText);

    try {
        CallerTarget target(folder_, name, append ? WriteMode::kAppend : WriteMode::kReplace);
        systemStep(kApiNotReady, kWriteText, [&] { copyAll(in.get(), target.fd()); });
        std::string used = target.commit();
        if (name.empty()) backups_.noteCreated(joinPath(folder_.path(), used));
    } catch (const CallerFileError& e) {
        // Without a name of its own the file is a new "@zv" one: making it is what failed.
        if (name.empty()) throw exact(kApiBadArgument, e.error(), kNoNewTargetText);
        throw exact(kApiNotReady, e.error(), kWriteText);
    }
    if (!ChangeGetStatus(entry.sectionName, kStatusPickedUp)) throw PLException(kApiNotReady, 0, "");
}

// With GetOption 2, older deliveries of the kind (earlier in the register)
// count as picked up too once the newest is.
void markOlderPickedUp(const std::string& fileType, const std::string& copiedSection) {
    std::vector<CenterRecord> records = loadCenterRecords();
    bool passed = false;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (!equalsIgnoreCase(sectionKind(it->sectionName), fileType)) continue;
        if (it->sectionName == copiedSection) {
            passed = true;
            continue;
        }
        // Only deliveries waiting for pick-up: staged send entries must stay for the center.
        if (!passed || it->sendRecvFlag != kDirectionRecv || it->status != kStatusDone) continue;
        if (!ChangeGetStatus(it->sectionName, kStatusPickedUp)) throw PLException(kApiNotReady, 0, "");
    }
}

} // namespace

ApiResult Transport::PLGetDataA(const std::string& FileType, const std::string& ClTempFilename,
                                const std::string& ClDataDirectory, std::string& ClDataFilename,
                                std::int32_t CreateFlag, const Caller& caller) {
    auto line =
        (ArgumentLine() << FileType << ClTempFilename << ClDataDirectory << ClDataFilename << CreateFlag).text();
    ApiMethod method{.name = "PLGetDataA", .argumentLine = std::move(line), .defaultMessage = kUnknownText};
    return runApiMethod(triple_, method, [&] {
        CallerFolder folder =
            checkGetDataAArguments(caller, FileType, ClTempFilename, ClDataDirectory, ClDataFilename, CreateFlag);
        std::lock_guard lock(centerIniMutex());
        std::string usedName = ClDataFilename;
        for (const CenterRecord& r : deliveriesNamed(loadCenterRecords(), FileType, ClTempFilename))
            usedName = copyOut(r, folder, ClDataFilename, CreateFlag);
        ClDataFilename = usedName;
    });
}

ApiResult Transport::PLGetData(const std::string& FileType, const std::string& SvDataFilename,
                               const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo,
                               std::int32_t FileSize, std::int32_t Status, std::int32_t GetOption,
                               const std::string& ClDataDirectory, const std::string& ClDataFilename,
                               std::int32_t& count, const Caller& caller) {
    count = 0;
    auto line = (ArgumentLine() << FileType << SvDataFilename << SetDateTimeFrom << SetDateTimeTo << FileSize << Status
                                << GetOption << ClDataDirectory << ClDataFilename)
                    .text();
    ApiMethod method{.name = "PLGetData", .argumentLine = std::move(line), .defaultMessage = kUnknownText};
    return runApiMethod(triple_, method, [&] {
        // The whole call under the register lock; the backups are put back
        // (on failure) before it is let go.
        std::lock_guard lock(centerIniMutex());
        BackupSet backups;
        clearResults();
        std::optional<CallerFolder> folder =
            checkGetDataArguments(caller, FileType, SvDataFilename, SetDateTimeFrom, SetDateTimeTo, FileSize, Status,
                                  GetOption, ClDataDirectory, ClDataFilename);
        auto settings = loadCheckedSettingsOrInvalid();
        // The temporary folder is the service's: a caller may use it only as far as its own rights go.
        if (!folder) folder.emplace(openTargetFolder(caller, fs::absolute(settings->tempFolder).string(), 8));
        PickUp pickUp(*folder, GetOption != 4 ? ClDataFilename : std::string(), GetOption, backups);

        // In-process: a call over the bus to ourselves would wait on the lock we hold.
        Retrieve retrieve(client_);
        std::int32_t found = 0;
        if (ApiResult r = retrieve.PLSearchReceived(FileType, SvDataFilename, SetDateTimeFrom, SetDateTimeTo, FileSize,
                                                    Status, 3, found);
            !r)
            throw exact(r.code, r.detail, r.message);
        if (found > 0) backups.protect(centerIniPath()); // its failure is the method's system error

        std::string copiedSection;
        std::int32_t kept = 0;
        for (std::int32_t step = 0; step < found; ++step) {
            std::int32_t index = GetOption == 2 ? found - 1 - step : step;
            FileRec rec;
            if (ApiResult r = retrieve.PLSearchReceivedAt(index, rec); !r) throw exact(r.code, r.detail, r.message);
            std::optional<CenterRecord> entry = retrieve.receivedRecord(index);
            if (!entry) throw PLException(kApiNotReady, 0, "");
            if (rec.Status == kStatusInProgress) continue;
            addResult(rec);
            ++kept;
            pickUp.copy(rec, *entry);
            copiedSection = entry->sectionName;
            if (GetOption <= 2) break;
        }
        if (GetOption == 2 && !copiedSection.empty()) markOlderPickedUp(FileType, copiedSection);
        backups.commit();
        count = kept;
    });
}

ApiResult Transport::PLGetDataAt(std::int32_t index, FileRec& out) {
    out = FileRec{};
    ApiMethod method{
        .name = "PLGetDataAt", .argumentLine = (ArgumentLine() << index).text(), .defaultMessage = kUnknownText};
    return runApiMethod(triple_, method, [&] {
        FileRec kept;
        {
            std::lock_guard results(resultsMutex_);
            if (index < 0 || static_cast<std::size_t>(index) >= results_.size())
                throw argumentError(1, "index値が有効範囲外です");
            kept = results_[static_cast<std::size_t>(index)];
        }
        loadCheckedSettingsOrInvalid();
        out = std::move(kept);
    });
}

void Transport::clearResults() {
    std::lock_guard lock(resultsMutex_);
    results_.clear();
}

void Transport::addResult(const FileRec& rec) {
    std::lock_guard lock(resultsMutex_);
    results_.push_back(rec);
}

} // namespace plx
