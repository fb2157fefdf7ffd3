#include "client/LogFileReader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "client/ChunkedWork.h"
#include "client/DateTimeText.h"
#include "client/LogLineReader.h"
#include "platform/Processors.h"
#include "platform/Utf8.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSessionLogPrefix = "plsession";
constexpr std::string_view kApiLogPrefix = "plapi";
constexpr std::string_view kLogSuffix = ".log";
constexpr std::size_t kLogDateLength = 8;

// The API calls whose lines belong to a session record.
constexpr std::string_view kTransferApis[] = {"PLSendData", "PLRecvData"};

struct KindCodes {
    LogKind kind;
    std::span<const SessionLog::TransferKind> codes;
};
constexpr KindCodes kKindCodes[] = {
    {LogKind::Send, SessionLog::kSendKinds},
    {LogKind::Receive, SessionLog::kReceiveKinds},
};

// The field as written: the code's decimal text, nothing around it.
bool isCode(std::string_view field, std::int32_t code) {
    char text[12];
    auto written = std::to_chars(text, text + sizeof text, code);
    return field == std::string_view(text, static_cast<std::size_t>(written.ptr - text));
}

bool admits(LogKind kind, std::string_view transferKind) {
    if (kind == LogKind::All) return true;
    for (const KindCodes& row : kKindCodes)
        if (row.kind == kind)
            return std::ranges::any_of(row.codes, [&](std::int32_t code) { return isCode(transferKind, code); });
    return false;
}

// The days of the files to read (YYYYMMDD) and the stamps of the API lines
// to attach (YYYYMMDDhhmmss), both ends included.
struct LogRange {
    std::string firstDay = "00000000";
    std::string lastDay = "99991231";
    std::string firstStamp = "00000000000000";
    std::string lastStamp = "99991231235959";
};

LocalDateTime requireDate(std::string_view text) {
    auto date = parseDateText(text);
    if (!date) throw std::invalid_argument("not a date: " + std::string(text));
    return *date;
}

TimeText requireTime(std::string_view text, TimeText whenEmpty) {
    if (text.empty()) return whenEmpty;
    auto time = parseTimeText(text);
    if (!time) throw std::invalid_argument("not a time: " + std::string(text));
    return *time;
}

LogRange rangeOf(const LogFilter& filter) {
    LogRange range;
    auto stampOf = [](LocalDateTime moment, const TimeText& time) {
        moment.hour = time.hour;
        moment.minute = time.minute;
        moment.second = time.second;
        return formatStamp(moment);
    };
    if (!filter.dateFrom.empty()) {
        LocalDateTime first = requireDate(filter.dateFrom);
        range.firstDay = formatDate(first);
        range.firstStamp = stampOf(first, requireTime(filter.timeFrom, {0, 0, 0, true}));
    }
    if (!filter.dateTo.empty()) {
        LocalDateTime last = requireDate(filter.dateTo);
        TimeText lastTime = requireTime(filter.timeTo, {23, 59, 59, true});
        if (!lastTime.withSeconds) lastTime.second = 59; // the whole minute
        range.lastDay = formatDate(last);
        range.lastStamp = stampOf(last, lastTime);
    }
    return range;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool endsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// The daily logs <prefix>YYYYMMDD.log of folder whose date text lies in the
// range, by date. The names are compared as the logging library writes
// them, without regard to ASCII case.
std::vector<fs::path> dailyLogs(std::string_view folder, std::string_view prefix, const LogRange& range) {
    if (folder.empty()) return {};
    std::vector<std::pair<std::string, std::string>> found; // date, name
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + kLogDateLength + kLogSuffix.size() || !startsWithIgnoreCase(name, prefix) ||
            !endsWithIgnoreCase(name, kLogSuffix))
            continue;
        std::string date = name.substr(prefix.size(), kLogDateLength);
        if (date < range.firstDay || date > range.lastDay) continue;
        found.emplace_back(std::move(date), std::move(name));
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> files;
    files.reserve(found.size());
    for (const auto& [date, name] : found) files.push_back(fs::path(folder) / name);
    return files;
}

// A session id's hash, never 0.
std::size_t idHash(std::string_view id) { return std::max<std::size_t>(std::hash<std::string_view>{}(id), 1); }

// Session id -> index of the first session record with that id, as an open
// addressing table of 32-bit indexes (a year of sessions is a million).
class SessionIdIndex {
public:
    explicit SessionIdIndex(const std::vector<std::string_view>& sessions) : sessions_(sessions) {
        std::size_t capacity = 16;
        while (capacity < sessions.size() * 2) capacity *= 2;
        slots_.assign(capacity, Slot{});
        mask_ = capacity - 1;
        // Each record's slot is fetched while the ones before it go in: the
        // table is far larger than the caches.
        constexpr std::size_t kAhead = 16;
        std::array<std::size_t, kAhead> hashes{};
        for (std::size_t i = 0; i < sessions.size() + kAhead; ++i) {
            std::size_t& hash = hashes[i % kAhead];
            if (i >= kAhead && hash != 0) insert(i - kAhead, hash); // an empty id is never looked up
            if (i >= sessions.size()) continue;
            std::string_view id = idOf(i);
            hash = id.empty() ? 0 : idHash(id);
            if (hash != 0) __builtin_prefetch(&slots_[hash & mask_], 1);
        }
    }

