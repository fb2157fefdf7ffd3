// PLSetData: stages a file for the center to collect. The file is copied
// into a new "@zv" file of the temporary folder, or appended to the newest
// waiting copy of the same data kind, and entered in plcenter.ini as a
// waiting send entry.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/CenterRegister.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/IniLocks.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "platform/FdIo.h"
#include "platform/IniFile.h"
#include "platform/PendingFile.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"
#include "service/classes/CallerFiles.h"
#include "service/classes/TransferSupport.h"
#include "service/classes/Transport.h"

namespace plx {

namespace {

namespace fs = std::filesystem;

constexpr const char* kApiName = "PLSetData";
constexpr const char* kDefaultText = "データセット中にエラー";
constexpr const char* kCopyFailedText = "一時ファイルの作成に失敗";
constexpr const char* kNoTempNameText = "一時ファイルの作成に失敗（ユニーク番号の付番に失敗）";
constexpr const char* kAttributeText = "マージ対象ファイルへの属性を確認してください";
constexpr const char* kMergeFailedText = "マージに失敗しました";

constexpr std::int32_t kOptionAppend = 2;
constexpr std::int32_t kOptionAdd = 3;

struct Request {
    const std::string& fileType;
    const std::string& directory;
    const std::string& filename;
    std::int32_t limitDay;
    std::int32_t option;
};

// The data kind is the part of a section name before its first comma, and
// section names live in "[...]": such characters would forge another entry.
bool isPlainFileType(std::string_view s) {
    return std::none_of(s.begin(), s.end(),
                        [](unsigned char c) { return c < 0x20 || c == 0x7F || c == ',' || c == '[' || c == ']'; });
}

// The source opened with the caller's rights; the copy reads it through
// this descriptor, so the name cannot be swapped for a pipe in between.
UniqueFd openSource(const Caller& caller, const Request& rq) {
    auto missing = [] {
        return PLException(kApiTransferFailure, 2, "指定されたファイルが存在しません", PLException::kExact);
    };
    try {
        return CallerFolder(caller, rq.directory, FolderUse::kRead).openSource(rq.filename);
    } catch (const CallerFileError& e) {
        switch (e.kind()) {
        // A pipe or a device could block the copy while the register is locked.
        case CallerFileError::kMissing:
        case CallerFileError::kNotFile: throw missing();
        case CallerFileError::kRefused: throw argumentError(3, kBadFileNameText);
        case CallerFileError::kSystem: throw PLException(kApiSystemError, e.error(), "");
        }
    }
    throw missing();
}

UniqueFd checkArguments(const Caller& caller, const Request& rq) {
    checkArgument(1, rq.fileType, kFileTypeRule);
    if (!isPlainFileType(rq.fileType)) throw argumentError(1, "ファイル種別が不正です");
    checkArgument(2, rq.directory, kSourceDirectoryRule);
    // Line breaks would end the register's value line and start a forged entry.
    if (!fitsIniValue(rq.directory) || !isAbsoluteFolder(rq.directory)) throw argumentError(2, kBadDirectoryText);
    // File-name failures keep code 3 and detail 2, which callers test for.
    if (auto fault = lengthFault(rq.filename, kFileNameRule))
        throw PLException(kApiTransferFailure, 2, *fault, PLException::kExact);
    if (!fitsIniValue(rq.filename) || !isPlainName(rq.filename)) throw argumentError(3, kBadFileNameText);
    UniqueFd source = openSource(caller, rq);
    if (rq.limitDay < 0) throw argumentError(4, "有効日数の指定が不正です");
    return source;
}

void requireDataKind(Client& client, const std::string& fileType) {
    std::int32_t count = 0;
    client.PLGetFileInfo(fileType, 0, "", "", 0, 0, count);
    if (count < 1)
        throw PLException(kApiSystemError, 0, "ファイル管理ファイルに登録されていないファイル種別が指定されました");
}

// One rewrite: the old entries go all together or not at all.
void removeEntries(const std::vector<CenterRecord>& entries) {
    updateProfile(centerIniPath(), [&](IniDocument& doc) {
        for (const CenterRecord& r : entries) doc.removeSection(r.sectionName);
    });
}

// Takes the entry out and puts it back at the end in one rewrite, so it is
// never missing from the file.
void moveSectionLast(const std::string& section) {
    updateProfile(centerIniPath(), [&](IniDocument& doc) {
        std::vector<std::pair<std::string, std::string>> keys;
        for (const std::string& key : doc.keyNames(section)) keys.emplace_back(key, doc.get(section, key, ""));
        doc.removeSection(section);
        for (const auto& [key, value] : keys) doc.set(section, key, value);
    });
}

// Undoes a new entry. The section goes first, so no entry names a missing
// file; when even that fails the copy stays with its entry.
void withdraw(const std::string& section, ScopedFileRemoval& copy) {
    try {
        deleteCenterRecord(section);
    } catch (...) {
        copy.release();
    }
}

// The copy of the source, named only once it is whole: a crash leaves no
// part of it behind, and a whole one that missed its entry goes at the next
// start with the other unregistered "@zv" files.
class StagedCopy {
public:
    StagedCopy(const fs::path& tempFolder, int source)
        : folder_(::open(tempFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {
        if (!folder_) throw PLException(kApiTransferFailure, errno, kNoTempNameText);
        // The service's own: nobody else reads staged data.
        systemStep(kApiTransferFailure, kNoTempNameText, [&] { file_.emplace(folder_.get(), 0600); });
        systemStep(kApiNotReady, kCopyFailedText, [&] { copyAll(source, file_->fd()); });
    }

    // Names it "@zv<HEX>.tmp" in the folder, with a name no register entry
    // uses: the stale entry of a vanished file must not merge with it
    // (names match in any case). Returns the full path.
    fs::path place(const fs::path& tempFolder, const std::vector<CenterRecord>& records) {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            fs::path path = tempFolder / uniqueFileName(kTempPrefix);
            auto sameName = [&](const CenterRecord& r) { return equalsIgnoreCase(r.tempFilePath, path.string()); };
            if (std::any_of(records.begin(), records.end(), sameName)) continue;
            try {
                file_->linkAs(path.filename().string());
                return path;
            } catch (const std::system_error& e) {
                if (e.code().value() != EEXIST) throw PLException(kApiNotReady, e.code().value(), kCopyFailedText);
            }
        }
        throw PLException(kApiTransferFailure, EEXIST, kNoTempNameText);
    }

private:
    UniqueFd folder_;
    std::optional<PendingFile> file_;
};

std::string stageNewFile(const Request& rq, int source, const fs::path& tempFolder,
                         const std::vector<CenterRecord>& records, const std::vector<CenterRecord>& superseded) {
    StagedCopy staged(tempFolder, source);
    ScopedFileRemoval copy(staged.place(tempFolder, records));

    CenterRecord entry;
    entry.sectionName = makeSectionName(rq.fileType, copy.path().string());
    entry.limitDays = rq.limitDay;
    entry.status = kStatusWaiting;
    entry.sendRecvFlag = kDirectionSend;
    entry.clDataFilename = rq.filename;
    entry.clDataDirectory = rq.directory;
    try {
        systemStep(
            kApiSystemError, "", [&] { writeCenterRecord(entry); }, StepFailures::kAll);
        // The old entries go only once the new one is safely in.
        if (!superseded.empty())
            systemStep(
                kApiSystemError, "", [&] { removeEntries(superseded); }, StepFailures::kAll);
    } catch (...) {
        withdraw(entry.sectionName, copy);
        throw;
    }
    for (const CenterRecord& r : superseded) deleteStoredFile(r.tempFilePath);
    std::string path = copy.path().string();
    copy.release();
    return path;
}

// Appends in place. The size before the append is in the register with the
// entry's status 3 until the append is whole on disk, so a crash meanwhile
// is cut back at the next start: the center never collects half an append.
std::string appendToWaiting(const Request& rq, int source, CenterRecord entry) {
    const fs::path target = entry.tempFilePath;
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) throw PLException(kApiNotReady, errno, kAttributeText);
    if (!S_ISREG(st.st_mode)) throw PLException(kApiNotReady, S_ISDIR(st.st_mode) ? EISDIR : EINVAL, kAttributeText);
    if ((st.st_mode & S_IWUSR) == 0 && ::chmod(target.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0)
        throw PLException(kApiNotReady, errno, kAttributeText);
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
    if (!out || ::fstat(out.get(), &st) != 0) throw PLException(kApiNotReady, errno, kAttributeText);

    entry.status = kStatusInProgress;
    entry.appendBase = st.st_size;
    systemStep(
        kApiSystemError, "", [&] { writeCenterRecord(entry); }, StepFailures::kAll);
    try {
        appendStamped(source, out.get());
        if (::fsync(out.get()) != 0) throw std::system_error(errno, std::generic_category(), "fsync");
    } catch (const std::system_error& e) {
        [[maybe_unused]] int trimmed = ::ftruncate(out.get(), st.st_size);
        entry.status = kStatusWaiting;
        entry.appendBase = -1;
        try {
            writeCenterRecord(entry);
        } catch (...) {
            // Left at status 3, the start-up repair cuts it back and puts it back to 1.
        }
        throw PLException(kApiNotReady, e.code().value(), kMergeFailedText);
    }

    entry.status = kStatusWaiting;
    entry.appendBase = -1;
    entry.clDataDirectory = rq.directory;
    entry.clDataFilename = rq.filename;
    systemStep(
        kApiSystemError, "", [&] { writeCenterRecord(entry); }, StepFailures::kAll);
    try {
        moveSectionLast(entry.sectionName);
    } catch (...) {
        // The entry is complete and waiting; only its place in the order is lost.
    }
    return entry.tempFilePath;
}

std::string stage(Client& client, const Caller& caller, const Request& rq) {
    UniqueFd source = checkArguments(caller, rq);
    std::unique_ptr<Settings> settings = loadCheckedSettingsOrInvalid();
    // The gateway finds the file by the path in the section name: make it full.
    const fs::path tempFolder = fs::absolute(settings->tempFolder);
    requireDataKind(client, rq.fileType);

    NamedLock registerLock(centerIniMutex());
    std::vector<CenterRecord> records = loadCenterRecords();
    FileTime limit = getNowFileTime();
    startOfDayPlusDays(limit, 1);

    auto waitingSendOfKind = [&](const CenterRecord& r) {
        return r.status == kStatusWaiting && r.sendRecvFlag == kDirectionSend &&
               sectionKind(r.sectionName) == rq.fileType;
    };
    // Only our own files are ever written to.
    auto appendable = [&](const CenterRecord& r) {
        return waitingSendOfKind(r) && r.expiryTime >= limit && isOwnTempFile(r.tempFilePath, tempFolder);
    };
    bool append = rq.option == kOptionAppend && std::any_of(records.begin(), records.end(), appendable);
    if (rq.option < 0 || rq.option > kOptionAdd) throw argumentError(5, "SetOptionが範囲外です");
    if (append) return appendToWaiting(rq, source.get(), *std::find_if(records.rbegin(), records.rend(), appendable));

    std::vector<CenterRecord> superseded;
    if (rq.option != kOptionAdd)
        std::copy_if(records.begin(), records.end(), std::back_inserter(superseded), waitingSendOfKind);
    return stageNewFile(rq, source.get(), tempFolder, records, superseded);
}

} // namespace

ApiResult Transport::PLSetData(const std::string& FileType, const std::string& ClDataDirectory,
                               const std::string& ClDataFilename, std::int32_t LimitDay, std::int32_t SetOption,
                               std::string& ClTempFilename, const Caller& caller) {
    ClTempFilename.clear();
    ArgumentLine line;
    line << FileType << ClDataDirectory << ClDataFilename << LimitDay << SetOption;
    ApiMethod method{.name = kApiName, .argumentLine = line.text(), .defaultMessage = kDefaultText};
    // This method's failures that name no class are code 1, not the common 2.
    method.defaultCode = kApiNotReady;
    std::string staged;
    ApiResult result = runApiMethod(triple_, method, [&] {
        staged = stage(*client_, caller, Request{FileType, ClDataDirectory, ClDataFilename, LimitDay, SetOption});
    });
    if (result) ClTempFilename = staged;
    return result;
}

} // namespace plx
