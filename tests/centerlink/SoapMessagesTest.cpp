#include "centerlink/SoapMessages.h"

#include <gtest/gtest.h>

#include "tests/XmlText.h"

using namespace plx;
using test::xmlText;

namespace {

const std::string kOpen =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>";
const std::string kNs = " xmlns=\"http://pelorin.korvane.example/2001/DRAFT\">";
const std::string kClose = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

} // namespace

TEST(SoapMessages, AuthenticationRequestInItsFixedOrder) {
    AuthenticationRequest r;
    r.header = {"2024/03/01 09:05.07", "T0001", "C0001", "", true};
    r.password = "pw&1";
    r.protocolVersion = "1.0";
    r.serviceNo = "12";
    r.protocolFileName = "PF";
    r.accessKey = "AK";
    r.resendFlag = "0";
    EXPECT_EQ(xmlText([&](XmlWriter& w) { writeRequestAuthentication(w, r); }),
              kOpen + "<RequestAuthentication" + kNs +
                  "<Header><Time>2024/03/01 09:05.07</Time><TerminalID>T0001</TerminalID>"
                  "<TargetTerminalID>C0001</TargetTerminalID><SessionID></SessionID></Header>"
                  "<Authenticate><Password>pw&amp;1</Password><ProtocolVersion>1.0</ProtocolVersion>"
                  "<ServiceNo>12</ServiceNo></Authenticate>"
                  "<FileInfo><ProtocolFileName>PF</ProtocolFileName><AccessKey>AK</AccessKey><ResendFlag>0</"
                  "ResendFlag></FileInfo>"
                  "<FileRecord><DataFileName></DataFileName><FileLoadNo></FileLoadNo><FileRecordKey></FileRecordKey></"
                  "FileRecord>"
                  "</RequestAuthentication>" +
                  kClose);
}

TEST(SoapMessages, FileMessagesCarryTheEntity) {
    std::string entity = "QUJD";
    FileElement f{
        "3", "1", "3", "1", "0", "902fbdd2b1df0c4f70b4a5d23525e932", {entity.size(), [&](const ByteSink& sink) {
                                                                          return sink(entity.data(), entity.size());
                                                                      }}};
    SoapHeader h{"20240301090507", "T1", "C1", "S1", true};
    EXPECT_EQ(
        xmlText([&](XmlWriter& w) { writePutFile(w, "0", h, f); }),
        kOpen + "<PutFile" + kNs +
            "<ResultCode>0</ResultCode>"
            "<Header><Time>20240301090507</Time><TerminalID>T1</TerminalID><TargetTerminalID>C1</TargetTerminalID>"
            "<SessionID>S1</SessionID></Header>"
            "<File><Length>3</Length><RecordLength>1</RecordLength><RecordNumber>3</RecordNumber><RecordFlag>1</"
            "RecordFlag>"
            "<CompressFlag>0</CompressFlag><MD5>902fbdd2b1df0c4f70b4a5d23525e932</MD5><Entity>QUJD</Entity></File>"
            "</PutFile>" +
            kClose);

    // A refusal has empty File elements and an empty FileRecord.
    h.withSessionId = true;
    std::string refusal = xmlText([&](XmlWriter& w) { writeGetFileResponse(w, "99", h, nullptr); });
    EXPECT_NE(refusal.find("<File><Length></Length><RecordLength></RecordLength><RecordNumber></RecordNumber>"
                           "<RecordFlag></RecordFlag><CompressFlag></CompressFlag><MD5></MD5><Entity></Entity></File>"
                           "<FileRecord><FileLoadNo></FileLoadNo><FileRecordKey></FileRecordKey></FileRecord>"),
              std::string::npos);
}

TEST(SoapMessages, ShortRepliesAndTheSessionIdRule) {
    SoapHeader h{"20240301090507", "T1", "C1", "", false};
    EXPECT_EQ(xmlText([&](XmlWriter& w) { writeReportStatus(w, "0", h); }),
              kOpen + "<ReportStatus" + kNs +
                  "<ResultCode>0</ResultCode><Header><Time>20240301090507</Time>"
                  "<TerminalID>T1</TerminalID><TargetTerminalID>C1</TargetTerminalID></Header></ReportStatus>" +
                  kClose);
}
