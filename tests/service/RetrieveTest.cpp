#include "service/classes/Retrieve.h"

#include <array>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/CenterRegister.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string kind;
    std::int32_t direction;
    std::int32_t status;
    std::string sv = "";
    std::string cl = "";
    LocalDateTime when = {2024, 3, 1, 10, 0, 0};
    std::int32_t limit = 0;
    std::string content = "data";
};

void setWriteTime(const fs::path& file, FileTime t) {
    timespec times[2] = {{t.toUnixSeconds(), 0}, {t.toUnixSeconds(), 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

class RetrieveTest : public ::testing::Test {
protected:
    test::ScopedHome home;
    test::ScopedEnv noLog{"PLX_PLLOG_LIBRARY", (home / "absent-libPLlog.so").string()};
    Retrieve retrieve{std::make_shared<Client>()};

    void SetUp() override {
        for (auto f : {"temp", "apilog", "sessionlog"}) fs::create_directory(home / f);
        test::writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + (home / "temp").string() +
                                                   "\n[apilog]\nlocation=" + (home / "apilog").string() +
                                                   "\n[sessionlog]\nlocation=" + (home / "sessionlog").string() + "\n");
    }

    fs::path add(const Entry& e, fs::path data = {}) {
        if (data.empty()) data = test::makeTempFile(home / "temp");
        test::writeFile(data, e.content);
        setWriteTime(data, *fromLocal(e.when));
        CenterRecord r;
        r.sectionName = makeSectionName(e.kind, data.string());
        r.svDataFilename = e.sv;
        r.clDataFilename = e.cl;
        r.limitDays = e.limit;
        r.status = e.status;
        r.sendRecvFlag = e.direction;
        writeCenterRecord(r);
        return data;
    }

    std::vector<std::string> sent(std::string kind, std::string name, std::string from, std::string to, int status) {
        std::int32_t n = -1;
        EXPECT_TRUE(retrieve.PLSearchSent(kind, name, from, to, status, n));
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i) {
            FileRec rec;
            EXPECT_TRUE(retrieve.PLSearchSentAt(i, rec));
            out.push_back(rec.ClDataFilename);
        }
        return out;
    }

    std::vector<std::string> received(std::string kind, std::string sv, std::string from, std::string to, int size,
                                      int status, int option) {
        std::int32_t n = -1;
        EXPECT_TRUE(retrieve.PLSearchReceived(kind, sv, from, to, size, status, option, n));
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i) {
            FileRec rec;
            EXPECT_TRUE(retrieve.PLSearchReceivedAt(i, rec));
            out.push_back(rec.SvDataFilename);
        }
        return out;
    }

    void expectFailure(const ApiResult& r, int code, int detail, const std::string& message) {
        EXPECT_FALSE(r);
        EXPECT_EQ(r.code, code);
        if (detail >= 0) {
            EXPECT_EQ(r.detail, detail);
        }
        EXPECT_EQ(r.message, message);
        EXPECT_EQ(retrieve.triple().message(), message);
    }

    std::vector<std::string> remainingSv() {
        std::vector<std::string> out;
        for (auto& r : loadCenterRecords()) out.push_back(r.svDataFilename);
        return out;
    }

    // Send and receive entries, statuses 1 to 4, two kinds.
    void addFixture() {
        add({"K001", 1, 1, "", "a.csv", {2024, 3, 1, 10, 0, 0}, 2});
        add({"K001", 1, 2, "", "B.csv", {2024, 3, 2, 10, 0, 0}});
        add({"K002", 1, 3, "", "c.csv", {2024, 3, 3, 10, 0, 0}});
        add({"K001", 2, 2, "DATA1", "", {2024, 3, 5, 10, 0, 0}, 0, "1234567890"});
        add({"K001", 2, 4, "data2", "", {2024, 3, 6, 10, 0, 0}});
        add({"K001", 2, 3, "data3", "", {2024, 3, 7, 10, 0, 0}});
        add({"K002", 2, 2, "data4", "", {2024, 3, 4, 10, 0, 0}});
        add({"K001", 2, 2, "data5", "", {2024, 3, 1, 9, 0, 0}}); // oldest, yet last in the register
        add({"K001", 0, 0, "nostatus", "", {2024, 3, 1, 9, 0, 0}});
    }
};

using Names = std::vector<std::string>;

