#pragma once
// The two ini files of the client programs, in the program's folder
// (programFolder()): the log settings of plconfig.ini, which the service
// reads too, and plxapp.ini, the client data file and direction of each data
// kind in a section named by its FileType.
//
// Values are read and written whole. A missing or unreadable file, section
// or key reads as "". Every write either changes the file as asked or leaves
// it as it was and throws ClientIniError.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "client/DataKinds.h"

namespace plx {

class ClientIniError : public std::runtime_error {
public:
    ClientIniError(std::filesystem::path file, std::error_code code, const std::string& what);
    const std::filesystem::path& file() const { return file_; }
    // The system error (EACCES, ENOSPC, ...), or std::errc::invalid_argument
    // for a value or section name the file cannot hold (a line break, "]"
    // or an empty FileType).
    std::error_code code() const { return code_; }

private:
    std::filesystem::path file_;
    std::error_code code_;
};

// Texts as stored; nothing is converted or checked here.
struct LogSettings {
    std::string apiLogLocation;     // [apilog] location
    std::string apiLogDays;         // [apilog] days
    std::string sessionLogLocation; // [sessionlog] location
    std::string sessionLogDays;     // [sessionlog] days

    friend bool operator==(const LogSettings&, const LogSettings&) = default;
};

LogSettings readLogSettings();
// All four keys in one replace of the file; the file's other lines are kept.
void writeLogSettings(const LogSettings& settings);

// Throw the ClientIniError that writeLogSettings, or writeAppIni of kinds,
// would meet before writing (platform checkReplaceable); nothing is written.
void checkLogSettingsWritable();
void checkAppIniWritable(const DataKindTable& kinds);

// Sets the pair of every kind of the table from its section's "clfilename"
// and "sendrecv".
void readAppIni(DataKindTable& kinds);
// Writes the pair of every kind into its section, in one replace of the
// file. Sections of kinds not in the table stay. An empty table touches
// nothing.
void writeAppIni(const DataKindTable& kinds);

} // namespace plx
