#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

#include "common/CenterRegister.h"
#include "common/FileControl.h"
#include "service/classes/Transport.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string kind;
    std::int32_t direction;
    std::int32_t status;
    std::string sv;
    std::string content;
    int day = 1; // of March 2024, for the file time
};

class GetDataTest : public ::testing::Test {
protected:
    test::ScopedHome home;
    test::ScopedEnv noLog{"PLX_PLLOG_LIBRARY", (home / "absent-libPLlog.so").string()};
    Transport transport{std::make_shared<Client>()};
    fs::path user = home / "user";

    void SetUp() override {
        for (auto f : {"temp", "apilog", "sessionlog", "user"}) fs::create_directory(home / f);
        test::writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + (home / "temp").string() +
                                                   "\n[apilog]\nlocation=" + (home / "apilog").string() +
                                                   "\n[sessionlog]\nlocation=" + (home / "sessionlog").string() + "\n");
    }

    fs::path add(const Entry& e, fs::path data = {}) {
        if (data.empty()) data = test::makeTempFile(home / "temp");
        test::writeFile(data, e.content);
        timespec t[2] = {{1709251200 + e.day * 86400, 0}, {1709251200 + e.day * 86400, 0}};
        ::utimensat(AT_FDCWD, data.c_str(), t, 0);
        CenterRecord r;
        r.sectionName = makeSectionName(e.kind, data.string());
        r.svDataFilename = e.sv;
        r.status = e.status;
        r.sendRecvFlag = e.direction;
        writeCenterRecord(r);
        return data;
    }

    // Send and receive entries of two kinds, statuses 1 to 4.
    void addFixture() {
        add({"K001", 2, 2, "one.dat", "AAAA", 1});
        add({"K001", 1, 1, "staged", "SEND", 1});
        add({"K001", 2, 2, "two.dat", "BBBBBB", 2});
        add({"K001", 2, 3, "three.dat", "CC", 3});
        add({"K001", 2, 4, "four.dat", "DDDD", 4});
        add({"K002", 2, 2, "other.dat", "OO", 5});
        add({"K001", 2, 2, "seven.dat", "GGG", 7});
    }

    std::map<std::string, int> statuses() {
        std::map<std::string, int> out;
        for (auto& r : loadCenterRecords()) out[r.svDataFilename] = r.status;
        return out;
    }
    std::map<std::string, int> after(std::map<std::string, int> changes) {
        std::map<std::string, int> expected = {{"one.dat", 2},  {"staged", 1},    {"two.dat", 2},  {"three.dat", 3},
                                               {"four.dat", 4}, {"other.dat", 2}, {"seven.dat", 2}};
        for (auto& [k, v] : changes) expected[k] = v;
        return expected;
    }

    std::vector<std::string> files(const fs::path& folder) {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::int32_t get(const std::string& kind, std::int32_t status, std::int32_t option, const std::string& name,
                     const std::string& to = "") {
        std::int32_t n = -1;
        ApiResult r = transport.PLGetData(kind, "", "", to, 0, status, option, user.string(), name, n);
        EXPECT_TRUE(r) << r.message;
        return n;
    }

    void expectFailure(const ApiResult& r, int code, int detail, const std::string& message) {
        EXPECT_FALSE(r);
        EXPECT_EQ(r.code, code);
        EXPECT_EQ(r.detail, detail);
        EXPECT_EQ(r.message, message);
    }
};

using Names = std::vector<std::string>;

TEST_F(GetDataTest, GetDataAReplacesOrAppendsAndMarks) {
    fs::path one = add({"K001", 2, 2, "one.dat", "AAAA"});
    fs::path blank = add({"K001", 2, 2, "", "EEE"});
    fs::path hostile = add({"K001", 2, 2, "../escape.dat", "HHH"});
    test::writeFile(user / "dest.txt", "OLDOLD");
    std::string upper = one.filename().string();
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper); // the name matches without case

    std::string name = "dest.txt";
    ASSERT_TRUE(transport.PLGetDataA("K001", upper, user.string(), name, 0));
    EXPECT_EQ(test::readFile(user / "dest.txt"), "AAAA");
    EXPECT_EQ(loadCenterRecords()[0].status, 4);
    ASSERT_TRUE(transport.PLGetDataA("K001", upper, user.string(), name, 1)); // picked up, copied again
    EXPECT_EQ(test::readFile(user / "dest.txt"), "AAAAAAAA");
    name = "";
    ASSERT_TRUE(transport.PLGetDataA("K001", upper, user.string(), name, 0));
    EXPECT_EQ(name, "one.dat");
    EXPECT_EQ(test::readFile(user / "one.dat"), "AAAA");

    for (const fs::path& data : {blank, hostile}) {
        name = "";
        ASSERT_TRUE(transport.PLGetDataA("K001", data.filename().string(), user.string(), name, 0));
        EXPECT_EQ(name.substr(0, 3), "@zv");
        EXPECT_EQ(test::readFile(user / name), test::readFile(data));
    }
    EXPECT_FALSE(fs::exists(home / "escape.dat"));
}

