#pragma once
// The service's way to libPLlog.so: every record loads the library, calls
// one export and unloads it again. A missing library or export costs the
// record and nothing else, and a replaced library is used from the next
// record on.

#include <cstdint>
#include <string>
#include <string_view>

#include "api/ApiRecords.h"

namespace plx {

// PLX_PLLOG_LIBRARY when set and non-empty, else libPLlog.so in the folder
// of the running program.
std::string logLibraryPath();

// Each returns 0 when the library cannot be loaded, 1 otherwise (also when
// the export is missing and nothing was called).

// One API log record: type 0 none, 1 error, 2 warning event; code and detail
// are the method's error pair; argumentLine its arguments joined with commas.
int callLogAPI(std::int16_t type, std::int32_t code, std::int32_t detail, std::string_view message,
               std::string_view sessionId, std::string_view apiName, std::string_view argumentLine);

// One session record: a finished conversation with the center.
struct SessionRecord {
    std::int16_t type = 0;       // 0 normal end, 1 abnormal end, 2 warning
    std::int32_t level = 0;      // 0, 1 or 2
    std::string_view start = {}; // fourteen digits each
    std::string_view end = {};
    std::int32_t transferKind = 0;
    std::int32_t phase = 0;      // the message kind at which it ended
    std::int32_t resultCode = 0; // the session result
    std::int32_t detail = 0;     // reaches the log only with result code 1
    std::string_view sessionId = {};
    const TerminalRec* terminal = nullptr; // either record may be null
    const FileRec* file = nullptr;
    std::string_view centerFileName = {};
    std::string_view loadNo = {};
    std::string_view recordKey = {};
};

int callSessionAPI(const SessionRecord& record);

} // namespace plx