    // May run on several threads at once.
    std::optional<std::size_t> find(std::string_view id) const {
        std::size_t hash = idHash(id);
        for (std::size_t s = hash & mask_; slots_[s].indexPlusOne != 0; s = (s + 1) & mask_)
            if (matches(slots_[s], hash, id)) return slots_[s].indexPlusOne - 1;
        return std::nullopt;
    }

private:
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t indexPlusOne = 0; // 0: free
    };

    void insert(std::size_t i, std::size_t hash) {
        for (std::size_t s = hash & mask_;; s = (s + 1) & mask_) {
            if (slots_[s].indexPlusOne == 0) {
                slots_[s] = {static_cast<std::uint32_t>(hash), static_cast<std::uint32_t>(i + 1)};
                return;
            }
            if (matches(slots_[s], hash, idOf(i))) return; // keep the first
        }
    }
    std::string_view idOf(std::size_t i) const { return SessionLine(sessions_[i]).field(SessionLog::kSessionId); }
    bool matches(const Slot& slot, std::size_t hash, std::string_view id) const {
        return slot.hash == static_cast<std::uint32_t>(hash) && idOf(slot.indexPlusOne - 1) == id;
    }

    const std::vector<std::string_view>& sessions_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// The index above holds 32-bit positions.
constexpr std::size_t kMaxSessions = std::numeric_limits<std::uint32_t>::max() - 1;

// An API line for a session record, in 16 bytes (lines are cut at 64 KiB,
// and sessions counted in 32 bits).
struct Attachment {
    Attachment(std::size_t i, std::string_view text)
        : line(text.data()), size(static_cast<std::uint32_t>(text.size())), session(static_cast<std::uint32_t>(i)) {}
    const char* line;
    std::uint32_t size;
    std::uint32_t session;
};

// Takes each file's result in file order, as soon as that file and every
// one before it are done: only the results still waiting are held.
template <typename Result>
class InFileOrder {
public:
    InFileOrder(std::size_t files, std::function<void(Result&)> take) : waiting_(files), take_(std::move(take)) {}

    // May be called from any thread.
    void done(std::size_t file, Result result) {
        std::lock_guard lock(mutex_);
        waiting_[file] = std::move(result);
        while (next_ < waiting_.size() && waiting_[next_]) {
            take_(*waiting_[next_]);
            waiting_[next_++].reset();
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::optional<Result>> waiting_;
    std::size_t next_ = 0;
    std::function<void(Result&)> take_;
};

// The session lines of file that kind admits, stored in arena.
std::vector<std::string_view> keptSessions(const fs::path& file, LogKind kind, TextArena& arena) {
    std::vector<std::string_view> kept;
    LogLineReader reader(file);
    std::string_view line;
    while (reader.next(line))
        if (kind == LogKind::All || admits(kind, SessionLine(line).field(SessionLog::kTransferKind)))
            kept.push_back(arena.store(line));
    return kept;
}

// The transfer calls of file stamped inside range whose session the index
// knows, in file order, stored in arena.
std::vector<Attachment> attachmentsOf(const fs::path& file, const LogRange& range, const SessionIdIndex& index,
                                      TextArena& arena) {
    std::vector<Attachment> found;
    LogLineReader reader(file);
    std::string_view line;
    while (reader.next(line)) {
        auto fields = ApiLine(line).leadingFields<ApiLog::kApiName + 1>();
        std::string_view stamp = fields[ApiLog::kStamp];
        std::string_view sessionId = fields[ApiLog::kSessionId];
        if (std::ranges::find(kTransferApis, fields[ApiLog::kApiName]) == std::end(kTransferApis) ||
            stamp < range.firstStamp || stamp > range.lastStamp || sessionId.empty())
            continue;
        if (auto i = index.find(sessionId)) found.push_back(Attachment(*i, arena.store(line)));
    }
    return found;
}

} // namespace

// The daily files are read on every processor, a file at a time: each
// thread stores the lines it keeps in an arena of its own, and the files'
// results are taken in date order, so the records are those of reading the
// files one after the other.
class LogLoader {
public:
    static LogRecords load(const LogSettings& folders, const LogFilter& filter) {
        LogRange range = rangeOf(filter);
        LogRecords records;
        std::vector<TextArena> arenas(usableProcessors());
        readSessions(records, dailyLogs(folders.sessionLogLocation, kSessionLogPrefix, range), filter.kind, arenas);
        if (!records.sessions_.empty())
            attachApiLines(records, dailyLogs(folders.apiLogLocation, kApiLogPrefix, range), range, arenas);
        for (TextArena& arena : arenas) records.text_.adopt(std::move(arena));
        return records;
    }

private:
    static void readSessions(LogRecords& records, const std::vector<fs::path>& files, LogKind kind,
                             std::vector<TextArena>& arenas) {
        auto& sessions = records.sessions_;
        InFileOrder<std::vector<std::string_view>> join(files.size(), [&sessions](std::vector<std::string_view>& kept) {
            const std::size_t take = std::min(kept.size(), kMaxSessions - sessions.size());
            sessions.insert(sessions.end(), kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(take));
        });
        runChunks(files.size(), arenas.size(), [&](std::size_t file, std::size_t worker) {
            join.done(file, keptSessions(files[file], kind, arenas[worker]));
        });
    }

    static void attachApiLines(LogRecords& records, const std::vector<fs::path>& files, const LogRange& range,
                               std::vector<TextArena>& arenas) {
        auto& apis = records.apis_;
        apis.assign(records.sessions_.size(), std::string_view{});
        SessionIdIndex index(records.sessions_);
        // A later line replaces an earlier one.
        InFileOrder<std::vector<Attachment>> join(files.size(), [&apis](std::vector<Attachment>& found) {
            for (const Attachment& a : found) apis[a.session] = {a.line, a.size};
        });
        runChunks(files.size(), arenas.size(), [&](std::size_t file, std::size_t worker) {
            join.done(file, attachmentsOf(files[file], range, index, arenas[worker]));
        });
    }
};

LogRecords loadLogRecords(const LogSettings& folders, const LogFilter& filter) {
    return LogLoader::load(folders, filter);
}

} // namespace plx
