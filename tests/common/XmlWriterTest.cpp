#include "common/XmlWriter.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "tests/TestSupport.h"

using namespace plx;
using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(XmlWriter, WritesElementsInCallOrder) {
    TempDir dir;
    auto path = dir / "msg.xml";
    std::string content;
    {
        XmlWriter w;
        ASSERT_TRUE(w.open(path));
        w.writeStartTagWithAttribute("SOAP-ENV:Envelope", "xmlns:SOAP-ENV",
                                     "\"http://schemas.xmlsoap.org/soap/envelope/\"");
        w.writeStartTag("Body");
        w.writeElement("ResultCode", "00");
        w.writeElement("Empty", "");
        w.writeEndTag("Body");
        w.writeEndTag("SOAP-ENV:Envelope");
        w.close();
        content = readFile(path);
    }
    EXPECT_EQ(content, "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><Body>"
                       "<ResultCode>00</ResultCode><Empty></Empty></Body></SOAP-ENV:Envelope>");
    // The file lives only as long as the writer.
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(XmlWriter, TextCannotOpenElementsOfItsOwn) {
    TempDir dir;
    XmlWriter w;
    ASSERT_TRUE(w.open(dir / "m.xml"));
    w.writeElement("TerminalID", "T1</TerminalID><ResultCode>00");
    w.writeElement("DataFileName", "a&b>c");
    w.close();
    EXPECT_EQ(
        readFile(w.path()),
        "<TerminalID>T1&lt;/TerminalID&gt;&lt;ResultCode&gt;00</TerminalID><DataFileName>a&amp;b&gt;c</DataFileName>");
}

TEST(XmlWriter, FileElementsCopyWholeFilesOrNothing) {
    TempDir dir;
    std::string body;
    for (int i = 0; i < 3 * 1024; ++i) body += static_cast<char>('A' + i % 26);
    writeFile(dir / "body.b64", body);
    XmlWriter w;
    ASSERT_TRUE(w.open(dir / "m.xml"));
    w.writeFileElement("Entity", dir / "body.b64");
    w.writeFileElement("Missing", dir / "nope");
    writeFile(dir / "empty", "");
    w.writeFileElement("E", dir / "empty");
    w.close();
    EXPECT_EQ(readFile(w.path()), "<Entity>" + body + "</Entity><E></E>");
}

TEST(XmlWriter, FailuresAreReported) {
    TempDir dir;
    XmlWriter never;
    EXPECT_FALSE(never.open(dir / "missing" / "m.xml"));
    EXPECT_THROW(never.writeStartTag("x"), std::system_error);
    EXPECT_TRUE(never.path().empty());

    // A file that cannot grow: the write fails with EFBIG instead of a signal.
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 16;
    ::setrlimit(RLIMIT_FSIZE, &small);
    XmlWriter full;
    ASSERT_TRUE(full.open(dir / "full.xml"));
    EXPECT_THROW(full.writeElement("A", std::string(100, 'b')), std::system_error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
}
