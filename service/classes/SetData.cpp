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
#include "platform/IniFile.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"
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

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The data kind is the part of a section name before its first comma, and
// section names live in "[...]": such characters would forge another entry.
bool isPlainFileType(std::string_view s) {
    return std::none_of(s.begin(), s.end(),
                        [](unsigned char c) { return c < 0x20 || c == 0x7F || c == ',' || c == '[' || c == ']'; });
}

void checkSource(const fs::path& source) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw PLException(kApiNoTempFile, 2, "指定されたファイルが存在しません", PLException::kExact);
        throw argumentError(3, "ファイル名の指定が不正です");
    }
    // A pipe or a device could block the copy while the register is locked.
    if (!S_ISREG(st.st_mode))
        throw PLException(kApiNoTempFile, 2, "指定されたファイルが存在しません", PLException::kExact);
}

void checkArguments(const Request& rq) {
    checkArgument(1, rq.fileType, kFileTypeRule);
    if (!isPlainFileType(rq.fileType)) throw argumentError(1, "ファイル種別が不正です");
    checkArgument(2, rq.directory, kSourceDirectoryRule);
    // Line breaks would end the register's value line and start a forged entry.
    if (hasLineBreakOrNul(rq.directory)) throw argumentError(2, "ディレクトリの指定が不正です");
    // File-name failures keep code 3 and detail 2, which callers test for.
    if (auto fault = lengthFault(rq.filename, kFileNameRule))
        throw PLException(kApiNoTempFile, 2, *fault, PLException::kExact);
    if (hasLineBreakOrNul(rq.filename)) throw argumentError(3, "ファイル名の指定が不正です");
    checkSource(joinPath(rq.directory, rq.filename));
    if (rq.limitDay < 0) throw argumentError(4, "有効日数の指定が不正です");
}

std::unique_ptr<Settings> checkedSettings() {
    try {
        return loadCheckedSettings();
    } catch (const PLException&) {
        throw;
    } catch (const std::system_error& e) {
        throw PLException(kApiSystemError, e.code().value(), "設定管理ファイル(plconfig.ini)が不正です");
    } catch (const std::exception&) {
        throw PLException(kApiSystemError, 0, "設定管理ファイル(plconfig.ini)が不正です");
    }
}

void requireDataKind(Client& client, const std::string& fileType) {
    std::int32_t count = 0;
    client.PLGetFileInfo(fileType, 0, "", "", 0, 0, count);
    if (count < 1)
        throw PLException(kApiSystemError, 0, "ファイル管理ファイルに登録されていないファイル種別が指定されました");
}

// The source opened once and checked to be a plain file. The copy reads it
// again through this descriptor, so the name cannot be swapped for a pipe
// in between.
class CheckedSource {
public:
    explicit CheckedSource(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ && (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
            fd_.reset();
            errno = EINVAL;
        }
    }
    explicit operator bool() const { return static_cast<bool>(fd_); }
    fs::path path() const { return "/proc/self/fd/" + std::to_string(fd_.get()); }

private:
    UniqueFd fd_;
};

