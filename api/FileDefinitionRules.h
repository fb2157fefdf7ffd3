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
#include "api/ArgumentRules.h"

namespace plx {

// Limits in characters, the same when written and when read back
// (kFileTypeLimit in ArgumentRules.h).
inline constexpr std::size_t kDataNameLimit = 64;
inline constexpr std::size_t kProtocolFilenameLimit = 16;
inline constexpr std::size_t kAccessKeyLimit = 6;
inline constexpr std::size_t kUserDataLimit = 64;

// Texts that the data-kind search (PLGetFileInfo) shares with these checks.
inline constexpr std::string_view kBadServiceNoText = "不正な業務番号です";
inline constexpr std::string_view kProtocolFilenameTooLongText = "プロトコル上ファイル名が16桁を超えました";
inline constexpr std::string_view kAccessKeyTooLongText = "ファイルアクセスキーが6桁を超えました";
inline constexpr std::string_view kBadCompressIdText = "不正な圧縮区分です";

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