TEST_F(GetDataTest, GetDataAFailuresLeaveTheUserFileAndTheEntry) {
    fs::path gone = add({"K001", 2, 2, "gone.dat", "X"});
    fs::path busy = add({"K001", 2, 3, "busy.dat", "half"});
    add({"K002", 2, 2, "other.dat", "O"});
    fs::remove(gone);
    test::writeFile(user / "dest.txt", "KEEP");
    std::string before = test::readFile(home / "plcenter.ini");
    std::string name = "dest.txt";
    for (int flag : {0, 1})
        expectFailure(transport.PLGetDataA("K001", gone.filename().string(), user.string(), name, flag), 2, ENOENT,
                      "受信ファイルが存在しません");
    expectFailure(transport.PLGetDataA("K001", busy.filename().string(), user.string(), name, 0), 2, EBUSY,
                  "受信ファイルが存在しません");
    // Kind and name each exist, never together: nothing to copy, no error.
    EXPECT_TRUE(transport.PLGetDataA("K002", busy.filename().string(), user.string(), name, 0));
    EXPECT_EQ(test::readFile(user / "dest.txt"), "KEEP");
    EXPECT_EQ(test::readFile(home / "plcenter.ini"), before);
    EXPECT_EQ(files(user), Names{"dest.txt"});

    expectFailure(transport.PLGetDataA("k001", busy.filename().string(), user.string(), name, 0), 4, 1,
                  "ファイル種別が不正です");
    expectFailure(transport.PLGetDataA("K001", "@zvNONE.tmp", user.string(), name, 0), 4, 2,
                  "一時ファイル名が不正です");
    expectFailure(transport.PLGetDataA("K0011", "x", user.string(), name, 0), 4, 1, "ファイル種別が不正です");

    fs::remove(home / "plcenter.ini"); // the flag is checked before the register is read
    expectFailure(transport.PLGetDataA("K001", "x", user.string(), name, 2), 4, 5, "作成フラグの指定が不正です");
    add({"K001", 1, 1, "", "S"});
    expectFailure(transport.PLGetDataA("K001", "x", user.string(), name, 0), 4, 2, "受信ファイルが存在しません");
}

TEST_F(GetDataTest, GetDataFirstOrReplacingOptions) {
    addFixture();
    EXPECT_EQ(get("K001", 1, 0, ""), 1);
    EXPECT_EQ(files(user), Names{"one.dat"});
    EXPECT_EQ(test::readFile(user / "one.dat"), "AAAA");
    EXPECT_EQ(statuses(), after({{"one.dat", 4}}));
    FileRec rec;
    ASSERT_TRUE(transport.PLGetDataAt(0, rec));
    EXPECT_EQ(rec.FileType, "K001");
    EXPECT_EQ(rec.SvDataFilename, "one.dat");
    EXPECT_EQ(rec.FileSize, 4);
    EXPECT_EQ(rec.Status, 2);
    expectFailure(transport.PLGetDataAt(1, rec), 4, 1, "index値が有効範囲外です");

    test::writeFile(user / "mine.txt", "previous content");
    EXPECT_EQ(get("K001", 1, 1, "mine.txt"), 1);
    EXPECT_EQ(test::readFile(user / "mine.txt"), "BBBBBB");
    EXPECT_EQ(statuses(), after({{"one.dat", 4}, {"two.dat", 4}}));
}

TEST_F(GetDataTest, GetDataNewestMarksOlderDeliveriesOnly) {
    addFixture();
    EXPECT_EQ(get("K001", 1, 2, "", "20240306000000"), 1);
    EXPECT_EQ(files(user), Names{"two.dat"});
    EXPECT_EQ(test::readFile(user / "two.dat"), "BBBBBB");
    // The staged send entry and the later delivery stay as they were.
    EXPECT_EQ(statuses(), after({{"one.dat", 4}, {"two.dat", 4}}));
}

TEST_F(GetDataTest, GetDataAppendAllOrEachUnderItsCenterName) {
    addFixture();
    test::writeFile(user / "all.txt", "XX");
    EXPECT_EQ(get("K001", 0, 3, "all.txt"), 4);
    EXPECT_EQ(test::readFile(user / "all.txt"), "XXAAAABBBBBBDDDDGGG"); // in progress never copied
    EXPECT_EQ(statuses(), after({{"one.dat", 4}, {"two.dat", 4}, {"seven.dat", 4}}));

    fs::remove(home / "plcenter.ini");
    addFixture();
    EXPECT_EQ(get("K001", 1, 4, "ignored.txt"), 3);
    EXPECT_EQ(files(user), (Names{"all.txt", "one.dat", "seven.dat", "two.dat"}));
    EXPECT_EQ(test::readFile(user / "seven.dat"), "GGG");
    EXPECT_EQ(statuses(), after({{"one.dat", 4}, {"two.dat", 4}, {"seven.dat", 4}}));

    EXPECT_EQ(get("K009", 0, 3, ""), 0);
    EXPECT_EQ(files(user).size(), 4u);
    EXPECT_EQ(files(home.path()),
              (Names{".run", "apilog", "plcenter.ini", "plconfig.ini", "sessionlog", "temp", "user"}));
}

