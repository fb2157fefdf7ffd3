#include "common/LogRetention.h"

#include <gtest/gtest.h>

#include "common/DateText.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::ScopedHome;
using test::TempDir;
using test::writeFile;

namespace {

std::string dateDaysAgo(int days) {
    auto now = *localNow();
    int y, m, d;
    civilFromDays(daysFromCivil(now.year, now.month, now.day) - days, y, m, d);
    return formatDate({y, m, d, 0, 0, 0});
}

} // namespace

TEST(LogRetention, DaysSinceEpoch) {
    EXPECT_EQ(daysSinceEpoch("19700101"), 0);
    EXPECT_EQ(daysSinceEpoch("20000301"), 11017);
    EXPECT_EQ(daysSinceEpoch("20240230"), -1);
    EXPECT_EQ(daysSinceEpoch("2024010"), -1);
    EXPECT_EQ(daysSinceEpoch("2024O101"), -1);
}

TEST(LogRetention, DeletesDatedLogsPastTheirDays) {
    ScopedHome home;
    TempDir api, session;
    writeFile(home / "plconfig.ini", "[sessionlog]\nlocation=" + session.path().string() +
                                         "\ndays=7\n[apilog]\nlocation=" + api.path().string() + "\ndays=1\n");
    for (int age : {0, 6, 7, 40, 400}) writeFile(session / ("plsession" + dateDaysAgo(age) + ".log"), "x");
    for (int age : {0, 1}) writeFile(api / ("plapi" + dateDaysAgo(age) + ".log"), "x");
    // Names that cannot be dated are never touched.
    for (const char* name : {"plsessionX.log", "plsession20230230.log", "plsession2020010.log",
                             "plsession20200101.log.bak", "other20200101.log"})
        writeFile(session / name, "x");
    std::filesystem::create_directory(session / ("plsession" + dateDaysAgo(30) + ".log"));

    deleteExpiredLogs();

    EXPECT_TRUE(std::filesystem::exists(session / ("plsession" + dateDaysAgo(0) + ".log")));
    EXPECT_TRUE(std::filesystem::exists(session / ("plsession" + dateDaysAgo(6) + ".log")));
    EXPECT_FALSE(std::filesystem::exists(session / ("plsession" + dateDaysAgo(7) + ".log")));
    EXPECT_FALSE(std::filesystem::exists(session / ("plsession" + dateDaysAgo(40) + ".log")));
    EXPECT_FALSE(std::filesystem::exists(session / ("plsession" + dateDaysAgo(400) + ".log")));
    EXPECT_TRUE(std::filesystem::exists(api / ("plapi" + dateDaysAgo(0) + ".log")));
    EXPECT_FALSE(std::filesystem::exists(api / ("plapi" + dateDaysAgo(1) + ".log")));
    for (const char* name : {"plsessionX.log", "plsession20230230.log", "plsession2020010.log",
                             "plsession20200101.log.bak", "other20200101.log"})
        EXPECT_TRUE(std::filesystem::exists(session / name)) << name;
    EXPECT_TRUE(std::filesystem::is_directory(session / ("plsession" + dateDaysAgo(30) + ".log")));
}

TEST(LogRetention, NothingGoesWithoutDaysOrFolder) {
    ScopedHome home;
    TempDir session;
    auto old = session / ("plsession" + dateDaysAgo(100) + ".log");
    writeFile(old, "x");
    writeFile(home / "plconfig.ini", "[sessionlog]\nlocation=" + session.path().string() + "\ndays=0\n");
    deleteExpiredLogs();
    writeFile(home / "plconfig.ini", "[sessionlog]\nlocation=" + session.path().string() + "\n");
    deleteExpiredLogs();
    EXPECT_TRUE(std::filesystem::exists(old));
    // An empty folder setting never means the working folder or "/".
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(session.path());
    writeFile(home / "plconfig.ini", "[sessionlog]\nlocation=\ndays=1\n");
    deleteExpiredLogs();
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(std::filesystem::exists(old));
}
