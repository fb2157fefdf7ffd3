#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/CenterRegister.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "platform/UniqueFd.h"
#include "service/classes/Client.h"
#include "service/classes/Transport.h"
#include "tests/TestSupport.h"
#include "tests/service/TransferFixture.h" // sampleData

namespace plx::test {
namespace {

namespace fs = std::filesystem;

class SetData : public ::testing::Test {
protected:
    SetData() {
        for (const fs::path& f : {user(), temp(), home_ / "apilog", home_ / "sessionlog"}) fs::create_directory(f);
        useTempFolder(temp());
        EXPECT_TRUE(client_->PLSetTermInfo("1001", "9001", "center", "http://127.0.0.1:1/", "pw", "1.0", "", "", ""));
        for (const char* kind : {"K001", "K002"})
            EXPECT_TRUE(client_->PLSetFileInfo(kind, "テスト", 7, "PF01", "AK0001", -1, 0, ""));
    }

    void useTempFolder(const fs::path& folder) {
        writeFile(home_ / "plconfig.ini", "[tempfile]\nlocation=" + folder.string() +
                                              "\n[apilog]\nlocation=" + (home_ / "apilog").string() +
                                              "\n[sessionlog]\nlocation=" + (home_ / "sessionlog").string() + "\n");
    }
    fs::path user() const { return home_ / "user"; }
    fs::path temp() const { return home_ / "temp"; }

    ApiResult set(const std::string& kind, const std::string& name, const std::string& content, std::int32_t limit,
                  std::int32_t option, std::string* staged = nullptr) {
        writeFile(user() / name, content);
        std::string out;
        ApiResult r = transport_.PLSetData(kind, user().string(), name, limit, option, out);
        if (staged) *staged = out;
        return r;
    }
    // A waiting entry made by someone else: a delivery (in our temporary
    // folder) or a send naming a file that is not ours.
    std::string addEntry(std::int32_t direction, const std::string& content) {
        fs::path file = direction == kDirectionRecv ? test::makeTempFile(temp()) : user() / "foreign.dat";
        writeFile(file, content);
        CenterRecord r;
        r.sectionName = makeSectionName("K001", file.string());
        r.limitDays = 0;
        r.status = kStatusWaiting;
        r.sendRecvFlag = direction;
        writeCenterRecord(r);
        return file.string();
    }
    std::string registerText() const { return fs::exists(centerIniPath()) ? readFile(centerIniPath()) : std::string(); }
    std::set<std::string> tempFiles(const fs::path& folder) const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
        return names;
    }
    // The last API-log record without its time stamp.
    std::string lastApiRecord() const {
        std::string text = readFile(home_ / "apilog" / ("plapi" + formatDate(*localNow()) + ".log"));
        text.pop_back();
        text.erase(0, text.find_last_of('\n') + 1);
        return text.substr(text.find(',') + 1);
    }

