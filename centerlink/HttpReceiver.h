#pragma once
// Receives one HTTP message (request or reply) from a connection: the header
// block into text, the body (Content-Length bytes) into a new temporary file
// or, as it arrives, to a BodyReader.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>

#include "centerlink/Connection.h"

namespace plx {

// Takes a message body in as it arrives, instead of a file of it.
class BodyReader {
public:
    virtual ~BodyReader() = default;
    // The header is whole; contentLength bytes follow. False refuses the body.
    virtual bool begin(std::int64_t contentLength) = 0;
    // The next bytes; false ends the receive as a failure to keep the body.
    virtual bool take(const char* data, std::size_t size) = 0;
    // Every byte is in: the file that stands for the body (the caller owns
    // it), empty when there is none.
    virtual std::filesystem::path finish() = 0;
    // Why begin(), take() or finish() failed, when a file could not be made
    // or written: the system error; else 0.
    virtual int fileError() const { return 0; }
};

struct ReceiveOptions {
    int firstByteTimeout = 0; // seconds for the first byte
    int readTimeout = 180;    // seconds for every other read
    int wholeTimeout = 0;     // seconds for the whole message from its first byte; 0: no limit
    std::size_t blockSize = 64 * 1024;
    std::size_t maxHeaderBytes = 64 * 1024;
    std::int64_t maxBodyBytes = std::numeric_limits<std::int32_t>::max();
    std::filesystem::path bodyFolder;    // empty: the system temporary folder
    std::function<bool()> stopRequested; // looked at before every read
    std::function<void(std::int64_t received, std::int64_t total)> onProgress;
    BodyReader* reader = nullptr; // takes the body instead of a file
};

enum class ReceiveStatus {
    Complete,
    Stopped,      // stopRequested said so, or a wait ended on the session event
    BadFirstByte, // nothing, or not the start of "HTTP/", "GET" or "POST"
    ReadFailed,   // closed, failed or timed out while reading
    BadHeader,    // too long, no usable Content-Length
    NoBodyFile,   // the body file could not be made or written, or the reader refused
};

struct ReceivedMessage {
    ReceiveStatus status = ReceiveStatus::ReadFailed;
    std::string headerText;         // the header block followed by "\n\n"
    std::filesystem::path bodyFile; // set when Complete; the caller owns the file
    std::int64_t contentLength = 0;
    int socketError = 0; // Winsock number at the failure
    int fileError = 0;   // with NoBodyFile: the system error, when there was one
};

ReceivedMessage receiveHttpMessage(Connection& connection, const ReceiveOptions& options);

// The code a message that did not come whole records: -100 when stopped,
// the socket error of a failed read, 0 for a first byte that never came
// (no socket fault) and for every other status.
int recordedReceiveError(const ReceivedMessage& message);

// Where the header block ends: the earlier of "\n\n" and "\r\n\r\n".
// Returns the block's length and the separator's; npos when not found.
std::size_t findHeaderEnd(std::string_view text, std::size_t& separatorLength);

} // namespace plx
