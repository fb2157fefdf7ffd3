#pragma once
// The session log line: one per finished conversation with the center,
// always 23 fields.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "api/TextLimits.h"
#include "common/PLlogAbi.h"

namespace plx {

struct SessionSummary {
    std::int32_t level = 0;
    std::string_view start;
    std::string_view end;
    std::int32_t transferKind = 0;
    std::int32_t phase = 0; // message kind at which the conversation ended
    std::int32_t resultCode = 0;
    std::int32_t detail = 0;
    std::string_view sessionId;
    const PLlogTerminalRec* term = nullptr; // may be null
    const PLlogFileRec* file = nullptr;     // may be null
    std::string_view centerFileName;
    std::string_view loadNo;
    std::string_view recordKey;
};

// The record without the line end. Neither record is changed.
std::string formatSessionRecord(const SessionSummary& session);

} // namespace plx
