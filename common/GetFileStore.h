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
// 0, or an errno value when the entry cannot be written.
int writeGetFileEntry(const GetFileEntry& entry);

} // namespace plx
