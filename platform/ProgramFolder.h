#pragma once
// The folder the programs keep their ini files in, and the root the
// system-wide files are installed under.

#include <filesystem>

namespace plx {

// PLX_HOME when set and non-empty, else the folder of the running program
// (/proc/self/exe). Empty when neither can be found.
std::filesystem::path programFolder();
// The same for another program file (a copy running elsewhere acts for it).
std::filesystem::path programFolder(const std::filesystem::path& program);

// The folder of the running program itself, whatever PLX_HOME says; empty
// when it cannot be found.
std::filesystem::path executableFolder();

// Where bus activation and policy files, units and the journal catalog go:
// PLX_INSTALL_ROOT when set and non-empty (tests, staged installs), else "/".
std::filesystem::path installRoot();

} // namespace plx
