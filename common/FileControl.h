#pragma once
// Temporary files, deletion, small reads, sizes, times and MD5 digests.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/FileTime.h"
#include "platform/TempFile.h"

namespace plx {

inline constexpr const char* kTempPrefix = "@zv";

// A new "@zv….tmp" file in folder (the system temporary folder when
// empty), kept open: written through the descriptor that made it and
// removed when it goes. Throws std::system_error when it cannot be made.
OpenTempFile makeOpenTempFile(const std::filesystem::path& folder = {});

// Deletes every regular "@zv*" file of folder (the system temporary folder
// when empty), except the data files that plcenter.ini still names: what a
// run that was cut off left behind. Returns the count deleted.
int purgeTempFiles(const std::filesystem::path& folder = {});

// True when path is a regular "@zv" file directly inside the configured
// temporary folder: the only kind of stored path the service deletes.
bool isOwnTempFile(const std::filesystem::path& path, const std::filesystem::path& tempFolder);
// Deletes path when isOwnTempFile says so (with tempFolder from plconfig.ini).
bool deleteStoredFile(const std::filesystem::path& path);

// Cuts path back to size when isOwnTempFile says so and it is longer; true
// when it then has at most that size.
bool truncateStoredFile(const std::filesystem::path& path, std::int64_t size);

// True when path was deleted; false when it is missing or cannot be
// deleted (a directory, say).
bool forceDeleteFile(const std::filesystem::path& path);

// false (size 0) for a missing file or one that cannot be opened.
bool queryFileSize(const std::filesystem::path& path, std::int64_t& size);
bool getFileWriteTime(const std::filesystem::path& path, FileTime& out);
// 32 lower-case hex digits; empty when the file cannot be read.
std::string getFileMD5(const std::filesystem::path& path);

// The name a received or picked-up file gets in its folder: the one the
// caller asked for; else the center's when it is a plain file name; else
// empty, for a new "@zv" name given when the file is put in place.
std::string chooseTargetName(std::string_view requested, std::string_view centerName);

} // namespace plx
