// Picking up files the center delivered: PLGetDataA copies one register
// entry out, PLGetData copies the matches of a search (all or nothing) and
// PLGetDataAt hands out its result list.
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
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
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"
#include "service/classes/Retrieve.h"
#include "service/classes/TransferSupport.h"
#include "service/classes/Transport.h"

namespace plx {

namespace {

namespace fs = std::filesystem;

// A failure that brings no text of its own.
constexpr const char* kUnknownText = "エラー(原因不明)";
constexpr const char* kNoFolderText = "受信データ保存ディレクトリが存在しないか、読み取り専用属性です";
constexpr const char* kDirectoryTooLongText = "ディレクトリが128桁を超えました";
constexpr const char* kNameTooLongText = "ファイル名が64桁を超えました";
constexpr const char* kCreateText = "ファイル生成中にエラー";
constexpr const char* kNotReceivedText = "受信ファイルが存在しません";
constexpr const char* kBadTargetText = "保存先のクライアントファイル名が不正です";
constexpr const char* kBadSourceText = "保存元のクライアントファイル名が不正です";
constexpr const char* kWriteText = "保存先ファイル書き込み中にエラーが発生しました";

constexpr std::size_t kFileTypeLimit = 4;
constexpr std::size_t kNameLimit = 64;
constexpr std::size_t kDirectoryLimit = 128;

bool tooLong(const std::string& text, std::size_t limit) { return utf8Length(text) > limit; }

bool sameFile(const struct stat& a, const fs::path& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The entry's data file, open for reading; errno is set when it is missing
// or not a plain file.
UniqueFd openSource(const std::string& path, struct stat& st) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return fd;
    if (::fstat(fd.get(), &st) != 0) return UniqueFd();
    if (!S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return UniqueFd();
    }
    return fd;
}

std::unique_ptr<Settings> settingsForPickUp() {
    try {
        return loadCheckedSettings();
    } catch (const ApiError&) {
        throw;
    } catch (...) {
        throw ApiError(kApiSystemError, 0, "設定管理ファイル(plconfig.ini)が不正です");
    }
}

// The files one PLGetData changes, so that a failure can put them all back:
// a copy beside each existing file, and a note of each file it creates.
class BackupSet {
public:
    BackupSet() = default;
    BackupSet(const BackupSet&) = delete;
    BackupSet& operator=(const BackupSet&) = delete;
    ~BackupSet() {
        if (!committed_) rollBack();
    }

    // Before path is first changed. False (errno set) when no copy could be
    // made: the caller must not touch the file then.
    bool protect(const fs::path& path) {
        if (find(path)) return true;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return false;
            entries_.push_back({path, {}});
            return true;
        }
        if (!S_ISREG(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        fs::path copy = copyBeside(path, st);
        if (copy.empty()) return false;
        entries_.push_back({path, std::move(copy)});
        return true;
    }

    // A file the call has just made itself: removed again on failure.
    void noteCreated(const fs::path& path) {
        if (!find(path)) entries_.push_back({path, {}});
    }

    // Success: the copies go, the changes stay.
    void commit() {
        committed_ = true;
        for (const Entry& e : entries_)
            if (!e.copy.empty()) ::unlink(e.copy.c_str());
    }

private:
    struct Entry {
        fs::path path;
        fs::path copy; // empty: the call created the file
    };

    bool find(const fs::path& path) const {
        return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.path == path; });
    }

    // path + ".rlbk" with the file's bytes, mode and times. A file of that
    // name that is not ours is never replaced: then a unique name is taken.
    static fs::path copyBeside(const fs::path& path, const struct stat& st) {
        fs::path copy = fs::path(path) += ".rlbk";
        if (!copyFileStamped(path, copy, true)) {
            if (errno != EEXIST) return {};
            try {
                copy = createUniqueFile(path.parent_path().empty() ? fs::path(".") : path.parent_path(),
                                        path.filename().string() + ".rlbk", st.st_mode & 0777);
            } catch (const std::system_error& e) {
                errno = e.code().value();
                return {};
            }
            ScopedFileRemoval undo(copy);
            if (!copyFileStamped(path, copy, false)) return {};
            undo.release();
        }
        ::chmod(copy.c_str(), st.st_mode & 07777);
        timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, copy.c_str(), times, 0);
        return copy;
    }

    void rollBack() noexcept {
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (it->copy.empty())
                ::unlink(it->path.c_str());
            else
                ::rename(it->copy.c_str(), it->path.c_str()); // a copy that cannot go back stays for the user
        }
    }

    std::vector<Entry> entries_;
    bool committed_ = false;
};

} // namespace

