#pragma once
// The daily log lines as the logging library writes them and the client reads
// them back: comma-separated fields, nothing quoted, in this order.

#include <cstddef>

namespace plx {

// plsessionYYYYMMDD.log: one line per finished conversation.
struct SessionLog {
    enum Field : std::size_t {
        kLevel,
        kStart,
        kEnd,
        kTransferKind,
        kPhase,
        kResultCode,
        kDetail,
        kCenterHost,
        kCenterId,
        kSessionId,
        kPassword,
        kProtocolVersion,
        kServiceNo,
        kProtocolFilename,
        kAccessKey,
        kCenterFileName,
        kRecordLength,
        kRecordCount,
        kFileSize,
        kCompress,
        kRecordFormat,
        kLoadNo,
        kRecordKey,
        kFieldCount
    };
};

// plapiYYYYMMDD.log: one line per API call. The argument list is the last
// field and may hold commas of its own; a reader keeps its first nine pieces,
// the ninth holding the rest of the line.
struct ApiLog {
    enum Field : std::size_t {
        kStamp,
        kCode,
        kDetail,
        kMessage,
        kSessionId,
        kApiName,
        kFirstArgument,
        kFieldCount = kFirstArgument + 9
    };
};

} // namespace plx
