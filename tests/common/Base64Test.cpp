#include "common/Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

#include "tests/TestSupport.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

using test::randomData;
using test::readFile;
using test::TempDir;
using test::writeFile;

constexpr std::size_t kBlock = 12288;

std::string withoutPadding(std::string text) {
    while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

// Decodes text through a real file; nullopt when the decoder refuses it.
std::optional<std::string> decodeText(const TempDir& dir, std::string_view text) {
    writeFile(dir / "in.b64", text);
    if (!decodeFileBase64(dir / "in.b64", dir / "out.bin")) return std::nullopt;
    return readFile(dir / "out.bin");
}

TEST(Base64Encode, ShortInputsArePaddedToWholeGroups) {
    EXPECT_EQ(encodeBase64(""), "");
    EXPECT_EQ(encodeBase64("A"), "QQ==");
    EXPECT_EQ(encodeBase64("AB"), "QUI=");
    EXPECT_EQ(encodeBase64("ABC"), "QUJD");
}

TEST(Base64Encode, MatchesKnownVectors) {
    EXPECT_EQ(encodeBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(encodeBase64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encodeBase64("Man is distinguished"), "TWFuIGlzIGRpc3Rpbmd1aXNoZWQ=");
    // High bits and the last two alphabet characters.
    EXPECT_EQ(encodeBase64(std::string("\xFF\xFE\xFD", 3)), "//79");
    EXPECT_EQ(encodeBase64(std::string("\xFB\xEF\xBE", 3)), "++++");
    EXPECT_EQ(encodeBase64(std::string("\0\0\0\0", 4)), "AAAAAA==");
}

TEST(Base64Encode, NeverBreaksLines) {
    const std::string text = encodeBase64(randomData(5000, 1));
    EXPECT_EQ(text.size(), (5000 + 2) / 3 * 4);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
}

class Base64FileRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Base64FileRoundTrip, EncodesLikeTextAndDecodesBack) {
    TempDir dir;
    const std::string original = randomData(GetParam(), static_cast<unsigned>(GetParam()));
    writeFile(dir / "plain", original);

    ASSERT_TRUE(encodeFileBase64(dir / "plain", dir / "text"));
    EXPECT_EQ(readFile(dir / "text"), encodeBase64(original));

    ASSERT_TRUE(decodeFileBase64(dir / "text", dir / "back"));
    EXPECT_EQ(readFile(dir / "back"), original);
}

INSTANTIATE_TEST_SUITE_P(Base64BlockEdges, Base64FileRoundTrip,
                         ::testing::Values(0, 1, 2, 3, kBlock - 1, kBlock, kBlock + 1, 300000 + 7));

TEST(Base64FileEncode, TruncatesAnExistingDestination) {
    TempDir dir;
    writeFile(dir / "plain", "AB");
    writeFile(dir / "text", std::string(100, 'x'));
    ASSERT_TRUE(encodeFileBase64(dir / "plain", dir / "text"));
    EXPECT_EQ(readFile(dir / "text"), "QUI=");
}

TEST(Base64FileEncode, FailsWhenAFileCannotBeOpened) {
    TempDir dir;
    EXPECT_FALSE(encodeFileBase64(dir / "missing", dir / "text"));
    EXPECT_FALSE(std::filesystem::exists(dir / "text"));
    writeFile(dir / "plain", "abc");
    EXPECT_FALSE(encodeFileBase64(dir / "plain", dir / "no-such-folder" / "text"));
    EXPECT_FALSE(encodeFileBase64(dir.path(), dir / "text")); // a folder cannot be read
}

TEST(Base64Decode, PaddedAndUnpaddedEndings) {
    TempDir dir;
    EXPECT_EQ(decodeText(dir, "QQ=="), "A");
    EXPECT_EQ(decodeText(dir, "QUI="), "AB");
    EXPECT_EQ(decodeText(dir, "QUI"), "AB");
    EXPECT_EQ(decodeText(dir, "QQ"), "A");
    EXPECT_EQ(decodeText(dir, "QUJD"), "ABC");
    // A lone sextet carries no whole byte.
    EXPECT_EQ(decodeText(dir, "QUJDR"), "ABC");
    EXPECT_EQ(decodeText(dir, ""), "");
    EXPECT_EQ(decodeText(dir, "Zm9vYmFy"), "foobar");
    EXPECT_EQ(decodeText(dir, "//79"), std::string("\xFF\xFE\xFD", 3));
}

TEST(Base64Decode, PadEndsTheData) {
    TempDir dir;
    EXPECT_EQ(decodeText(dir, "QQ==QUJD"), "A");
    EXPECT_EQ(decodeText(dir, "QUI=!!not base64!!"), "AB");
    EXPECT_EQ(decodeText(dir, "="), "");
    EXPECT_EQ(decodeText(dir, "QQ=\n"), "A");
    // Text after the pad is not read on in later blocks either.
    EXPECT_EQ(decodeText(dir, "QQ==" + encodeBase64(randomData(30000, 2))), "A");
}

TEST(Base64Decode, SkipsBlanksAndLineBreaks) {
    TempDir dir;
    EXPECT_EQ(decodeText(dir, " Q\tU\r\nJ D \r\n"), "ABC");
    EXPECT_EQ(decodeText(dir, "\r\n\r\n"), "");
    EXPECT_EQ(decodeText(dir, "QUJ D"), "ABC");
    EXPECT_EQ(decodeText(dir, "QUJDQ UJD"), "ABCABC");

    // MIME-style text: CRLF every 76 characters.
    const std::string original = randomData(100000, 7);
    const std::string flat = encodeBase64(original);
    std::string wrapped;
    for (std::size_t i = 0; i < flat.size(); i += 76) wrapped += flat.substr(i, 76) + "\r\n";
    EXPECT_EQ(decodeText(dir, wrapped), original);
}

// A line break and a partial group falling across the edge between two
// read blocks, for text of 12288, 12289 and 12292 characters.
TEST(Base64Decode, CarriesGroupsAcrossBlockEdges) {
    TempDir dir;
    for (std::size_t byteCount : {9214u, 9215u, 9217u}) {
        const std::string original = randomData(byteCount, static_cast<unsigned>(byteCount));
        const std::string text = withoutPadding(encodeBase64(original));
        ASSERT_TRUE(text.size() + 2 == kBlock || text.size() + 2 == kBlock + 1 || text.size() + 2 == kBlock + 4);
        for (std::size_t at = kBlock - 5; at <= std::min(kBlock + 1, text.size()); ++at) {
            SCOPED_TRACE("bytes " + std::to_string(byteCount) + ", CRLF at " + std::to_string(at));
            std::string broken = text;
            broken.insert(at, "\r\n");
            EXPECT_EQ(decodeText(dir, broken), original);
        }
    }
}

TEST(Base64Decode, RejectsBytesOutsideTheAlphabet) {
    TempDir dir;
    EXPECT_EQ(decodeText(dir, "QU!I"), std::nullopt);
    EXPECT_EQ(decodeText(dir, "QUI-"), std::nullopt);       // URL-safe alphabet is not accepted
    EXPECT_EQ(decodeText(dir, "QU\xC3\xA9"), std::nullopt); // bytes above 0x7F
    EXPECT_EQ(decodeText(dir, std::string("QU\0I", 4)), std::nullopt);
    EXPECT_EQ(decodeText(dir, "QUJD\vQUJD"), std::nullopt); // only blank, tab, CR, LF are skipped

    // Deep in the second block, after output has already been written.
    std::string text = encodeBase64(randomData(30000, 3));
    text[kBlock + 100] = '*';
    EXPECT_EQ(decodeText(dir, text), std::nullopt);
}

TEST(Base64Decode, FailsWhenAFileCannotBeOpened) {
    TempDir dir;
    EXPECT_FALSE(decodeFileBase64(dir / "missing", dir / "out"));
    writeFile(dir / "in", "QUJD");
    EXPECT_FALSE(decodeFileBase64(dir / "in", dir / "no-such-folder" / "out"));
    EXPECT_FALSE(decodeFileBase64(dir.path(), dir / "out"));
}

// /dev/full accepts the open and fails every write, as a full disk would.
TEST(Base64Files, ReportWriteFailures) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    writeFile(dir / "plain", "abc");
    EXPECT_FALSE(encodeFileBase64(dir / "plain", "/dev/full"));
    writeFile(dir / "text", "QUJD");
    EXPECT_FALSE(decodeFileBase64(dir / "text", "/dev/full"));
}

} // namespace
} // namespace plx
