#pragma once
// The records of the service's API, as plain values. Fields keep their
// declared order: they travel field by field over the bus and to the log.

#include <cstdint>
#include <string>

namespace plx {

struct TerminalRec {
    std::string TerminalID;
    std::string CenterID;
    std::string CenterHost;
    std::string CenterURL;
    std::string Password;
    std::string ProtocolVersion;
    std::string ProxyServer;
    std::string ProxyUser;
    std::string ProxyPassword;

    friend bool operator==(const TerminalRec&, const TerminalRec&) = default;
};

struct FileRec {
    std::string FileType;
    std::string DataName;
    std::int32_t ServiceNo = 0;
    std::string ProtocolFilename;
    std::string AccessKey;
    std::int32_t RecordLength = 0;
    std::int32_t CompressID = 0;
    std::string UserData;
    std::string SvDataFilename;
    std::string ClTempFilename;
    std::string SetDateTime;
    std::int32_t FileSize = 0;
    std::string ClDataDirectory;
    std::string ClDataFilename;
    std::string LimitDate;
    std::int32_t Status = 0;

    friend bool operator==(const FileRec&, const FileRec&) = default;
};

// The search arguments of PLGetFileInfo: empty texts and 0 match anything;
// RecordLength also matches anything at -1.
struct FileInfoQuery {
    std::string FileType;
    std::int32_t ServiceNo = 0;
    std::string ProtocolFilename;
    std::string AccessKey;
    std::int32_t RecordLength = 0;
    std::int32_t CompressID = 0;
};

} // namespace plx
