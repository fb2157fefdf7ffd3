#include "platform/Utf8.h"

#include <gtest/gtest.h>

using namespace plx;

TEST(Utf8, TruncateNeverSplitsACharacter) {
    std::string text = "ab\xE3\x81\x82\xE3\x81\x84"; // "ab" + two 3-byte characters
    EXPECT_EQ(utf8Truncate(text, 100), text);
    EXPECT_EQ(utf8Truncate(text, 5), "ab\xE3\x81\x82");
    EXPECT_EQ(utf8Truncate(text, 4), "ab");
    EXPECT_EQ(utf8Truncate(text, 2), "ab");
    EXPECT_EQ(utf8Truncate(text, 0), "");
    // Invalid bytes count as single characters.
    EXPECT_EQ(utf8Truncate("a\xFF\xFE"
                           "b",
                           2),
              "a\xFF");
    // By characters: the same unit as utf8Length.
    EXPECT_EQ(utf8TruncateCharacters(text, 3), "ab\xE3\x81\x82");
    EXPECT_EQ(utf8TruncateCharacters(text, 4), text);
    EXPECT_EQ(utf8TruncateCharacters(text, 0), "");
    EXPECT_EQ(utf8TruncateCharacters("a\xFF\xFE"
                                     "b",
                                     3),
              "a\xFF\xFE");
}

TEST(Utf8, ValidatesAndSanitises) {
    EXPECT_TRUE(isValidUtf8("plain \xE6\x97\xA5\xE6\x9C\xAC"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));     // overlong "/"
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_FALSE(isValidUtf8("\xE3\x81"));     // cut short
    EXPECT_EQ(utf8Sanitize("a\xFF"
                           "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf8Length("ab\xE3\x81\x82"), 3u);
    EXPECT_EQ(utf8Length("\xFF\xFE"), 2u);
    EXPECT_EQ(utf8Length(""), 0u);
}

TEST(Utf8, AsciiCaseHelpers) {
    EXPECT_TRUE(equalsIgnoreCase("Keep-Alive", "keep-alive"));
    EXPECT_FALSE(equalsIgnoreCase("keep", "keep-alive"));
    EXPECT_EQ(toUpperAscii("host.example\xE3\x81\x82"), "HOST.EXAMPLE\xE3\x81\x82");
}
