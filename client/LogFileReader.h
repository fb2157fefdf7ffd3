#pragma once
// The log viewer's reader: the session records of a range of days from the
// daily session logs, each with the API record of the PLSendData or
// PLRecvData call that belongs to it.
//
// Nothing about the files is reported: a missing folder, a file that cannot
// be opened or read simply gives fewer records. The records keep the lines'
// bytes in a few large blocks and hand out fields as views into them; a
// year of logs fits in less memory than its files take on disk.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "api/LogLayout.h"
#include "client/ClientIni.h"
#include "client/LogLine.h"
#include "client/LogLineReader.h"
#include "client/TextArena.h"

namespace plx {

// A session log line (fields as SessionLog::Field) and an API log line
// (fields as ApiLog::Field, the last holding the rest of the argument list).
using SessionLine = LogLineView<SessionLog::kFieldCount>;
using ApiLine = LogLineView<ApiLog::kFieldCount>;

// Which sessions to load, by transfer kind: Send keeps the terminal- and
// center-started collections (20, 40), Receive the deliveries (10, 30), All
// every line (certificate registrations and lines without a kind too).
enum class LogKind { Send, Receive, All };

struct LogFilter {
    // A date "yyyy/m/d" and a time "H:mm" or "H:mm:ss" (see DateTimeText.h);
    // any of them may be empty. An empty start date loads from the first
    // file, an empty end date up to the last. An end time without seconds
    // takes in its whole minute.
    std::string dateFrom{};
    std::string timeFrom{};
    std::string dateTo{};
    std::string timeTo{};
    LogKind kind = LogKind::All;
};

class LogRecords {
public:
    LogRecords() = default;
    LogRecords(LogRecords&&) = default;
    LogRecords& operator=(LogRecords&&) = default;

    std::size_t sessionCount() const { return sessions_.size(); }
    // i < sessionCount(). Views into this object: valid while it lives.
    SessionLine session(std::size_t i) const { return SessionLine(sessions_[i]); }
    // The API line attached to session i; every field "" when there is none.
    ApiLine api(std::size_t i) const { return ApiLine(apis_[i]); }
    bool hasApi(std::size_t i) const { return !apis_[i].empty(); }

private:
    friend class LogLoader;

    TextArena text_;
    std::vector<std::string_view> sessions_;
    std::vector<std::string_view> apis_; // parallel to sessions_
};

// Reads the session logs plsessionYYYYMMDD.log of folders.sessionLogLocation
// whose date lies in the filter's day range, in date order, and keeps every
// line of them that the kind admits, in file order (a line is cut at
// kMaxLogLineBytes, see LogLineReader.h). Then reads the API logs
// plapiYYYYMMDD.log of folders.apiLogLocation of the same days and attaches
// each PLSendData or PLRecvData line stamped inside the filter's range to
// the first session record with its session id; a later such line replaces
// an earlier one. An empty folder text reads no files.
//
// Throws std::invalid_argument when a non-empty date or time of the filter
// is not valid, before reading anything; std::bad_alloc when memory runs
// out. Holds no shared state: may run on any thread. The days are read on
// threads of its own, one per processor.
LogRecords loadLogRecords(const LogSettings& folders, const LogFilter& filter);

} // namespace plx
