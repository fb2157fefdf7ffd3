#include "platform/FileTime.h"

#include <gtest/gtest.h>
#include <time.h>

#include "tests/TestSupport.h"

using namespace plx;

namespace {

class ZoneTest : public ::testing::Test {
protected:
    void useZone(const char* zone) {
        env_ = std::make_unique<test::ScopedEnv>("TZ", zone);
        ::tzset();
    }
    void TearDown() override {
        env_.reset();
        ::tzset();
    }

private:
    std::unique_ptr<test::ScopedEnv> env_;
};

} // namespace

TEST(FileTimeBasics, UnixEpochAndDays) {
    EXPECT_EQ(FileTime::fromUnix(0).ticks, 116444736000000000ULL);
    EXPECT_EQ(FileTime::fromUnix(0).toUnixSeconds(), 0);
    EXPECT_EQ(FileTime::fromUnix(-FileTime::kUnixEpochSeconds - 5).ticks, 0u); // before 1601
    FileTime t{1000};
    EXPECT_EQ(t.plusDaysCapped(2).ticks, 1000 + 2 * 864'000'000'000ULL);
    EXPECT_EQ(t.plusDaysCapped(-1).ticks, 0u);
    // Years of days never wrap past the no-expiry mark.
    EXPECT_EQ(t.plusDaysCapped(2147483647).ticks, FileTime::kNoExpiry);
    EXPECT_EQ(FileTime{FileTime::kNoExpiry - 10}.plusDaysCapped(1).ticks, FileTime::kNoExpiry);
}

TEST(FileTimeBasics, CalendarChecks) {
    EXPECT_TRUE(isValidDateTime({2024, 2, 29, 23, 59, 59}));
    EXPECT_FALSE(isValidDateTime({2023, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(isValidDateTime({2024, 2, 30, 0, 0, 0}));
    EXPECT_FALSE(isValidDateTime({2024, 13, 1, 0, 0, 0}));
    EXPECT_FALSE(isValidDateTime({2024, 1, 1, 24, 0, 0}));
    EXPECT_FALSE(isValidDateTime({2024, 1, 1, 0, 60, 0}));
    EXPECT_FALSE(isValidDateTime({1600, 12, 31, 0, 0, 0}));
    EXPECT_FALSE(isValidDateTime({30828, 1, 1, 0, 0, 0}));
    EXPECT_TRUE(isValidDateTime({2100, 2, 28, 0, 0, 0}));
    EXPECT_FALSE(isValidDateTime({2100, 2, 29, 0, 0, 0}));
    int y, m, d;
    for (std::int64_t day : {-135140LL, -1LL, 0LL, 19782LL, 2932896LL}) {
        civilFromDays(day, y, m, d);
        EXPECT_EQ(daysFromCivil(y, m, d), day);
    }
    EXPECT_EQ(daysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(daysFromCivil(2000, 3, 1), 11017);
}

TEST_F(ZoneTest, LocalConversionsInTokyo) {
    useZone("Asia/Tokyo");
    auto ft = fromLocal({2024, 3, 1, 9, 5, 7});
    ASSERT_TRUE(ft);
    EXPECT_EQ(ft->toUnixSeconds(), 1709251507); // 2024-03-01 00:05:07 UTC
    EXPECT_EQ(toLocal(*ft), (LocalDateTime{2024, 3, 1, 9, 5, 7}));
    EXPECT_FALSE(fromLocal({2024, 2, 30, 0, 0, 0}));
}

TEST_F(ZoneTest, DaylightSavingIsApplied) {
    useZone("America/New_York");
    auto winter = fromLocal({2024, 1, 15, 12, 0, 0});
    auto summer = fromLocal({2024, 7, 15, 12, 0, 0});
    ASSERT_TRUE(winter && summer);
    EXPECT_EQ(winter->toUnixSeconds() % 86400, 17 * 3600);
    EXPECT_EQ(summer->toUnixSeconds() % 86400, 16 * 3600);
    EXPECT_EQ(toLocal(*summer), (LocalDateTime{2024, 7, 15, 12, 0, 0}));
}