TEST_F(RetrieveTest, SearchSentFiltersInRegisterOrder) {
    addFixture();
    EXPECT_EQ(sent("", "", "", "", 0), (Names{"a.csv", "B.csv", "c.csv"}));
    EXPECT_EQ(sent("K001", "", "", "", 0), (Names{"a.csv", "B.csv"}));
    EXPECT_EQ(sent("k001", "", "", "", 0), Names{}); // the kind is exact
    EXPECT_EQ(sent("", "b.CSV", "", "", 0), Names{"B.csv"});
    EXPECT_EQ(sent("", "", "", "", 3), Names{"c.csv"});
    EXPECT_EQ(sent("", "", "20240302000000", "20240303100000", 0), (Names{"B.csv", "c.csv"})); // To inclusive
    EXPECT_EQ(sent("", "", "20240301100001", "", 1), Names{});

    std::int32_t n = 0;
    ASSERT_TRUE(retrieve.PLSearchSent("", "a.csv", "", "", 0, n));
    FileRec rec;
    ASSERT_TRUE(retrieve.PLSearchSentAt(0, rec));
    EXPECT_EQ(rec.FileType, "K001");
    EXPECT_EQ(rec.ClTempFilename.substr(0, 3), "@zv");
    EXPECT_EQ(rec.SetDateTime, "20240301100000");
    EXPECT_EQ(rec.LimitDate, "20240303");
    EXPECT_EQ(rec.FileSize, 4);
    EXPECT_EQ(rec.Status, 1);
    expectFailure(retrieve.PLSearchSentAt(1, rec), 1, -1, "データ検索中にエラー");
    expectFailure(retrieve.PLSearchSentAt(-1, rec), 1, -1, "データ検索中にエラー");
}

TEST_F(RetrieveTest, SearchReceivedStatusSizeAndGetOption) {
    addFixture();
    EXPECT_EQ(received("", "", "", "", 0, 0, 3), (Names{"DATA1", "data2", "data3", "data4", "data5"}));
    EXPECT_EQ(received("K001", "", "", "", 0, 1, 3), (Names{"DATA1", "data5"}));
    EXPECT_EQ(received("", "", "", "", 0, 2, 3), Names{"data2"});
    EXPECT_EQ(received("", "", "", "", 0, 3, 3), Names{"data3"});
    EXPECT_EQ(received("", "data1", "", "", 10, 0, 3), Names{"DATA1"});
    EXPECT_EQ(received("", "data1", "", "", 4, 0, 3), Names{});
    // Oldest and newest by file time, not by register order.
    EXPECT_EQ(received("K001", "", "", "", 0, 0, 0), Names{"data5"});
    EXPECT_EQ(received("K001", "", "", "", 0, 0, 1), Names{"data5"});
    EXPECT_EQ(received("K001", "", "", "", 0, 0, 2), Names{"data3"});
    EXPECT_EQ(received("K009", "", "", "", 0, 0, 2), Names{});

    // Equal times: the first in the register wins either way.
    add({"K003", 2, 2, "first", "", {2024, 4, 1, 0, 0, 0}});
    add({"K003", 2, 2, "second", "", {2024, 4, 1, 0, 0, 0}});
    EXPECT_EQ(received("K003", "", "", "", 0, 0, 0), Names{"first"});
    EXPECT_EQ(received("K003", "", "", "", 0, 0, 2), Names{"first"});

    // The results are a copy: the register may change meanwhile.
    std::int32_t n = 0;
    ASSERT_TRUE(retrieve.PLSearchReceived("K002", "", "", "", 0, 0, 3, n));
    fs::remove(home / "plcenter.ini");
    FileRec rec;
    ASSERT_TRUE(retrieve.PLSearchReceivedAt(0, rec));
    EXPECT_EQ(rec.SvDataFilename, "data4");
    EXPECT_EQ(rec.SetDateTime, "20240304100000");
    EXPECT_EQ(rec.Status, 2);
    expectFailure(retrieve.PLSearchReceivedAt(1, rec), 1, -1,
                  "データ取得に失敗しました（取得条件index，受信データを確認してください）");
}

TEST_F(RetrieveTest, SearchArgumentsAndSettings) {
    std::int32_t n = 0;
    EXPECT_TRUE(retrieve.PLSearchSent("売上月次", "", "", "", 0, n)); // four characters, twelve bytes
    expectFailure(retrieve.PLSearchSent("", "", "2024030110000", "", 0, n), 4, 3,
                  "データ作成日付 From の指定が不正です");
    expectFailure(retrieve.PLSearchSent("", "", "20240230100000", "", 0, n), 4, 3,
                  "データ作成日付 From の指定が不正です");
    expectFailure(retrieve.PLSearchReceived("", "", "", "", 0, 0, 4, n), 4, 7, "検索条件\"GetOption\"が範囲外です");

    fs::remove(home / "plconfig.ini");
    expectFailure(retrieve.PLSearchReceived("", "", "", "", 0, 0, 3, n), 2, 2,
                  "設定管理ファイル(plconfig.ini)が見つかりません");
    FileRec rec;
    expectFailure(retrieve.PLSearchReceivedAt(0, rec), 1, -1,
                  "データ取得に失敗しました（取得条件index，受信データを確認してください）");
}