TEST_F(GetDataTest, GetDataFailureRestoresEverything) {
    add({"K001", 2, 2, "new.dat", "NEW"});
    add({"K001", 2, 2, "old.dat", "B"});
    fs::remove(add({"K001", 2, 2, "c.dat", "C"}));
    test::writeFile(user / "old.dat", "OLD");
    ::chmod((user / "old.dat").c_str(), 0640);
    test::writeFile(user / "old.dat.rlbk", "MINE"); // the user's own file of that name
    test::writeFile(user / "all.txt", "XX");
    std::string before = test::readFile(home / "plcenter.ini");

    for (auto [option, name] : {std::pair{4, ""}, std::pair{3, "all.txt"}}) {
        std::int32_t n = 0;
        expectFailure(transport.PLGetData("K001", "", "", "", 0, 1, option, user.string(), name, n), 1, ENOENT,
                      "保存元のクライアントファイル名が不正です");
        EXPECT_EQ(files(user), (Names{"all.txt", "old.dat", "old.dat.rlbk"}));
        EXPECT_EQ(test::readFile(user / "old.dat"), "OLD");
        EXPECT_EQ(test::readFile(user / "old.dat.rlbk"), "MINE");
        EXPECT_EQ(test::readFile(user / "all.txt"), "XX");
        struct stat st {};
        ::stat((user / "old.dat").c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        EXPECT_EQ(test::readFile(home / "plcenter.ini"), before);
        EXPECT_EQ(files(home.path()).size(), 7u); // no copy of the register left
    }
}

TEST_F(GetDataTest, GetDataWithoutANewNameFailsAsTheTargetNotMade) {
    add({"K001", 2, 2, "", "EEE"}); // no center name: the target is a new "@zv" file
    std::string before = test::readFile(home / "plcenter.ini");
    std::string outcome = test::withoutFreeInodes(user, [&] {
        std::int32_t n = 0;
        ApiResult r = transport.PLGetData("K001", "", "", "", 0, 1, 0, user.string(), "", n);
        return std::to_string(r.code) + "/" + std::to_string(r.detail) + " " + r.message;
    });
    EXPECT_EQ(outcome, "4/" + std::to_string(ENOSPC) + " 保存先のクライアントファイルが生成できませんでした");
    EXPECT_EQ(test::readFile(home / "plcenter.ini"), before);
}

TEST_F(GetDataTest, GetDataUsesTheRegisteredPathAndSafeNames) {
    fs::create_directory(home / "oldtemp"); // the data file outlived a move of the temporary folder
    add({"K001", 2, 2, "moved.dat", "MOVED"}, home / "oldtemp" / "@zv0001.tmp");
    add({"K001", 2, 2, "../escape.dat", "HOSTILE"});
    std::int32_t n = 0;
    ASSERT_TRUE(transport.PLGetData("K001", "", "", "", 0, 1, 4, "", "", n));
    EXPECT_EQ(n, 2);
    EXPECT_EQ(test::readFile(home / "temp" / "moved.dat"), "MOVED");
    EXPECT_FALSE(fs::exists(home / "escape.dat"));
    FileRec rec;
    ASSERT_TRUE(transport.PLGetDataAt(1, rec));
    EXPECT_EQ(statuses(), (std::map<std::string, int>{{"moved.dat", 4}, {"../escape.dat", 4}}));
}

TEST_F(GetDataTest, GetDataArgumentsSettingsAndIndex) {
    FileRec rec;
    expectFailure(transport.PLGetDataAt(-1, rec), 4, 1, "index値が有効範囲外です");
    expectFailure(transport.PLGetDataAt(0, rec), 4, 1, "index値が有効範囲外です");
    std::int32_t n = 0;
    auto call = [&](std::string kind, std::string sv, std::string from, std::string to, int size, int status,
                    int option, std::string dir, std::string name) {
        return transport.PLGetData(kind, sv, from, to, size, status, option, dir, name, n);
    };
    std::string u = user.string();
    expectFailure(call("K001", "", "2024030100000", "", 0, 0, 0, u, ""), 4, 3, "受信日付(From)の指定が不正です");
    expectFailure(call("K001", "", "", "20240230000000", 0, 0, 0, u, ""), 4, 4, "受信日付(To)の指定が不正です");
    expectFailure(call("K001", "", "", "", 0, 3, 0, u, ""), 4, 6, "受信ステータスの指定が不正です");
    expectFailure(call("K001", "", "", "", 0, 0, 0, u + "/missing", ""), 4, 8,
                  "受信データ保存ディレクトリが存在しないか、読み取り専用属性です");
    fs::remove(home / "plconfig.ini");
    expectFailure(call("K001", "", "", "", 0, 0, 0, u, ""), 2, 2, "設定管理ファイル(plconfig.ini)が見つかりません");
}

} // namespace