ApiResult Transport::PLGetDataA(const std::string& FileType, const std::string& ClTempFilename,
                                const std::string& ClDataDirectory, std::string& ClDataFilename,
                                std::int32_t CreateFlag) {
    auto line =
        (ArgumentLine() << FileType << ClTempFilename << ClDataDirectory << ClDataFilename << CreateFlag).text();
    ApiMethod method{.name = "PLGetDataA", .argumentLine = std::move(line), .defaultMessage = kUnknownText};
    return runApiMethod(triple_, method, [&] {
        if (tooLong(FileType, kFileTypeLimit)) throw argumentError(1, "ファイル種別が不正です");
        if (FileType.empty()) throw argumentError(1, "ファイル種別が未入力です");
        if (tooLong(ClTempFilename, kNameLimit)) throw argumentError(2, "一時ファイル名が64桁を超えました");
        if (ClTempFilename.empty()) throw argumentError(2, "一時ファイル名が未入力です");
        if (tooLong(ClDataDirectory, kDirectoryLimit)) throw argumentError(3, kDirectoryTooLongText);
        if (ClDataDirectory.empty()) throw argumentError(3, "ディレクトリが未入力です");
        if (!isWritableFolder(ClDataDirectory, false)) throw argumentError(3, kNoFolderText);
        if (tooLong(ClDataFilename, kNameLimit)) throw argumentError(4, kNameTooLongText);
        if (CreateFlag != 0 && CreateFlag != 1) throw argumentError(5, "作成フラグの指定が不正です");

        std::lock_guard lock(centerIniMutex());
        std::vector<CenterRecord> records = loadCenterRecords();
        auto any = [&](auto predicate) { return std::any_of(records.begin(), records.end(), predicate); };
        if (!any([](const CenterRecord& r) { return r.sendRecvFlag == kDirectionRecv; }))
            throw argumentError(2, kNotReceivedText);
        if (!any([&](const CenterRecord& r) { return r.fileType == FileType; }))
            throw argumentError(1, "ファイル種別が不正です");
        if (!any([&](const CenterRecord& r) { return equalsIgnoreCase(r.tempFileName, ClTempFilename); }))
            throw argumentError(2, "一時ファイル名が不正です");

        std::vector<CenterRecord*> matches;
        for (CenterRecord& r : records)
            if (r.status > 0 && r.fileType == FileType && r.sendRecvFlag == kDirectionRecv &&
                equalsIgnoreCase(r.tempFileName, ClTempFilename))
                matches.push_back(&r);
        // The gateway is still writing an entry in progress: nothing of it may go out.
        for (const CenterRecord* r : matches)
            if (r->status == kStatusInProgress) throw ApiError(kApiSystemError, EBUSY, kNotReceivedText, true);

        const std::string requested = ClDataFilename;
        std::string usedName = requested;
        for (CenterRecord* r : matches) {
            // The source first: a missing one must leave the user's file alone.
            struct stat sourceStat {};
            UniqueFd source = openSource(r->tempFilePath, sourceStat);
            if (!source) throw ApiError(kApiSystemError, errno, kNotReceivedText, true);

            fs::path target;
            std::string name;
            ScopedFileRemoval created;
            if (!requested.empty()) {
                name = requested;
            } else if (isPlainFileName(r->svDataFilename)) {
                name = r->svDataFilename;
            } else {
                try {
                    created = ScopedFileRemoval(createUniqueFile(ClDataDirectory, kTempPrefix, 0666));
                } catch (const std::system_error& e) {
                    throw ApiError(kApiNoTempFile, e.code().value(), kCreateText, true);
                }
                name = created.path().filename().string();
            }
            target = joinPath(ClDataDirectory, name);
            if (sameFile(sourceStat, target)) throw ApiError(kApiNoTempFile, EINVAL, kCreateText, true);

            if (CreateFlag == 0) {
                // Through a temporary file and rename(): the old file stays whole until the new one is.
                if (!copyFileStamped(r->tempFilePath, target, false))
                    throw ApiError(kApiNoTempFile, errno, kCreateText, true);
            } else {
                struct stat before {};
                bool existed = ::stat(target.c_str(), &before) == 0;
                if (!appendFileStamped(r->tempFilePath, target)) {
                    int error = errno;
                    // Take a partial append back off the user's file.
                    if (existed)
                        (void)::truncate(target.c_str(), before.st_size);
                    else
                        ::unlink(target.c_str());
                    throw ApiError(kApiNoTempFile, error, kCreateText, true);
                }
            }

            CenterRecord picked = *r;
            picked.status = kStatusPickedUp;
            writeCenterRecord(picked);
            created.release();
            usedName = name;
        }
        ClDataFilename = usedName;
    });
}

