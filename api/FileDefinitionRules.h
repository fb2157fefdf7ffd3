#pragma once
// What a data-kind definition must satisfy before the service stores it
// (PLSetFileInfo): one table of checks in the order they are made, shared
// with the client programs, which check a whole list before they change
// anything.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "api/ApiRecords.h"

namespace plx {

// Limits in characters, the same when written and when read back.
inline constexpr std::size_t kFileTypeLimit = 4;
inline constexpr std::size_t kDataNameLimit = 64;
inline constexpr std::size_t kProtocolFilenameLimit = 16;
inline constexpr std::size_t kAccessKeyLimit = 6;
inline constexpr std::size_t kUserDataLimit = 64;

// RecordLength: -1 variable length, 0 none, up to 4096 bytes.
inline constexpr std::int32_t kRecordLengthMin = -1;
inline constexpr std::int32_t kRecordLengthMax = 4096;

// A refused argument: its position in PLSetFileInfo (from 1) and the text.
struct ArgumentFault {
    std::int32_t position;
    std::string_view message;
    friend bool operator==(const ArgumentFault&, const ArgumentFault&) = default;
};

// The first check the definition fields of rec (FileType to UserData) fail.
std::optional<ArgumentFault> checkFileDefinition(const FileRec& rec);

} // namespace plx