// Register writes fail as store errors with the default text.
template <typename F>
void registerStep(F&& step) {
    try {
        step();
    } catch (const IniFormatError&) {
        throw PLException(kApiSystemError, EINVAL, "");
    } catch (const std::system_error& e) {
        throw PLException(kApiSystemError, e.code().value(), "");
    } catch (const std::exception&) {
        throw PLException(kApiSystemError, 0, "");
    }
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

// A new "@zv" file whose name no register entry uses: the stale entry of a
// vanished file must not merge with the new one (names match in any case).
ScopedFileRemoval newTempFile(const fs::path& folder, const std::vector<CenterRecord>& records) {
    std::vector<ScopedFileRemoval> inUse; // held so the next try picks another name
    for (int attempt = 0; attempt < 8; ++attempt) {
        fs::path path = makeTempFile(folder);
        if (path.empty()) throw PLException(kApiNoTempFile, errno, kNoTempNameText);
        ScopedFileRemoval file(path);
        auto sameName = [&](const CenterRecord& r) { return equalsIgnoreCase(r.tempFilePath, path.string()); };
        bool taken = std::any_of(records.begin(), records.end(), sameName);
        if (!taken) return file;
        inUse.push_back(std::move(file));
    }
    throw PLException(kApiNoTempFile, EEXIST, kNoTempNameText);
}

std::string stageNewFile(const Request& rq, const fs::path& source, const fs::path& tempFolder,
                         const std::vector<CenterRecord>& records, const std::vector<CenterRecord>& superseded) {
    ScopedFileRemoval copy = newTempFile(tempFolder, records);
    CheckedSource in(source);
    if (!in || !copyFileStamped(in.path(), copy.path(), false)) throw PLException(kApiNotReady, errno, kCopyFailedText);

    CenterRecord entry;
    entry.sectionName = makeSectionName(rq.fileType, copy.path().string());
    entry.limitDays = rq.limitDay;
    entry.status = kStatusWaiting;
    entry.sendRecvFlag = kDirectionSend;
    entry.clDataFilename = rq.filename;
    entry.clDataDirectory = rq.directory;
    try {
        registerStep([&] { writeCenterRecord(entry); });
        // The old entries go only once the new one is safely in.
        if (!superseded.empty()) registerStep([&] { removeEntries(superseded); });
    } catch (...) {
        withdraw(entry.sectionName, copy);
        throw;
    }
    for (const CenterRecord& r : superseded) deleteStoredFile(r.tempFilePath);
    std::string staged = copy.path().string();
    copy.release();
    return staged;
}

std::string appendToWaiting(const Request& rq, const fs::path& source, CenterRecord entry) {
    const fs::path target = entry.tempFilePath;
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) throw PLException(kApiNotReady, errno, kAttributeText);
    if ((st.st_mode & S_IWUSR) == 0 && ::chmod(target.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0)
        throw PLException(kApiNotReady, errno, kAttributeText);

    entry.status = kStatusInProgress;
    registerStep([&] { writeCenterRecord(entry); });
    CheckedSource in(source);
    if (!in || !appendFileStamped(in.path(), target)) {
        int error = errno;
        // The center must never collect half an append.
        [[maybe_unused]] int trimmed = ::truncate(target.c_str(), st.st_size);
        entry.status = kStatusWaiting;
        try {
            writeCenterRecord(entry);
        } catch (...) {
            // Left at status 3, the start-up repair puts it back to 1.
        }
        throw PLException(kApiNotReady, error, kMergeFailedText);
    }

    entry.status = kStatusWaiting;
    entry.clDataDirectory = rq.directory;
    entry.clDataFilename = rq.filename;
    registerStep([&] { writeCenterRecord(entry); });
    try {
        moveSectionLast(entry.sectionName);
    } catch (...) {
        // The entry is complete and waiting; only its place in the order is lost.
    }
    return entry.tempFilePath;
}

std::string stage(Client& client, const Request& rq) {
    checkArguments(rq);
    const fs::path source = joinPath(rq.directory, rq.filename);
    std::unique_ptr<Settings> settings = checkedSettings();
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
    if (append) return appendToWaiting(rq, source, *std::find_if(records.rbegin(), records.rend(), appendable));

    std::vector<CenterRecord> superseded;
    if (rq.option != kOptionAdd)
        std::copy_if(records.begin(), records.end(), std::back_inserter(superseded), waitingSendOfKind);
    return stageNewFile(rq, source, tempFolder, records, superseded);
}

} // namespace

ApiResult Transport::PLSetData(const std::string& FileType, const std::string& ClDataDirectory,
                               const std::string& ClDataFilename, std::int32_t LimitDay, std::int32_t SetOption,
                               std::string& ClTempFilename) {
    ClTempFilename.clear();
    ArgumentLine line;
    line << FileType << ClDataDirectory << ClDataFilename << LimitDay << SetOption;
    ApiMethod method{.name = kApiName, .argumentLine = line.text(), .defaultMessage = kDefaultText};
    // This method's failures that name no class are code 1, not the common 2.
    method.defaultCode = kApiNotReady;
    std::string staged;
    ApiResult result = runApiMethod(triple_, method, [&] {
        staged = stage(*client_, Request{FileType, ClDataDirectory, ClDataFilename, LimitDay, SetOption});
    });
    if (result) ClTempFilename = staged;
    return result;
}

} // namespace plx
