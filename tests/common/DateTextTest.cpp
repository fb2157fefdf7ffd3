#include "common/DateText.h"

#include <gtest/gtest.h>
#include <regex>
#include <time.h>

#include "tests/TestSupport.h"

using namespace plx;

namespace {

class DateTextTest : public ::testing::Test {
protected:
    void SetUp() override { useZone("Asia/Tokyo"); }
    void TearDown() override {
        zone_.reset();
        ::tzset();
    }
    void useZone(const char* zone) {
        zone_.reset();
        zone_ = std::make_unique<test::ScopedEnv>("TZ", zone);
        ::tzset();
    }

private:
    std::unique_ptr<test::ScopedEnv> zone_;
};

FileTime local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return *fromLocal({y, mo, d, h, mi, s}); }

} // namespace

TEST_F(DateTextTest, NowTextsHaveTheirFormats) {
    EXPECT_TRUE(std::regex_match(getNowStamp(), std::regex("[0-9]{14}")));
    EXPECT_TRUE(
        std::regex_match(getNowTimeText(), std::regex("[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}\\.[0-9]{2}")));
    EXPECT_EQ(formatTimeText({2024, 3, 1, 9, 5, 7}), "2024/03/01 09:05.07");
    EXPECT_EQ(formatStamp({2024, 3, 1, 9, 5, 7}), "20240301090507");
}

TEST_F(DateTextTest, StampTextsAreCheckedFieldByField) {
    FileTime ft;
    ASSERT_TRUE(dateTimeTextToFileTime("20240301090507", ft));
    EXPECT_EQ(ft, local(2024, 3, 1, 9, 5, 7));
    for (const char* bad : {"20240230120000", "2024030109050", "2024030109050a", "20240301240000", "20241301000000",
                            "20240301-10000", "202403010905070"}) {
        ft = FileTime{123};
        EXPECT_FALSE(dateTimeTextToFileTime(bad, ft)) << bad;
        EXPECT_EQ(ft.ticks, 0u) << bad;
    }
}

TEST_F(DateTextTest, DateTextsIgnoreTrailingCharacters) {
    FileTime ft;
    ASSERT_TRUE(dateTextToFileTime("20240101xyz", ft));
    EXPECT_EQ(ft, local(2024, 1, 1));
    EXPECT_FALSE(dateTextToFileTime("2024-1-1", ft));
    EXPECT_FALSE(dateTextToFileTime("2024010", ft));
    EXPECT_FALSE(dateTextToFileTime("20230229", ft));
    EXPECT_EQ(ft.ticks, 0u);
}

TEST_F(DateTextTest, TextsOfFileTimes) {
    std::string text;
    ASSERT_TRUE(fileTimeToDateTimeText(local(2024, 12, 31, 23, 59, 58), text));
    EXPECT_EQ(text, "20241231235958");
    ASSERT_TRUE(fileTimeToDateText(local(2024, 12, 31, 23, 59, 58), text));
    EXPECT_EQ(text, "20241231");
    // Past year 9999 the texts stay eight and fourteen digits long.
    ASSERT_TRUE(fileTimeToDateText(local(12000, 5, 5), text));
    EXPECT_EQ(text, "99991231");
    ASSERT_TRUE(fileTimeToDateTimeText(local(12000, 5, 5), text));
    EXPECT_EQ(text, "99991231235959");
    ASSERT_TRUE(fileTimeToDateText(FileTime{0x8000000000000000ULL}, text));
    EXPECT_EQ(text, "99991231");
    ASSERT_TRUE(fileTimeToDateText(FileTime{FileTime::kNoExpiry}, text));
    EXPECT_EQ(text, "99991229");
}

TEST_F(DateTextTest, StartOfDayPlusDays) {
    FileTime ft = local(2024, 2, 28, 23, 59, 0);
    startOfDayPlusDays(ft, 0);
    EXPECT_EQ(ft, local(2024, 2, 28));
    ft = local(2024, 2, 28, 23, 59, 0);
    startOfDayPlusDays(ft, 1);
    EXPECT_EQ(ft, local(2024, 2, 29));
    ft = local(2024, 3, 1, 0, 0, 0);
    startOfDayPlusDays(ft, -1);
    EXPECT_EQ(ft, local(2024, 2, 29));
    ft = local(2024, 3, 1);
    startOfDayPlusDays(ft, 2147483647LL);
    EXPECT_EQ(ft.ticks, FileTime::kNoExpiry);
}

TEST_F(DateTextTest, StartOfDayAcrossDaylightSaving) {
    useZone("America/New_York");
    // 2024-03-10 has 23 hours there: whole days are calendar days.
    FileTime ft = local(2024, 3, 9, 23, 59, 0);
    startOfDayPlusDays(ft, 1);
    EXPECT_EQ(ft, local(2024, 3, 10));
    ft = local(2024, 3, 9, 12, 0, 0);
    startOfDayPlusDays(ft, 2);
    EXPECT_EQ(ft, local(2024, 3, 11));
    std::string text;
    fileTimeToDateTimeText(ft, text);
    EXPECT_EQ(text, "20240311000000");
}

// 02:30 on 2024-03-10 never showed in New York: it was read as 03:30, an
// instant after the one of the later text 03:00.
TEST_F(DateTextTest, AStampTheSpringChangeSkippedIsTheChange) {
    useZone("America/New_York");
    FileTime skipped, change;
    ASSERT_TRUE(dateTimeTextToFileTime("20240310023000", skipped));
    ASSERT_TRUE(dateTimeTextToFileTime("20240310030000", change));
    EXPECT_EQ(skipped, change);
    EXPECT_EQ(change.toUnixSeconds(), 1710054000); // 07:00 UTC
}