ApiResult Transport::PLGetData(const std::string& FileType, const std::string& SvDataFilename,
                               const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo,
                               std::int32_t FileSize, std::int32_t Status, std::int32_t GetOption,
                               const std::string& ClDataDirectory, const std::string& ClDataFilename,
                               std::int32_t& count) {
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
        {
            std::lock_guard results(resultsMutex_);
            results_.clear();
        }

        auto badDate = [](const std::string& text) {
            FileTime t;
            return !text.empty() && !dateTimeTextToFileTime(text, t);
        };
        if (tooLong(FileType, kFileTypeLimit)) throw argumentError(1, "ファイル種別が4桁を超えています");
        if (FileType.empty()) throw argumentError(1, "ファイル種別が未入力です");
        if (tooLong(SvDataFilename, kNameLimit))
            throw argumentError(2, "受信データのセンタファイル名が64桁を超えています");
        if (badDate(SetDateTimeFrom)) throw argumentError(3, "受信日付(From)の指定が不正です");
        if (badDate(SetDateTimeTo)) throw argumentError(4, "受信日付(To)の指定が不正です");
        if (FileSize < 0) throw argumentError(5, "受信データのサイズが不正です");
        if (Status < 0 || Status > 2) throw argumentError(6, "受信ステータスの指定が不正です");
        if (GetOption < 0 || GetOption > 4) throw argumentError(7, "受信データの取得方法が不正です");
        if (tooLong(ClDataDirectory, kDirectoryLimit)) throw argumentError(8, kDirectoryTooLongText);
        if (!ClDataDirectory.empty() && !isWritableFolder(ClDataDirectory, false))
            throw argumentError(8, kNoFolderText);
        if (tooLong(ClDataFilename, kNameLimit)) throw argumentError(9, kNameTooLongText);

        auto settings = settingsForPickUp();
        const std::string folder = ClDataDirectory.empty() ? settings->tempFolder : ClDataDirectory;

        // In-process: a call over the bus to ourselves would wait on the lock we hold.
        Retrieve retrieve(client_);
        std::int32_t found = 0;
        if (ApiResult r = retrieve.PLSearchReceived(FileType, SvDataFilename, SetDateTimeFrom, SetDateTimeTo, FileSize,
                                                    Status, 3, found);
            !r)
            throw ApiError(r.code, r.detail, r.message, true);
        if (found > 0 && !backups.protect(centerIniPath())) throw ApiError(kApiSystemError, errno, "");

        auto copyOne = [&](const FileRec& rec, const CenterRecord& entry) {
            fs::path target;
            if (GetOption != 4 && !ClDataFilename.empty()) {
                target = joinPath(folder, ClDataFilename);
            } else if (isPlainFileName(rec.SvDataFilename)) {
                target = joinPath(folder, rec.SvDataFilename);
            } else {
                try {
                    target = createUniqueFile(folder, kTempPrefix, 0666);
                } catch (const std::system_error& e) {
                    throw ApiError(kApiBadArgument, e.code().value(),
                                   "保存先のクライアントファイルが生成できませんでした", true);
                }
                backups.noteCreated(target);
            }
            struct stat targetStat {};
            if (::stat(target.c_str(), &targetStat) == 0 && !S_ISREG(targetStat.st_mode))
                throw ApiError(kApiNotReady, EISDIR, kBadTargetText, true);
            // The register's own path, not one rebuilt from today's settings.
            const std::string& source = entry.tempFilePath;
            if (!backups.protect(target)) throw ApiError(kApiNotReady, errno, kWriteText, true);

            struct stat sourceStat {};
            UniqueFd in = openSource(source, sourceStat);
            if (!in) throw ApiError(kApiNotReady, errno, kBadSourceText, true);
            // Appending a file to itself would never end.
            if (sameFile(sourceStat, target)) throw ApiError(kApiNotReady, EINVAL, kBadTargetText, true);

            bool written = GetOption == 3 ? appendFileStamped(source, target) : copyFileStamped(source, target, false);
            if (!written) throw ApiError(kApiNotReady, errno, kWriteText, true);
            if (!ChangeGetStatus(entry.sectionName, kStatusPickedUp)) throw ApiError(kApiNotReady, 0, "");
        };

        std::string copiedSection;
        for (std::int32_t step = 0; step < found; ++step) {
            std::int32_t index = GetOption == 2 ? found - 1 - step : step;
            FileRec rec;
            if (ApiResult r = retrieve.PLSearchReceivedAt(index, rec); !r)
                throw ApiError(r.code, r.detail, r.message, true);
            std::optional<CenterRecord> entry = retrieve.receivedRecord(index);
            if (!entry) throw ApiError(kApiNotReady, 0, "");
            if (rec.Status == kStatusInProgress) continue;
            {
                std::lock_guard results(resultsMutex_);
                results_.push_back(rec);
            }
            copyOne(rec, *entry);
            copiedSection = entry->sectionName;
            if (GetOption <= 2) break;
        }

        if (GetOption == 2 && !copiedSection.empty()) {
            // Older deliveries of the kind (earlier in the register) count as picked up too.
            std::vector<CenterRecord> records = loadCenterRecords();
            bool passed = false;
            for (auto it = records.rbegin(); it != records.rend(); ++it) {
                std::string_view kind = std::string_view(it->sectionName).substr(0, it->sectionName.find(','));
                if (!equalsIgnoreCase(kind, FileType)) continue;
                if (it->sectionName == copiedSection) {
                    passed = true;
                    continue;
                }
                // Only deliveries waiting for pick-up: staged send entries must stay for the center.
                if (!passed || it->sendRecvFlag != kDirectionRecv || it->status != kStatusDone) continue;
                if (!ChangeGetStatus(it->sectionName, kStatusPickedUp)) throw ApiError(kApiNotReady, 0, "");
            }
        }

        std::int32_t kept = 0;
        {
            std::lock_guard results(resultsMutex_);
            kept = static_cast<std::int32_t>(results_.size());
        }
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
        settingsForPickUp();
        out = std::move(kept);
    });
}

} // namespace plx
