#pragma once
// The daily log lines as the logging library writes them and the client reads
// them back: comma-separated fields, nothing quoted, in this order.

#include <cstddef>
#include <cstdint>

namespace plx {

// plsessionYYYYMMDD.log: one line per finished conversation.
struct SessionLog {
    // How the conversation ended (the record's type) and how bad that is
    // (its level).
    enum Outcome : std::int16_t { kNormalEnd = 0, kAbnormalEnd = 1, kWarning = 2 };
    enum Level : std::int32_t { kLevelNormal = 0, kLevelWarning = 1, kLevelError = 2 };
    // Who started the conversation and what it moved.
    enum TransferKind : std::int32_t {
        kTerminalReceive = 10,
        kTerminalSend = 20,
        kCenterDelivery = 30, // the center puts a file to the terminal
        kCenterFetch = 40,    // the center gets a file from the terminal
        kRegistration = 50,   // the terminal's certificate
    };
    // The kinds that move a file from the terminal to the center, and those
    // that move one the other way.
    static constexpr TransferKind kSendKinds[] = {kTerminalSend, kCenterFetch};
    static constexpr TransferKind kReceiveKinds[] = {kTerminalReceive, kCenterDelivery};
    // The message kind (phase) at which a conversation ended: each
    // exchange's request, and one above it its reply; 0 after a normal end.
    enum Phase : std::int32_t {
        kEnded = 0,
        kAuthRequest = 10,
        kAuthReply = 11,
        kFileRequest = 20,
        kFileReply = 21,
        kReportRequest = 30,
        kReportReply = 31,
        kLogged = 32, // the gateway's conversation, once its record is written
    };

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
    // The event a record raises besides its line.
    enum EventType : std::int16_t { kNoEvent = 0, kErrorEvent = 1, kWarningEvent = 2 };
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
    // The longest line, in bytes without its line end: longer ones are cut
    // at a character boundary, so a call with huge arguments costs the log
    // no more than this.
    static constexpr std::size_t kLineLimit = 5119;
};

} // namespace plx
