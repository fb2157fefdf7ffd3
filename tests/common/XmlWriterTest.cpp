#include "common/XmlWriter.h"

#include <gtest/gtest.h>
#include <stdexcept>

#include "tests/XmlText.h"

using namespace plx;
using test::xmlText;

TEST(XmlWriter, WritesElementsInCallOrder) {
    EXPECT_EQ(xmlText([](XmlWriter& w) {
                  w.writeStartTagWithAttribute("SOAP-ENV:Envelope", "xmlns:SOAP-ENV",
                                               "\"http://schemas.xmlsoap.org/soap/envelope/\"");
                  w.writeStartTag("Body");
                  w.writeElement("ResultCode", "00");
                  w.writeElement("Empty", "");
                  w.writeEndTag("Body");
                  w.writeEndTag("SOAP-ENV:Envelope");
              }),
              "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><Body>"
              "<ResultCode>00</ResultCode><Empty></Empty></Body></SOAP-ENV:Envelope>");
}

TEST(XmlWriter, TextCannotOpenElementsOfItsOwn) {
    EXPECT_EQ(xmlText([](XmlWriter& w) {
                  w.writeElement("TerminalID", "T1</TerminalID><ResultCode>00");
                  w.writeElement("DataFileName", "a&b>c");
              }),
              "<TerminalID>T1&lt;/TerminalID&gt;&lt;ResultCode&gt;00</TerminalID><DataFileName>a&amp;b&gt;c</"
              "DataFileName>");
}

TEST(XmlWriter, ProducedElementsComeWhereTheyWereWritten) {
    std::string body(3 * 1024, 'A');
    EXPECT_EQ(xmlText([&](XmlWriter& w) {
                  w.writeProducedElement("Entity", body.size(),
                                         [&](const ByteSink& sink) { return sink(body.data(), body.size()); });
                  w.writeElement("E", "");
              }),
              "<Entity>" + body + "</Entity><E></E>");
}

TEST(XmlWriter, WritingBeforeOpenIsRefused) {
    XmlWriter never;
    EXPECT_THROW(never.writeStartTag("x"), std::logic_error);
}
