#pragma once
// Where the ini files and folders of the system are.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "api/TextLimits.h"
#include "platform/PathText.h" // joinPath

namespace plx {

// The program folder (see programFolder), as text without a final "/";
// empty when it cannot be found.
std::string getModuleFolder();

// programFolder()/fileName when that is a regular file.
std::optional<std::filesystem::path> findIniFile(std::string_view fileName);

// isFolder false: path is an existing file that is not a directory.
// isFolder true: path is a directory we can write into; a folder nobody may
// write to counts as missing, like a read-only folder.
bool pathExists(const std::filesystem::path& path, bool isFolder);

// A name a peer chose is used only when it is one plain entry of a folder:
// not empty, not "." or "..", no "/", no control characters, valid UTF-8,
// at most maxCharacters characters.
bool isPlainFileName(std::string_view name, std::size_t maxCharacters = kFileNameLimit);

} // namespace plx
