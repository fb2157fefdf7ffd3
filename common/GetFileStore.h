#pragma once
// plgetfile.ini: load number and record key of every received file.

#include <filesystem>
#include <string>
#include <vector>

namespace plx {

struct GetFileEntry {
    std::string sectionName;
    std::string fileLoadNo;
    std::string fileRecordKey;
};

std::filesystem::path getFileIniPath();
// Every section of plgetfile.ini; creates an empty file when there is none.
std::vector<GetFileEntry> loadGetFileEntries();
// Adds or replaces entry's section. Throws std::system_error when the file
// cannot be read or written, IniFormatError for a value it cannot carry.
void writeGetFileEntry(const GetFileEntry& entry);

} // namespace plx
