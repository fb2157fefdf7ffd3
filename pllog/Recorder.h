#pragma once
// What each export does: clean up expired logs, build the line, copy it to
// the journal when asked, append it to the day's file.

#include <cstdint>
#include <string_view>

#include "pllog/ApiRecord.h"
#include "pllog/SessionRecord.h"

namespace plx {

// type 0: no journal entry. Throws when the line cannot be written.
void recordApiCall(std::int16_t type, const ApiCall& call);
void recordSession(std::int16_t type, const SessionSummary& session);
// A journal entry only.
void recordProcessInfo(std::string_view text);

} // namespace plx
