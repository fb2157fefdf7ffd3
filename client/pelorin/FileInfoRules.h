#pragma once
// The data-kind dialog's input check of one entry of the settings dialog's
// working list, in a fixed order, each rule with its message and the field
// the focus goes to. Value ranges and lengths are the service's to check
// (see api/FileDefinitionRules.h), when the settings are saved.

#include <cstddef>
#include <optional>
#include <string>

#include "client/DataKinds.h"

namespace plx::pelorin {

struct FileInfoInput {
    std::string fileType;
    std::string dataName;
    std::string serviceNo;
    std::string protocolFilename;
    std::string accessKey;
    std::string recordLength;
    std::string clientFileName;
};

enum class FileInfoField { FileType, DataName, ServiceNo, ProtocolFilename, AccessKey, RecordLength, ClientFileName };

struct FileInfoFault {
    FileInfoField field;
    std::string message;
};

// The first rule input breaks as entry index of working (an index equal to
// working.size() is a new entry). Another entry with the same FileType,
// compared without regard to ASCII case (ini sections are), or with the
// same DataName, compared exactly, is refused. A number is an optional
// sign and decimal digits within 32 bits. The client file's name (after
// its last "/") keeps the service's file-name limit.
std::optional<FileInfoFault> validateFileInfo(const FileInfoInput& input, const DataKindTable& working,
                                              std::size_t index);

} // namespace plx::pelorin
