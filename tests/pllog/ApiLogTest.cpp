#include <filesystem>
#include <gtest/gtest.h>

#include "common/LogBridge.h"
#include "platform/Utf8.h"
#include "tests/pllog/LogFolders.h"

using namespace plx;
using test::LogFolders;
using test::onlyRecord;

TEST(PllogApiLog, WritesTheRecordFieldByField) {
    LogFolders logs;
    ASSERT_EQ(callLogAPI(0, 4, 2, "引数が不正です", "S001", "PLSendData", "A01,/data/x.dat,0"), 1);

    auto f = onlyRecord(logs.apiLines());
    ASSERT_EQ(f.size(), 9u);
    ASSERT_EQ(f[0].size(), 14u);
    EXPECT_EQ(f[0].find_first_not_of("0123456789"), std::string::npos);
    // The stamp and the file name come from one reading of the clock.
    EXPECT_TRUE(std::filesystem::exists(logs.api / ("plapi" + f[0].substr(0, 8) + ".log")));
    EXPECT_EQ(std::vector<std::string>(f.begin() + 1, f.end()),
              (std::vector<std::string>{"4", "2", "引数が不正です", "S001", "PLSendData", "A01", "/data/x.dat", "0"}));

    ASSERT_EQ(callLogAPI(1, -100, 0, "", "", "", ""), 1);
    auto lines = logs.apiLines();
    ASSERT_EQ(lines.size(), 2u);
    auto g = test::splitFields(lines[1]);
    EXPECT_EQ(std::vector<std::string>(g.begin() + 1, g.end()),
              (std::vector<std::string>{"-100", "0", "", "", "", ""}));
}

TEST(PllogApiLog, ValuesCannotForgeRecords) {
    LogFolders logs;
    std::string longArgument(3000, 'a');
    ASSERT_EQ(
        callLogAPI(0, 0, 0, "bad\r\n20240101000000,0,0,x", "s,1\xff", "PL\nX", "one,two\r\nthree," + longArgument), 1);

    auto lines = logs.apiLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(isValidUtf8(lines[0]));
    auto f = test::splitFields(lines[0]);
    ASSERT_EQ(f.size(), 9u);
    EXPECT_EQ(f[3], "bad  20240101000000 0 0 x");
    EXPECT_EQ(f[4], "s 1\uFFFD");
    EXPECT_EQ(f[5], "PL X");
    // The argument line keeps its commas and loses its line breaks.
    EXPECT_EQ(f[6], "one");
    EXPECT_EQ(f[7], "two  three");
    EXPECT_EQ(f[8], longArgument);
}

// A line holds at most 5,119 bytes, however big the arguments: cut at a
// character boundary, never inside one.
TEST(PllogApiLog, ALineIsCutAtItsLimitOnACharacterBoundary) {
    LogFolders logs;
    std::string huge(10 << 20, 'a');
    for (int i = 0; i < 17; ++i)
        ASSERT_EQ(callLogAPI(1, 4, 3, "ファイル名が64桁を超えました", "", "PLSendData", huge), 1);
    auto lines = logs.apiLines();
    ASSERT_EQ(lines.size(), 17u);
    for (const std::string& line : lines) EXPECT_EQ(line.size(), 5119u);
    EXPECT_LT(std::filesystem::file_size(logs.api / ("plapi" + lines[0].substr(0, 8) + ".log")), 17u * 5120u + 1);
    auto f = test::splitFields(lines[0]);
    EXPECT_EQ(f[3], "ファイル名が64桁を超えました");
    EXPECT_EQ(f[6], huge.substr(0, f[6].size()));

    // Three-byte characters across the limit: the last whole one stays.
    std::string kana;
    for (int i = 0; i < 2000; ++i) kana += "あ";
    ASSERT_EQ(callLogAPI(0, 0, 0, "", "", "PLSetData", kana), 1);
    std::string line = logs.apiLines().back();
    EXPECT_TRUE(isValidUtf8(line));
    EXPECT_LE(line.size(), 5119u);
    EXPECT_GT(line.size(), 5119u - 3);
    std::string prefix = line.substr(0, line.rfind(',') + 1);
    EXPECT_EQ((line.size() - prefix.size()) % 3, 0u);
    EXPECT_EQ(line.substr(prefix.size()), kana.substr(0, line.size() - prefix.size()));
}
