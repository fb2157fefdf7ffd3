#include "common/EntityExtraction.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "common/Base64.h"
#include "tests/TestSupport.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

namespace fs = std::filesystem;
using test::randomData;
using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                          "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                          "<soap:Body><PutFile><Name>report.bin</Name><Entity type=\"base64\">";
const std::string kTail = "</Entity></PutFile></soap:Body></soap:Envelope>\r\n";

std::string wrapLines(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 76) out += text.substr(i, 76) + "\r\n";
    return out;
}

fs::path withSuffix(const fs::path& path, const char* suffix) {
    fs::path out = path;
    out += suffix;
    return out;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// Checks a successful extraction: the body went to F.dat, and F now holds
// head + the escaped .dat path + tail.
void expectExtracted(const fs::path& message, const std::string& head, const std::string& body,
                     const std::string& tail) {
    const auto data = extractEntity(message);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(*data, withSuffix(message, ".dat"));
    EXPECT_EQ(readFile(*data), body);
    EXPECT_EQ(readFile(message), head + escaped(data->string()) + tail);
    EXPECT_FALSE(fs::exists(withSuffix(message, ".tmp1")));
}

// Checks a refused extraction: F untouched, no companion files.
void expectRefused(const fs::path& message) {
    const std::string before = readFile(message);
    EXPECT_EQ(extractEntity(message), std::nullopt);
    EXPECT_EQ(readFile(message), before);
    EXPECT_FALSE(fs::exists(withSuffix(message, ".dat")));
    EXPECT_FALSE(fs::exists(withSuffix(message, ".tmp1")));
}

TEST(EntityExtraction, SmallMessageRoundTrip) {
    TempDir dir;
    const std::string body = randomData(900, 1);
    writeFile(dir / "msg.xml", kHead + wrapLines(encodeBase64(body)) + kTail);
    expectExtracted(dir / "msg.xml", kHead, body, kTail);
}

TEST(EntityExtraction, EscapesTheDataPathInTheRewrittenMessage) {
    TempDir dir;
    fs::create_directory(dir / "in&out<1>");
    const fs::path message = dir / "in&out<1>" / "msg.xml";
    writeFile(message, kHead + encodeBase64("hello") + kTail);
    expectExtracted(message, kHead, "hello", kTail);
    EXPECT_NE(readFile(message).find("in&amp;out&lt;1&gt;"), std::string::npos);
}

TEST(EntityExtraction, LargeMessageStreamsTheBody) {
    TempDir dir;
    const std::string body = randomData(1024 * 1024 + 5, 2);
    writeFile(dir / "msg.xml", kHead + wrapLines(encodeBase64(body)) + kTail);
    expectExtracted(dir / "msg.xml", kHead, body, kTail);
}

// Around 2048 bytes the closing tag is found in the first read block or in
// a separate read of the end of the file.
TEST(EntityExtraction, MessageSizesAroundTheTagWindow) {
    TempDir dir;
    const std::string body = "some payload";
    const std::string text = encodeBase64(body);
    const std::size_t bare = kHead.size() + text.size() + kTail.size();
    for (std::size_t size : {2046u, 2047u, 2048u, 2049u, 4093u, 4094u, 4095u}) {
        SCOPED_TRACE("size " + std::to_string(size));
        ASSERT_LT(bare, size);
        // Blanks inside the body stretch the file without changing the data.
        const std::string padded = text + std::string(size - bare, ' ');
        writeFile(dir / "msg.xml", kHead + padded + kTail);
        expectExtracted(dir / "msg.xml", kHead, body, kTail);
    }
}

TEST(EntityExtraction, EmptyEntityGivesAnEmptyDataFile) {
    TempDir dir;
    const std::string head = "<a><Entity>";
    const std::string tail = "</Entity></a>";
    writeFile(dir / "msg.xml", head + tail);
    expectExtracted(dir / "msg.xml", head, "", tail);
}

TEST(EntityExtraction, TextAfterPaddingIsIgnored) {
    TempDir dir;
    writeFile(dir / "msg.xml", kHead + "QQ==\r\n  " + kTail);
    expectExtracted(dir / "msg.xml", kHead, "A", kTail);
}

TEST(EntityExtraction, RefusesTagsOutOfReach) {
    TempDir dir;
    const fs::path message = dir / "msg.xml";
    const std::string body = encodeBase64("data");

    // Start tag beginning after the first 2047 bytes.
    writeFile(message, "<a>" + std::string(2100, ' ') + "<Entity>" + body + kTail);
    expectRefused(message);

    // Start tag cut by the end of the first 2047 bytes.
    writeFile(message, "<a>" + std::string(2041, ' ') + "<Entity>" + body + kTail);
    expectRefused(message);

    // Its ">" beyond the first 2047 bytes.
    writeFile(message, "<a><Entity note=\"" + std::string(2100, 'x') + "\">" + body + kTail);
    expectRefused(message);

    // No start tag at all.
    writeFile(message, "<a><Other>" + body + "</Other></a>");
    expectRefused(message);
}

TEST(EntityExtraction, RefusesAMissingClosingTag) {
    TempDir dir;
    const fs::path message = dir / "msg.xml";
    writeFile(message, kHead + encodeBase64("short"));
    expectRefused(message);
    writeFile(message, kHead + wrapLines(encodeBase64(randomData(50000, 3))));
    expectRefused(message);
}

// A tail longer than the window puts a later closing tag first in reach, so
// the "body" holds markup and cannot decode (unpadded text: "=" would end
// the data before the markup).
TEST(EntityExtraction, RefusesATailLongerThanTheWindow) {
    TempDir dir;
    const fs::path message = dir / "msg.xml";
    const std::string longTail = "</Entity><Note>" + std::string(3000, 'n') + "</Note></a>";
    writeFile(message, kHead + wrapLines(encodeBase64(randomData(9999, 4))) + longTail);
    expectRefused(message);
}

// The end window holds the last 2047 bytes: a tail of exactly that length is
// found whole, one byte more and its closing tag is out of reach.
TEST(EntityExtraction, TailAtTheEdgeOfTheWindow) {
    TempDir dir;
    const fs::path message = dir / "msg.xml";
    const std::string body = randomData(3000, 6);
    const auto tailOf = [](std::size_t size) {
        const std::string open = "</Entity><Pad>", close = "</Pad></a>";
        return open + std::string(size - open.size() - close.size(), 'p') + close;
    };
    writeFile(message, kHead + encodeBase64(body) + tailOf(2047));
    expectExtracted(message, kHead, body, tailOf(2047));

    writeFile(message, kHead + encodeBase64(body) + tailOf(2048));
    expectRefused(message);
}

TEST(EntityExtraction, RefusesTextThatIsNotBase64) {
    TempDir dir;
    const fs::path message = dir / "msg.xml";
    writeFile(message, kHead + "not base64 at all!" + kTail);
    expectRefused(message);

    // A bad byte far into a large body, after much of F.dat has been written.
    std::string text = wrapLines(encodeBase64(randomData(600000, 5)));
    text[text.size() - 100] = '#';
    writeFile(message, kHead + text + kTail);
    expectRefused(message);
}

TEST(EntityExtraction, ReplacesStaleCompanionFiles) {
    TempDir dir;
    const fs::path message = dir / "msg.xml";
    writeFile(withSuffix(message, ".dat"), std::string(5000, 'o'));
    writeFile(message, kHead + encodeBase64("fresh") + kTail);
    expectExtracted(message, kHead, "fresh", kTail);
}

TEST(EntityExtraction, RefusesAMissingFile) {
    TempDir dir;
    EXPECT_EQ(extractEntity(dir / "missing.xml"), std::nullopt);
    EXPECT_FALSE(fs::exists(dir / "missing.xml.dat"));
}

} // namespace
} // namespace plx