    ScopedHome home_;
    ScopedEnv pllog_{"PLX_PLLOG_LIBRARY", PLX_PLLOG_PATH};
    std::shared_ptr<Client> client_ = std::make_shared<Client>();
    Transport transport_{client_};
};

bool hasEntry(const std::vector<CenterRecord>& records, const std::string& path) {
    return std::any_of(records.begin(), records.end(), [&](const CenterRecord& r) { return r.tempFilePath == path; });
}

// Runs body in n child processes released at the same moment; true when
// every child reports success.
bool inChildren(int n, const std::function<bool(int)>& body) {
    int gate[2];
    if (::pipe(gate) != 0) return false;
    UniqueFd gateIn(gate[0]), gateOut(gate[1]);
    std::vector<pid_t> children;
    for (int i = 0; i < n; ++i) {
        pid_t pid = ::fork();
        if (pid == 0) {
            gateOut.reset();
            char c;
            while (::read(gateIn.get(), &c, 1) < 0 && errno == EINTR) {
            }
            bool ok = false;
            try {
                ok = body(i);
            } catch (...) {
            }
            ::_exit(ok ? 0 : 1);
        }
        if (pid > 0) children.push_back(pid);
    }
    gateOut.reset(); // end of file opens the gate for all
    bool ok = children.size() == static_cast<std::size_t>(n);
    for (pid_t pid : children) {
        int status = 0;
        ok = ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
    }
    return ok;
}

TEST_F(SetData, StagedCopyIsAWaitingSendEntry) {
    std::string data("bin\0\r\n\xff", 7);
    std::string staged;
    ASSERT_TRUE(set("K001", "a.dat", data, 3, 1, &staged));
    EXPECT_EQ(fs::path(staged).parent_path(), temp());
    EXPECT_TRUE(fs::path(staged).filename().string().starts_with("@zv"));
    EXPECT_EQ(readFile(staged), data);
    EXPECT_NE(registerText().find("[K001," + staged + "]"), std::string::npos);
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 1u);
    const CenterRecord& r = records[0];
    EXPECT_EQ(r.sectionName, "K001," + staged);
    EXPECT_EQ(r.limitDays, 3);
    EXPECT_EQ(r.status, kStatusWaiting);
    EXPECT_EQ(r.sendRecvFlag, kDirectionSend);
    EXPECT_EQ(r.clDataFilename, "a.dat");
    EXPECT_EQ(r.clDataDirectory, user().string());
    EXPECT_EQ(r.svDataFilename + r.fileLoadNo + r.fileRecordKey, "");
    EXPECT_EQ(lastApiRecord(), "0,0,,,PLSetData,K001," + user().string() + ",a.dat,3,1");

    // Limits count characters, not bytes.
    std::string wide;
    for (int i = 0; i < 64; ++i) wide += "あ";
    EXPECT_TRUE(set("K002", wide, "w", 0, 3));
}

TEST_F(SetData, ReplaceRemovesOnlyOlderWaitingSendsOfTheKind) {
    std::string a, b, c, d, e;
    ASSERT_TRUE(set("K001", "a.dat", "a", 0, 3, &a));
    ASSERT_TRUE(set("K001", "b.dat", "b", 0, 3, &b));
    EXPECT_EQ(loadCenterRecords().size(), 2u);
    std::string received = addEntry(kDirectionRecv, "delivered");
    ASSERT_TRUE(set("K002", "c.dat", "c", 0, 1, &c));
    std::string foreign = addEntry(kDirectionSend, "keep"); // the entry goes, the file stays

    ASSERT_TRUE(set("K001", "d.dat", "d", 0, 1, &d));
    auto records = loadCenterRecords();
    EXPECT_EQ(records.size(), 3u);
    EXPECT_TRUE(hasEntry(records, d) && hasEntry(records, c) && hasEntry(records, received));
    EXPECT_FALSE(fs::exists(a) || fs::exists(b));
    EXPECT_EQ(readFile(received), "delivered");
    EXPECT_EQ(readFile(foreign), "keep");

    ASSERT_TRUE(set("K001", "e.dat", "e", 0, 0, &e));
    records = loadCenterRecords();
    EXPECT_TRUE(hasEntry(records, e) && !hasEntry(records, d) && hasEntry(records, received));
    EXPECT_FALSE(fs::exists(d));
    EXPECT_EQ(tempFiles(temp()).size(), 3u);
}

