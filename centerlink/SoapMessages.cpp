#include "centerlink/SoapMessages.h"

namespace plx {

namespace {

std::string quoted(const char* text) { return std::string("\"") + text + "\""; }

void writeFileElement(XmlWriter& w, const FileElement& f) {
    w.writeStartTag("File");
    w.writeElement("Length", f.length);
    w.writeElement("RecordLength", f.recordLength);
    w.writeElement("RecordNumber", f.recordNumber);
    w.writeElement("RecordFlag", f.recordFlag);
    w.writeElement("CompressFlag", f.compressFlag);
    w.writeElement("MD5", f.md5);
    w.writeProducedElement("Entity", f.entityText.size, f.entityText.produce);
    w.writeEndTag("File");
}

} // namespace

void writeEnvelopeStart(XmlWriter& w, const std::string& method) {
    w.writeStartTagWithAttribute("SOAP-ENV:Envelope", "xmlns:SOAP-ENV", quoted(kSoapEnvelopeNamespace));
    w.writeStartTag("SOAP-ENV:Body");
    w.writeStartTagWithAttribute(method, "xmlns", quoted(kMessageNamespace));
}

void writeEnvelopeEnd(XmlWriter& w, const std::string& method) {
    w.writeEndTag(method);
    w.writeEndTag("SOAP-ENV:Body");
    w.writeEndTag("SOAP-ENV:Envelope");
}

std::int32_t writtenRecordLength(std::int32_t recordLength) { return recordLength < 0 ? 1 : recordLength; }

std::int64_t recordCount(std::int64_t size, std::int32_t recordLength) {
    std::int64_t length = writtenRecordLength(recordLength);
    if (length == 0 || size <= 0) return 0; // never divide by a length of 0
    return (size + length - 1) / length;
}

void writeSoapHeader(XmlWriter& w, const SoapHeader& h) {
    w.writeStartTag("Header");
    w.writeElement("Time", h.time);
    w.writeElement("TerminalID", h.terminalId);
    w.writeElement("TargetTerminalID", h.targetTerminalId);
    if (h.withSessionId) w.writeElement("SessionID", h.sessionId);
    w.writeEndTag("Header");
}

void writeRequestAuthentication(XmlWriter& w, const AuthenticationRequest& r) {
    writeEnvelopeStart(w, "RequestAuthentication");
    writeSoapHeader(w, r.header);
    w.writeStartTag("Authenticate");
    w.writeElement("Password", r.password);
    w.writeElement("ProtocolVersion", r.protocolVersion);
    w.writeElement("ServiceNo", r.serviceNo);
    w.writeEndTag("Authenticate");
    w.writeStartTag("FileInfo");
    w.writeElement("ProtocolFileName", r.protocolFileName);
    w.writeElement("AccessKey", r.accessKey);
    w.writeElement("ResendFlag", r.resendFlag);
    w.writeEndTag("FileInfo");
    w.writeStartTag("FileRecord");
    w.writeElement("DataFileName", r.dataFileName);
    w.writeElement("FileLoadNo", r.fileLoadNo);
    w.writeElement("FileRecordKey", r.fileRecordKey);
    w.writeEndTag("FileRecord");
    writeEnvelopeEnd(w, "RequestAuthentication");
}

void writeRequestAuthenticationResponse(XmlWriter& w, const AuthenticationResponse& r) {
    writeEnvelopeStart(w, "RequestAuthenticationResponse");
    w.writeElement("ResultCode", r.resultCode);
    writeSoapHeader(w, r.header);
    w.writeStartTag("FileRecord");
    w.writeElement("DataFileName", r.dataFileName);
    w.writeElement("FileLoadNo", r.fileLoadNo);
    w.writeElement("FileRecordKey", r.fileRecordKey);
    w.writeEndTag("FileRecord");
    writeEnvelopeEnd(w, "RequestAuthenticationResponse");
}

void writeResultMessage(XmlWriter& w, const std::string& method, const std::string& resultCode,
                        const SoapHeader& header) {
    writeEnvelopeStart(w, method);
    w.writeElement("ResultCode", resultCode);
    writeSoapHeader(w, header);
    writeEnvelopeEnd(w, method);
}

void writeGetFile(XmlWriter& w, const std::string& resultCode, const SoapHeader& header) {
    writeResultMessage(w, "GetFile", resultCode, header);
}

void writeGetFileResponse(XmlWriter& w, const std::string& resultCode, const SoapHeader& header,
                          const FileElement* file) {
    writeEnvelopeStart(w, "GetFileResponse");
    w.writeElement("ResultCode", resultCode);
    writeSoapHeader(w, header);
    if (file) {
        writeFileElement(w, *file);
    } else {
        w.writeStartTag("File");
        for (const char* name :
             {"Length", "RecordLength", "RecordNumber", "RecordFlag", "CompressFlag", "MD5", "Entity"})
            w.writeElement(name, "");
        w.writeEndTag("File");
        w.writeStartTag("FileRecord");
        w.writeElement("FileLoadNo", "");
        w.writeElement("FileRecordKey", "");
        w.writeEndTag("FileRecord");
    }
    writeEnvelopeEnd(w, "GetFileResponse");
}

void writePutFile(XmlWriter& w, const std::string& resultCode, const SoapHeader& header, const FileElement& file) {
    writeEnvelopeStart(w, "PutFile");
    w.writeElement("ResultCode", resultCode);
    writeSoapHeader(w, header);
    writeFileElement(w, file);
    writeEnvelopeEnd(w, "PutFile");
}

void writePutFileResponse(XmlWriter& w, const std::string& resultCode, const SoapHeader& header) {
    writeResultMessage(w, "PutFileResponse", resultCode, header);
}

void writeReportStatus(XmlWriter& w, const std::string& resultCode, const SoapHeader& header) {
    writeResultMessage(w, "ReportStatus", resultCode, header);
}

} // namespace plx
