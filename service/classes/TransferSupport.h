#pragma once
// What the terminal-started transfers share: the settings check, one
// exchange of a conversation (message file, request, reply), the cookie,
// and the record count.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "centerlink/HttpClient.h"
#include "common/Settings.h"
#include "common/XmlWriter.h"
#include "platform/TempFile.h"

namespace plx {

// plconfig.ini with its three folders usable; otherwise throws
// ApiError(2, 2, the text naming what is wrong).
std::unique_ptr<Settings> loadCheckedSettings();

// One request and its reply.
struct ExchangeReply {
    enum Outcome { kBodyNotOpened, kSendFailed, kReceiveFailed, kDone } outcome = kSendFailed;
    std::string header;     // reply header text when kDone
    ScopedFileRemoval body; // reply body file when kDone
    int bodyOpenErrno = 0;  // when kBodyNotOpened
};

// Writes the message with write into a temporary file, wraps it into a
// POST to target (with the session cookie when given) and sends it on
// client, waiting firstByteTimeout seconds for the reply. The request files
// are gone when it returns.
ExchangeReply runExchange(HttpClient& client, const std::string& target, const std::optional<std::string>& cookieValue,
                          int firstByteTimeout, const std::function<void(XmlWriter&)>& write);

// The text for a conversation cut short: stopped by closing, or timed out.
std::string missingReplyMessage(const HttpClient& client);

// The session value of the reply's cookie header.
enum class CookieStatus { kOk, kMissing, kNoValue };
CookieStatus sessionCookie(const std::string& replyHeader, std::string& value);

// Records of recordLength bytes (negative: variable, counted as 1) needed
// for size bytes; 0 for a record length of 0.
std::int64_t recordCount(std::int64_t size, std::int32_t recordLength);
// The record length as the messages carry it: variable length as 1.
std::int32_t writtenRecordLength(std::int32_t recordLength);

} // namespace plx