TEST_F(SetData, AppendGoesToTheNewestValidSendEntry) {
    std::string x, y, z, w;
    ASSERT_TRUE(set("K001", "x.dat", "x", 5, 3, &x));
    ASSERT_TRUE(set("K001", "y.dat", "y", 5, 3, &y));
    ASSERT_TRUE(set("K002", "z.dat", "z", 5, 3, &z));
    std::string received = addEntry(kDirectionRecv, "delivered");
    std::string foreign = addEntry(kDirectionSend, "keep"); // never written to
    fs::permissions(y, fs::perms::owner_read);

    ASSERT_TRUE(set("K001", "w.dat", "WW", 9, 2, &w));
    EXPECT_EQ(w, y);
    EXPECT_EQ(readFile(y), "yWW");
    EXPECT_NE(fs::status(y).permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(readFile(x), "x");
    EXPECT_EQ(readFile(received), "delivered");
    EXPECT_EQ(readFile(foreign), "keep");
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 5u);
    const CenterRecord& last = records.back();
    EXPECT_EQ(last.sectionName, "K001," + y);
    EXPECT_EQ(last.limitDays, 5);
    EXPECT_EQ(last.status, kStatusWaiting);
    EXPECT_EQ(last.clDataFilename, "w.dat");
}

TEST_F(SetData, AppendWithoutAValidEntryStagesAfresh) {
    std::string old, fresh, far, more;
    ASSERT_TRUE(set("K001", "old.dat", "old", 1, 3, &old));
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(72));
    ASSERT_TRUE(set("K001", "new.dat", "new", 2, 2, &fresh));
    EXPECT_NE(fresh, old);
    EXPECT_FALSE(fs::exists(old));
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].limitDays, 2);

    // The largest limit saturates instead of wrapping into the past.
    ASSERT_TRUE(set("K002", "far.dat", "far", INT32_MAX, 3, &far));
    ASSERT_TRUE(set("K002", "more.dat", "more", 0, 2, &more));
    EXPECT_EQ(more, far);
    EXPECT_EQ(readFile(far), "farmore");
}

TEST_F(SetData, FailuresLeaveRegisterAndFilesAsTheyWere) {
    std::string old, out;
    ASSERT_TRUE(set("K001", "old.dat", "old", 0, 1, &old));
    const std::string before = registerText();
    const auto files = tempFiles(temp());
    auto unchanged = [&] {
        EXPECT_EQ(registerText(), before);
        EXPECT_EQ(tempFiles(temp()), files);
        EXPECT_EQ(readFile(old), "old");
        EXPECT_TRUE(out.empty());
    };

    // The kernel's own "regular files" are no data: refused before anything is read.
    for (std::int32_t option : {1, 2}) {
        ApiResult r = transport_.PLSetData("K001", "/proc/self", "status", 0, option, out);
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.detail, 2);
        EXPECT_EQ(r.message, "指定されたファイルが存在しません");
        unchanged();
    }
    EXPECT_TRUE(lastApiRecord().starts_with("3,2,")) << lastApiRecord();
    ApiResult r;

    // The copy succeeds, the register refuses its section name.
    fs::create_directory(home_ / "te]mp");
    useTempFolder(home_ / "te]mp");
    r = set("K001", "new.dat", "new", 0, 1, &out);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.message, "データセット中にエラー");
    unchanged();
    EXPECT_TRUE(tempFiles(home_ / "te]mp").empty());

    // A folder without write bits is refused even to root.
    useTempFolder(temp());
    fs::permissions(temp(), fs::perms(0555));
    r = set("K001", "new.dat", "new", 0, 1, &out);
    fs::permissions(temp(), fs::perms(0755));
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.detail, 2);
    EXPECT_EQ(r.message, "一時ファイル保存フォルダ　\"" + temp().string() + "\"　が存在しないか、読み取り専用属性です");
    unchanged();

    // An unreadable register: an unexpected failure takes this method's code 1.
    fs::remove(centerIniPath());
    fs::create_directory(centerIniPath());
    r = set("K001", "new.dat", "new", 0, 1, &out);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.message, "データセット中にエラー");
    EXPECT_EQ(tempFiles(temp()), files);
}

