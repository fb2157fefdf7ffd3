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

// One session record; the detail reaches the log only with result code 1,
// otherwise 0 is written. Either record may be null.
int callSessionAPI(std::int16_t type, std::int32_t level, std::string_view start, std::string_view end,
                   std::int32_t transferKind, std::int32_t phase, std::int32_t resultCode, std::int32_t detail,
                   std::string_view sessionId, const TerminalRec* term, const FileRec* file, std::int32_t reserved,
                   std::string_view centerFileName, std::string_view loadNo, std::string_view recordKey);

// One information entry in the journal.
int callLogPrint(std::string_view text);

} // namespace plx
