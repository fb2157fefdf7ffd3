#include "service/classes/Retrieve.h"

#include <cerrno>
#include <limits>

#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/IniLocks.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"
#include "service/classes/TransferSupport.h"

namespace plx {

namespace {

constexpr const char* kSearchText = "データ検索中にエラー（検索条件を確認してください）";
constexpr const char* kSearchAtText = "データ検索中にエラー";
constexpr const char* kReceivedAtText = "データ取得に失敗しました（取得条件index，受信データを確認してください）";
constexpr const char* kDeleteText = "データ削除中にエラー";

constexpr const char* kFromText = "データ作成日付 From の指定が不正です";
constexpr const char* kToText = "データ作成日付 To の指定が不正です";
constexpr const char* kStatusText = "ステータスの指定が不正です";

// Criteria may be empty: they then match anything.
constexpr LengthRule kFileTypeCriterion{kFileTypeLimit, kFileTypeRule.tooLongText, {}};

// An empty text means no bound; otherwise fourteen digits of a real local time.
FileTime timeBound(const std::string& text, FileTime ifEmpty, std::int32_t position, const char* message) {
    if (text.empty()) return ifEmpty;
    FileTime t;
    if (!dateTimeTextToFileTime(text, t)) throw argumentError(position, message);
    return t;
}

// An empty To means 9999-12-30 00:00:00 UTC: one day past the no-expiry time.
constexpr FileTime kLatest{FileTime::kNoExpiry + FileTime::kTicksPerDay};

std::int32_t fileSize32(const CenterRecord& r) { return clampToInt32(r.fileSize); }

} // namespace

Retrieve::Retrieve(std::shared_ptr<Client> client) : client_(std::move(client)) {}

ApiResult Retrieve::run(std::string_view name, std::string argumentLine, std::string_view defaultMessage,
                        const std::function<void()>& body) {
    // This class's failures that name no class are code 1, not the common code 2.
    return runApiMethod(triple_,
                        ApiMethod{.name = name,
                                  .argumentLine = std::move(argumentLine),
                                  .defaultMessage = defaultMessage,
                                  .defaultCode = kApiNotReady},
                        body);
}

ApiResult Retrieve::PLSearchSent(const std::string& FileType, const std::string& ClDataFilename,
                                 const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo,
                                 std::int32_t Status, std::int32_t& count) {
    count = 0;
    auto line = (ArgumentLine() << FileType << ClDataFilename << SetDateTimeFrom << SetDateTimeTo << Status).text();
    return run("PLSearchSent", std::move(line), kSearchText, [&] {
        {
            std::lock_guard lock(resultsMutex_);
            sentResults_.clear();
        }
        checkArgument(1, FileType, kFileTypeCriterion);
        checkArgument(2, ClDataFilename, {kFileNameLimit, "送信データファイル名の指定が不正です", {}});
        FileTime from = timeBound(SetDateTimeFrom, FileTime{0}, 3, kFromText);
        FileTime to = timeBound(SetDateTimeTo, kLatest, 4, kToText);
        if (Status < 0 || Status > 3) throw argumentError(5, kStatusText);

        loadCheckedSettings();
        std::vector<CenterRecord> kept;
        for (CenterRecord& r : loadCenterRecords()) {
            if (r.status <= 0 || r.sendRecvFlag != kDirectionSend) continue;
            if (!FileType.empty() && r.fileType != FileType) continue;
            if (!ClDataFilename.empty() && !equalsIgnoreCase(r.clDataFilename, ClDataFilename)) continue;
            if (Status != 0 && r.status != Status) continue;
            if (r.fileTime < from || r.fileTime > to) continue;
            kept.push_back(std::move(r));
        }
        std::int32_t found = clampToInt32(static_cast<std::int64_t>(kept.size()));
        {
            std::lock_guard lock(resultsMutex_);
            sentResults_ = std::move(kept);
        }
        count = found;
    });
}

ApiResult Retrieve::PLSearchSentAt(std::int32_t index, FileRec& out) {
    out = FileRec{};
    return run("PLSearchSentAt", (ArgumentLine() << index).text(), kSearchAtText, [&] {
        loadCheckedSettings();
        CenterRecord r;
        {
            std::lock_guard lock(resultsMutex_);
            if (index < 0 || static_cast<std::size_t>(index) >= sentResults_.size())
                throw PLException(kApiNotReady, 0, "");
            r = sentResults_[static_cast<std::size_t>(index)];
        }
        out.FileType = r.fileType;
        out.ClTempFilename = r.tempFileName;
        fileTimeToDateTimeText(r.fileTime, out.SetDateTime); // left empty when it cannot be shown
        out.FileSize = fileSize32(r);
        out.ClDataDirectory = r.clDataDirectory;
        out.ClDataFilename = r.clDataFilename;
        if (!fileTimeToDateText(r.expiryTime, out.LimitDate)) out.LimitDate.clear();
        out.Status = r.status;
    });
}

ApiResult Retrieve::PLSearchReceived(const std::string& FileType, const std::string& SvDataFilename,
                                     const std::string& SetDateTimeFrom, const std::string& SetDateTimeTo,
                                     std::int32_t FileSize, std::int32_t Status, std::int32_t GetOption,
                                     std::int32_t& count) {
    count = 0;
    auto line = (ArgumentLine() << FileType << SvDataFilename << SetDateTimeFrom << SetDateTimeTo << FileSize << Status
                                << GetOption)
                    .text();
    return run("PLSearchReceived", std::move(line), kSearchText, [&] {
        {
            std::lock_guard lock(resultsMutex_);
            receivedResults_.clear();
        }
        checkArgument(1, FileType, kFileTypeCriterion);
        checkArgument(2, SvDataFilename, {kFileNameLimit, "受信データセンターファイル名が64桁を超えました", {}});
        FileTime from = timeBound(SetDateTimeFrom, FileTime{0}, 3, kFromText);
        FileTime to = timeBound(SetDateTimeTo, kLatest, 4, kToText);
        if (FileSize < 0) throw argumentError(5, "ファイルサイズの指定が不正です");
        if (Status < 0 || Status > 3) throw argumentError(6, kStatusText);
        if (GetOption < 0 || GetOption > 3) throw argumentError(7, "検索条件\"GetOption\"が範囲外です");

        loadCheckedSettings();
        // Status 1 asks for deliveries not yet picked up, 2 for picked up, 3 in progress.
        static constexpr std::int32_t kWanted[] = {0, kStatusDone, kStatusPickedUp, kStatusInProgress};
        std::vector<CenterRecord> matches;
        for (CenterRecord& r : loadCenterRecords()) {
            if (r.status <= 0 || r.sendRecvFlag != kDirectionRecv) continue;
            if (!FileType.empty() && r.fileType != FileType) continue;
            if (!SvDataFilename.empty() && !equalsIgnoreCase(r.svDataFilename, SvDataFilename)) continue;
            if (Status != 0 && r.status != kWanted[Status]) continue;
            if (r.fileTime < from || r.fileTime > to) continue;
            if (FileSize != 0 && r.fileSize != FileSize) continue;
            matches.push_back(std::move(r));
        }

        std::vector<CenterRecord> kept;
        if (GetOption == 3 || matches.empty()) {
            kept = std::move(matches);
        } else {
            // Oldest (0, 1) or newest (2) by file time; the first in register order wins a tie.
            std::size_t chosen = 0;
            for (std::size_t i = 1; i < matches.size(); ++i) {
                bool better = GetOption == 2 ? matches[i].fileTime > matches[chosen].fileTime
                                             : matches[i].fileTime < matches[chosen].fileTime;
                if (better) chosen = i;
            }
            kept.push_back(std::move(matches[chosen]));
        }
        std::int32_t found = clampToInt32(static_cast<std::int64_t>(kept.size()));
        {
            std::lock_guard lock(resultsMutex_);
            receivedResults_ = std::move(kept);
        }
        count = found;
    });
}

ApiResult Retrieve::PLSearchReceivedAt(std::int32_t index, FileRec& out) {
    out = FileRec{};
    // The one method whose API-log line carries no arguments.
    return run("PLSearchReceivedAt", "", kReceivedAtText, [&] {
        auto find = [&] {
            loadCheckedSettings();
            std::optional<CenterRecord> r = receivedRecord(index);
            if (!r) throw PLException(kApiNotReady, 0, "");
            out.FileType = r->fileType;
            out.SvDataFilename = r->svDataFilename;
            out.ClTempFilename = r->tempFileName;
            fileTimeToDateTimeText(r->fileTime, out.SetDateTime);
            out.FileSize = fileSize32(*r);
            out.Status = r->status;
        };
        try {
            // Every failure here, the settings check included, reads the same.
            systemStep(kApiNotReady, "", find, StepFailures::kAll);
        } catch (...) {
            out = FileRec{};
            throw;
        }
    });
}

std::optional<CenterRecord> Retrieve::receivedRecord(std::int32_t index) {
    std::lock_guard lock(resultsMutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= receivedResults_.size()) return std::nullopt;
    return receivedResults_[static_cast<std::size_t>(index)];
}

ApiResult Retrieve::PLDeleteFile(const std::string& FileType, std::int32_t SendRecvFlag, const std::string& SetDate,
                                 const std::string& DayCount, std::int32_t Status, const std::string& ClTempFilename,
                                 std::int32_t& count) {
    count = 0;
    auto line = (ArgumentLine() << FileType << SendRecvFlag << SetDate << DayCount << Status << ClTempFilename).text();
    return run("PLDeleteFile", std::move(line), kDeleteText, [&] {
        checkArgument(1, FileType, kFileTypeCriterion);
        if (SendRecvFlag < 0 || SendRecvFlag > 2) throw argumentError(2, "送受信区分の指定が不正です");
        std::optional<FileTime> dateLimit;
        if (!SetDate.empty()) {
            FileTime t;
            // Eight plain digits: no signs or blanks slip through the date reader.
            if (SetDate.size() != 8 || !parseDigits(SetDate) || !dateTextToFileTime(SetDate, t))
                throw argumentError(3, "対象日付の指定が不正です");
            dateLimit = t;
        }
        std::int64_t days = 0;
        if (!DayCount.empty()) {
            auto parsed = parseDigits(DayCount); // saturates instead of wrapping
            if (!parsed) throw argumentError(4, "指定日数の指定が不正です");
            days = *parsed;
        }
        if (Status != 0 && Status != 1) throw argumentError(5, kStatusText);

        loadCheckedSettings();
        const FileTime now = getNowFileTime();
        std::optional<FileTime> dayLimit;
        bool noneOldEnough = false;
        if (days > 0) {
            FileTime midnight = now;
            startOfDayPlusDays(midnight, 0);
            // A limit before 1601 has no entry at or before it; never let it wrap round.
            if (static_cast<std::uint64_t>(days) > midnight.ticks / FileTime::kTicksPerDay) {
                noneOldEnough = true;
            } else {
                FileTime limit = now;
                startOfDayPlusDays(limit, -days);
                dayLimit = limit;
            }
        }

        // One pass under the lock: what is deleted cannot change meanwhile.
        std::lock_guard lock(centerIniMutex());
        std::vector<CenterRecord> records = loadCenterRecords();
        if (!ClTempFilename.empty()) {
            bool known = false;
            for (const CenterRecord& r : records) known = known || equalsIgnoreCase(r.tempFileName, ClTempFilename);
            if (!known) throw argumentError(6, "指定された一時ファイルが存在しません");
        }

        std::int32_t deleted = 0;
        for (const CenterRecord& r : records) {
            if (!FileType.empty() && r.fileType != FileType) continue;
            if (SendRecvFlag != 0 && r.sendRecvFlag != SendRecvFlag) continue;
            if (r.status < 1 || r.status == kStatusInProgress) continue;
            if (noneOldEnough) continue;
            if (dateLimit && r.fileTime > *dateLimit) continue;
            if (dayLimit && r.fileTime > *dayLimit) continue;
            if (Status == 0) {
                if (r.sendRecvFlag == kDirectionSend && r.status == kStatusWaiting && r.expiryTime > now) continue;
                if (r.sendRecvFlag == kDirectionRecv && r.status == kStatusDone) continue;
            }
            if (!ClTempFilename.empty() && !equalsIgnoreCase(r.tempFileName, ClTempFilename)) continue;

            // Entry first: a data file left over is purged at start, an entry
            // without its file would be handed out.
            deleteCenterRecord(r.sectionName);
            deleteStoredFile(r.tempFilePath); // only our own "@zv" files in the temporary folder
            ++deleted;
        }
        count = deleted;
    });
}

} // namespace plx
