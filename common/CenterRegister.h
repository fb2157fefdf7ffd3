#pragma once
// plcenter.ini: files staged for the center and files it delivered.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileTime.h"

namespace plx {

enum CenterStatus : std::int32_t {
    kStatusWaiting = 1,
    kStatusDone = 2,
    kStatusInProgress = 3,
    kStatusPickedUp = 4,
};
enum SendRecvFlag : std::int32_t { kDirectionSend = 1, kDirectionRecv = 2 };

struct CenterRecord {
    std::string sectionName;    // "<FileType>,<data file path>"
    std::string svDataFilename; // at most 64 characters
    std::int32_t limitDays = -1;
    std::int32_t sendRecvFlag = -1;
    std::int32_t status = -1;
    std::string clDataFilename;
    std::string clDataDirectory;
    std::string fileLoadNo;
    std::string fileRecordKey;
    // While an append to the data file is in progress (status 3): its size
    // before the append, which the start-up repair cuts it back to; -1
    // otherwise. Stored only while it is 0 or more.
    std::int64_t appendBase = -1;
    // Derived on reading:
    FileTime fileTime;         // last write of the data file
    FileTime expiryTime;       // fileTime + limitDays, or FileTime::kNoExpiry
    std::string tempFilePath;  // section name after the first comma
    std::string tempFileName;  // its last path element
    std::int64_t fileSize = 0; // 0 when the data file cannot be read
    std::string fileType;      // section name before the first comma, at most 5 characters
};

std::filesystem::path centerIniPath();
// A section is named by the data kind and the data file's path: "<FileType>,<path>".
std::string makeSectionName(std::string_view fileType, std::string_view dataFilePath);
// The data kind of a section name: all of it before the first ",".
std::string_view sectionKind(std::string_view sectionName);

// Every section of plcenter.ini in file order; empty when it is missing or empty.
std::vector<CenterRecord> loadCenterRecords();
// Writes the eight stored keys of the record's section (and appendBase
// while it is set). Throws on failure
// (a value the ini format cannot carry, a file that cannot be written).
void writeCenterRecord(const CenterRecord& record);
void deleteCenterRecord(std::string_view sectionName);
// Sets the status of an existing section under the register lock. False,
// with nothing written, when plcenter.ini or the section is not there (an
// entry deleted meanwhile stays deleted); throws when the write fails.
bool updateCenterStatus(const std::string& sectionName, std::int32_t status);
// Start-up repair of entries left behind by cut-off conversations. The file
// is written only when an entry changes; throws when that write fails.
void recoverCenterRecords();

} // namespace plx
