#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/DateText.h"
#include "common/LogBridge.h"
#include "tests/pllog/LogFolders.h"

using namespace plx;
using test::LogFolders;
using test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string dateDaysAgo(int days) {
    auto now = *localNow();
    int y, m, d;
    civilFromDays(daysFromCivil(now.year, now.month, now.day) - days, y, m, d);
    return formatDate({y, m, d, 0, 0, 0});
}

class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder) : old_(fs::current_path()) { fs::current_path(folder); }
    ~WorkingFolder() { fs::current_path(old_); }

private:
    fs::path old_;
};

void logBoth() {
    EXPECT_EQ(callLogAPI(0, 0, 0, "", "", "PLSendData", ""), 1);
    EXPECT_EQ(callSessionAPI({.transferKind = 10, .phase = 11}), 1);
}

} // namespace

TEST(PllogFiles, NoFolderSettingWritesNoFile) {
    test::ScopedHome home;
    TempDir work;
    WorkingFolder cwd(work.path());
    logBoth(); // no plconfig.ini at all
    test::writeFile(home / "plconfig.ini", "[apilog]\nlocation=\n[sessionlog]\nlocation=\n");
    logBoth();
    EXPECT_TRUE(fs::is_empty(work.path()));
    EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), {}), 1);
}

TEST(PllogFiles, ExpiredLogsGoBeforeEachRecord) {
    LogFolders logs("days=3\n", "days=3\n");
    fs::path oldApi = logs.api / ("plapi" + dateDaysAgo(10) + ".log");
    fs::path keptApi = logs.api / ("plapi" + dateDaysAgo(2) + ".log");
    fs::path oldSession = logs.session / ("plsession" + dateDaysAgo(3) + ".log");
    for (const auto& file : {oldApi, keptApi, oldSession}) test::writeFile(file, "old\n");

    ASSERT_EQ(callLogAPI(0, 0, 0, "", "", "PLSendData", ""), 1);
    EXPECT_FALSE(fs::exists(oldApi));
    EXPECT_TRUE(fs::exists(keptApi));
    EXPECT_FALSE(fs::exists(oldSession));
    EXPECT_TRUE(fs::exists(logs.api / ("plapi" + dateDaysAgo(0) + ".log")) ||
                fs::exists(logs.api / ("plapi" + dateDaysAgo(-1) + ".log")));

    test::writeFile(oldSession, "old\n");
    ASSERT_EQ(callSessionAPI({.transferKind = 10, .phase = 11}), 1);
    EXPECT_FALSE(fs::exists(oldSession));
}

TEST(PllogFiles, LogsAreNotWorldReadable) {
    LogFolders logs;
    logBoth();
    for (const auto& folder : {logs.api.path(), logs.session.path()}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            struct stat st {};
            ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0137, 0u) << entry.path();
        }
    }
}
