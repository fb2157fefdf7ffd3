#pragma once
// Writers of the center conversation's SOAP messages: RequestAuthentication,
// GetFile, PutFile and ReportStatus with their replies, element by element in
// their fixed order.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/OutgoingMessage.h"
#include "common/XmlWriter.h"

namespace plx {

inline constexpr const char* kSoapEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char* kMessageNamespace = "http://pelorin.korvane.example/2001/DRAFT";
inline constexpr const char* kCookieName = "ZORVANTIKE";

struct SoapHeader {
    std::string time;
    std::string terminalId;
    std::string targetTerminalId;
    std::string sessionId;
    bool withSessionId = true; // left out of some successful replies
};

struct AuthenticationRequest {
    SoapHeader header;
    std::string password;
    std::string protocolVersion;
    std::string serviceNo;
    std::string protocolFileName;
    std::string accessKey;
    std::string resendFlag;
    std::string dataFileName;
    std::string fileLoadNo;
    std::string fileRecordKey;
};

struct AuthenticationResponse {
    std::string resultCode;
    SoapHeader header;
    std::string dataFileName;
    std::string fileLoadNo;
    std::string fileRecordKey;
};

// The Base64 text of a body, produced while the message is sent.
struct EntityText {
    std::uint64_t size = 0;
    OutgoingMessage::Producer produce;
};

// The File element; entityText produces the Base64 text of the body.
struct FileElement {
    std::string length;
    std::string recordLength;
    std::string recordNumber;
    std::string recordFlag;
    std::string compressFlag;
    std::string md5;
    EntityText entityText;
};

// The record length as the File element carries it: variable length (-1) as 1.
std::int32_t writtenRecordLength(std::int32_t recordLength);
// Records of recordLength bytes (negative: variable, counted as 1) needed
// for size bytes, a remainder counting as one more; 0 for a record length
// of 0.
std::int64_t recordCount(std::int64_t size, std::int32_t recordLength);

// Opens and closes the envelope, the body and the method element.
void writeEnvelopeStart(XmlWriter& w, const std::string& method);
void writeEnvelopeEnd(XmlWriter& w, const std::string& method);
void writeSoapHeader(XmlWriter& w, const SoapHeader& header);

void writeRequestAuthentication(XmlWriter& w, const AuthenticationRequest& request);
void writeRequestAuthenticationResponse(XmlWriter& w, const AuthenticationResponse& response);
void writeGetFile(XmlWriter& w, const std::string& resultCode, const SoapHeader& header);
// file null: a refusal, with empty File elements and an empty FileRecord.
void writeGetFileResponse(XmlWriter& w, const std::string& resultCode, const SoapHeader& header,
                          const FileElement* file);
void writePutFile(XmlWriter& w, const std::string& resultCode, const SoapHeader& header, const FileElement& file);
void writePutFileResponse(XmlWriter& w, const std::string& resultCode, const SoapHeader& header);
void writeReportStatus(XmlWriter& w, const std::string& resultCode, const SoapHeader& header);
// A message of any method name holding only ResultCode and Header.
void writeResultMessage(XmlWriter& w, const std::string& method, const std::string& resultCode,
                        const SoapHeader& header);

} // namespace plx