TEST_F(RetrieveTest, DeleteNormalSparesWhatIsStillWantedForcedDoesNot) {
    auto now = *toLocal(getNowFileTime());
    for (int forced : {0, 1}) {
        fs::remove(home / "plcenter.ini");
        std::vector<fs::path> files = {
            add({"K001", 1, 1, "waiting", "", now, 30}), add({"K001", 1, 1, "expired", "", {2020, 1, 1, 0, 0, 0}, 1}),
            add({"K001", 1, 2, "fetched", ""}),          add({"K001", 2, 2, "delivered", ""}),
            add({"K001", 2, 4, "picked", ""}),           add({"K001", 2, 3, "progress", ""}),
        };
        std::int32_t n = 0;
        ASSERT_TRUE(retrieve.PLDeleteFile("", 0, "", "", forced, "", n));
        Names left = forced ? Names{"progress"} : Names{"waiting", "delivered", "progress"};
        EXPECT_EQ(n, 6 - static_cast<int>(left.size()));
        EXPECT_EQ(remainingSv(), left);
        // Each data file goes with its entry.
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(fs::exists(files[i]), forced ? i == 5 : (i == 0 || i == 3 || i == 5)) << i;
    }
}

TEST_F(RetrieveTest, DeleteFiltersAndRemovesOnlyItsOwnFiles) {
    add({"K001", 1, 2, "s1", "", {2024, 3, 1, 10, 0, 0}});
    fs::path named = add({"K001", 2, 4, "r1", "", {2024, 3, 2, 0, 0, 0}});
    add({"K002", 2, 4, "r2", "", {2024, 3, 2, 0, 0, 1}});
    std::int32_t n = 0;
    expectFailure(retrieve.PLDeleteFile("", 0, "", "", 1, "@zvNOTHERE.tmp", n), 4, 6,
                  "指定された一時ファイルが存在しません");
    EXPECT_EQ(remainingSv(), (Names{"s1", "r1", "r2"}));

    ASSERT_TRUE(retrieve.PLDeleteFile("K002", 1, "", "", 1, "", n));
    EXPECT_EQ(n, 0);
    ASSERT_TRUE(retrieve.PLDeleteFile("", 2, "20240302", "", 1, "", n)); // up to that midnight exactly
    EXPECT_EQ(remainingSv(), (Names{"s1", "r2"}));
    EXPECT_FALSE(fs::exists(named));
    ASSERT_TRUE(
        retrieve.PLDeleteFile("", 0, "", "", 0, fs::path(add({"K003", 1, 2, "s2", ""})).filename().string(), n));
    EXPECT_EQ(remainingSv(), (Names{"s1", "r2"}));

    for (auto date : {"2024+1+1", "2024030", "20240230", "202403011"})
        expectFailure(retrieve.PLDeleteFile("", 0, date, "", 0, "", n), 4, 3, "対象日付の指定が不正です");
    for (auto days : {"1a", "-1", " 1"})
        expectFailure(retrieve.PLDeleteFile("", 0, "", days, 0, "", n), 4, 4, "指定日数の指定が不正です");

    // Entries go; of their data files only our own "@zv" files in the temporary folder.
    fs::create_directory(home / "user");
    fs::path foreign = add({"K004", 2, 4, "foreign", ""}, home / "user" / "@zvUSER.tmp");
    fs::path plain = add({"K004", 2, 4, "plain", ""}, home / "temp" / "report.txt");
    ASSERT_TRUE(retrieve.PLDeleteFile("K004", 0, "", "", 0, "", n));
    EXPECT_EQ(remainingSv(), (Names{"s1", "r2"}));
    EXPECT_TRUE(fs::exists(foreign) && fs::exists(plain));
}

TEST_F(RetrieveTest, DeleteDayCountIsClampedAndExactAtMidnight) {
    FileTime limit = getNowFileTime();
    startOfDayPlusDays(limit, -1);
    fs::path atLimit = add({"K001", 1, 2, "at", ""});
    setWriteTime(atLimit, limit);
    fs::path after = add({"K001", 1, 2, "after", ""});
    setWriteTime(after, FileTime{limit.ticks + FileTime::kTicksPerSecond});
    add({"K001", 1, 2, "nofile", ""}, home / "temp" / "@zvGONE.tmp");
    fs::remove(home / "temp" / "@zvGONE.tmp");

    std::int32_t n = -1;
    for (auto huge : {"200000", "99999999999999999999999999"}) {
        ASSERT_TRUE(retrieve.PLDeleteFile("", 0, "", huge, 1, "", n));
        EXPECT_EQ(n, 0);
    }
    ASSERT_TRUE(retrieve.PLDeleteFile("", 0, "", "1", 1, "", n));
    EXPECT_EQ(remainingSv(), Names{"after"});
    EXPECT_FALSE(fs::exists(atLimit));
}

} // namespace
