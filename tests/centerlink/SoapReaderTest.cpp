#include "centerlink/SoapReader.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

using namespace plx;
using test::TempDir;
using test::writeFile;

namespace {

const std::string kReply =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap-env:body>"
    "<requestauthenticationRESPONSE xmlns=\"http://x/2001/DRAFT\"><ResultCode>0</ResultCode>"
    "<Header><Time>2024/03/01 09:05.07</Time><SessionID>S&amp;1</SessionID></Header>"
    "<FileRecord><DataFileName>受信.dat</DataFileName><FileLoadNo></FileLoadNo></FileRecord>"
    "</requestauthenticationRESPONSE></soap-env:body></SOAP-ENV:Envelope>";

} // namespace

TEST(SoapReader, NamesMatchInAnyCaseAndTextsComeBackDecoded) {
    TempDir dir;
    writeFile(dir / "reply.xml", kReply);
    SoapDocument doc = SoapDocument::parseFile(dir / "reply.xml");
    auto response = doc.method({"RequestAuthenticationResponse"});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->childText("resultcode"), "0");
    EXPECT_EQ(response->child("Header")->childText("SessionID"), "S&1");
    EXPECT_EQ(response->child("FileRecord")->childText("DataFileName"), "受信.dat");
    EXPECT_EQ(response->child("FileRecord")->childText("FileLoadNo"), "");
    EXPECT_EQ(response->child("FileRecord")->childText("FileRecordKey"), ""); // missing reads as empty
    EXPECT_FALSE(doc.method({"PutFileResponse"}));
}

TEST(SoapReader, NothingFromOutsideTheDocument) {
    TempDir dir;
    writeFile(dir / "secret", "TOPSECRET");
    writeFile(dir / "xxe.xml", "<!DOCTYPE r [<!ENTITY e SYSTEM \"file://" + (dir / "secret").string() +
                                   "\">]><r><SOAP-ENV:Body><M><SessionID>&e;</SessionID></M></SOAP-ENV:Body></r>");
    EXPECT_THROW(SoapDocument::parseFile(dir / "xxe.xml"), SoapParseError);
    writeFile(dir / "bomb.xml",
              "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]><r>&b;</r>");
    EXPECT_THROW(SoapDocument::parseFile(dir / "bomb.xml"), SoapParseError);
    writeFile(dir / "plain-doctype.xml", "<!DOCTYPE r><r/>");
    EXPECT_THROW(SoapDocument::parseFile(dir / "plain-doctype.xml"), SoapParseError);
}

TEST(SoapReader, BrokenOrOversizedInputIsRefused) {
    TempDir dir;
    writeFile(dir / "broken.xml", "<a><b></a>");
    EXPECT_THROW(SoapDocument::parseFile(dir / "broken.xml"), SoapParseError);
    writeFile(dir / "big.xml", "<a>" + std::string(5000, 'x') + "</a>");
    EXPECT_THROW(SoapDocument::parseFile(dir / "big.xml", 1000), SoapParseError);
    EXPECT_NO_THROW(SoapDocument::parseFile(dir / "big.xml", 10000));
    EXPECT_THROW(SoapDocument::parseFile(dir / "missing.xml"), SoapParseError);
    writeFile(dir / "sjis.xml", std::string("<a>\x83\x65</a>")); // undeclared Shift_JIS is not UTF-8
    EXPECT_THROW(SoapDocument::parseFile(dir / "sjis.xml"), SoapParseError);
}