TEST_F(SetData, ArgumentsAreCheckedInOrder) {
    ASSERT_TRUE(set("K001", "a.dat", "a", 0, 1));
    writeFile(user() / "x\ny.dat", "forged");
    ASSERT_EQ(::mkfifo((user() / "fifo").c_str(), 0600), 0);
    const std::string before = registerText();
    const auto files = tempFiles(temp());
    const std::string dir = user().string();
    struct Case {
        std::string kind, dir, name;
        std::int32_t limit, option, code, detail;
        std::string text;
    };
    const Case cases[] = {
        {"K0011", "", "", -1, 9, 4, 1, "ファイル種別が4桁を超えました"},
        {"", dir, "a.dat", 0, 1, 4, 1, "ファイル種別が未入力です"},
        {"K,01", dir, "a.dat", 0, 1, 4, 1, "ファイル種別が不正です"},
        {"K001", std::string(129, 'd'), "a.dat", 0, 1, 4, 2, "ディレクトリ指定が128桁を超えました"},
        {"K001", "", "a.dat", 0, 1, 4, 2, "ディレクトリが未入力です"},
        {"K001", dir + "\n[K001", "a.dat", 0, 1, 4, 2, "ディレクトリの指定が不正です"},
        {"K001", dir, std::string(65, 'n'), 0, 1, 3, 2, "ファイル名が64桁を超えました"},
        {"K001", dir, "", 0, 1, 3, 2, "ファイル名が未入力です"},
        {"K001", dir, "x\ny.dat", 0, 1, 4, 3, "ファイル名の指定が不正です"},
        {"K001", dir, "missing.dat", 0, 1, 3, 2, "指定されたファイルが存在しません"},
        {"K001", dir, "fifo", 0, 1, 3, 2, "指定されたファイルが存在しません"},
        {"K001", dir, "a.dat", -1, 1, 4, 4, "有効日数の指定が不正です"},
        {"K001", dir, "a.dat", 0, 4, 4, 5, "SetOptionが範囲外です"},
        {"K001", dir, "a.dat", 0, -1, 4, 5, "SetOptionが範囲外です"},
        {"Z999", dir, "a.dat", 0, 1, 2, -1, "ファイル管理ファイルに登録されていないファイル種別が指定されました"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string out = "x";
        ApiResult r = transport_.PLSetData(c.kind, c.dir, c.name, c.limit, c.option, out);
        EXPECT_TRUE(r.failed);
        EXPECT_EQ(r.code, c.code);
        if (c.detail >= 0) {
            EXPECT_EQ(r.detail, c.detail);
        }
        EXPECT_EQ(r.message, c.text);
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(transport_.triple().message(), c.text);
    }
    EXPECT_EQ(registerText(), before);
    EXPECT_EQ(tempFiles(temp()), files);
    EXPECT_TRUE(lastApiRecord().starts_with("2,"));
    EXPECT_TRUE(lastApiRecord().ends_with(",PLSetData,Z999," + dir + ",a.dat,0,1"));
}

TEST_F(SetData, ProcessesStagingAtOnceKeepTheRegisterWhole) {
    // Large copies keep every process between reading and rewriting the
    // register for a while: without the lock, replaced entries would survive.
    const std::string data = sampleData(1 << 20);
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(inChildren(4, [&](int child) {
            std::string name = std::to_string(round) + "-" + std::to_string(child);
            return set("K002", "add" + name, "add" + name, 0, 3) &&
                   set("K001", "rep" + name, "rep" + name + data, 0, 1);
        }));
        auto records = loadCenterRecords();
        auto isReplaced = [](const CenterRecord& r) { return r.fileType == "K001"; };
        EXPECT_EQ(std::count_if(records.begin(), records.end(), isReplaced), 1);
        ASSERT_EQ(records.size(), 4u * round + 1);
        EXPECT_EQ(tempFiles(temp()).size(), records.size());
        for (const CenterRecord& r : records)
            EXPECT_EQ(readFile(r.tempFilePath), r.clDataFilename + (r.fileType == "K001" ? data : ""));
    }
}

} // namespace
} // namespace plx::test
