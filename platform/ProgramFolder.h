#pragma once
// The folder the programs keep their ini files in.

#include <filesystem>

namespace plx {

// PLX_HOME when set and non-empty, else the folder of the running program
// (/proc/self/exe). Empty when neither can be found.
std::filesystem::path programFolder();
// The same for another program file (a copy running elsewhere acts for it).
std::filesystem::path programFolder(const std::filesystem::path& program);

} // namespace plx
