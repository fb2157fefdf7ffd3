#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "centerlink/SessionControl.h"
#include "platform/IniFile.h"
#include "platform/UniqueFd.h"
#include "tests/service/TransferFixture.h"

using namespace plx;
using test::readFile;
using test::splitFields;
using test::TransferFixture;
using test::TransferSetup;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

// A file the center hands out next (the outbox goes in name order).
void offer(TransferFixture& f, const std::string& name, const std::string& data) {
    fs::create_directories(f.center().store() / "outbox");
    writeFile(f.center().store() / "outbox" / name, data);
}

struct Received {
    ApiResult result;
    std::string name;
    std::int32_t size = 12345;
};

Received receive(TransferFixture& f, std::string name = "", std::int32_t resend = 0) {
    Received r;
    r.result = f.transport().PLRecvData("K001", f.userFolder().string(), name, resend, r.size);
    r.name = name;
    return r;
}

void expectTriple(const ApiResult& r, std::int32_t code, std::int32_t detail, const std::string& message) {
    EXPECT_EQ(r.code, code);
    EXPECT_EQ(r.detail, detail);
    EXPECT_EQ(r.message, message);
}

std::vector<std::string> userFiles(TransferFixture& f) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(f.userFolder())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> lastSession(TransferFixture& f) { return splitFields(f.sessionLog("10").back()); }

bool reported(TransferFixture& f, int code) {
    return f.center().log().find("\"report_code\": " + std::to_string(code) + ",") != std::string::npos;
}

} // namespace

TEST(RecvData, ArrivesWhole_PlainAndGzip_HttpAndHttps) {
    for (bool tls : {false, true}) {
        for (const char* compress : {"0", "1"}) {
            TransferFixture f(TransferSetup{.tls = tls, .centerArgs = {"--compress", compress}});
            std::string data = test::sampleData(150000);
            offer(f, "in.dat", data);
            Received r = receive(f);
            ASSERT_FALSE(r.result.failed) << r.result.code << "/" << r.result.detail << " " << r.result.message;
            EXPECT_EQ(r.name, "in.dat"); // the center's name
            EXPECT_EQ(r.size, 150000);
            EXPECT_EQ(readFile(f.userFolder() / "in.dat"), data) << "tls " << tls << " compress " << compress;
            EXPECT_EQ(userFiles(f), std::vector<std::string>{"in.dat"});
            EXPECT_TRUE(fs::is_empty(f.scratch()));
            ASSERT_EQ(f.apiLog("PLRecvData").size(), 1u);
            EXPECT_EQ(splitFields(f.apiLog("PLRecvData")[0])[1], "0");
            ASSERT_EQ(f.sessionLog("10").size(), 1u);
            auto fields = lastSession(f);
            ASSERT_EQ(fields.size(), 23u);
            EXPECT_EQ(fields[4] + "/" + fields[5], "0/00");
            EXPECT_EQ(fields[15], "in.dat");
            EXPECT_EQ(fields[18], "150000"); // the real size
            EXPECT_EQ(fields[19], compress);
            std::string loadNo = IniDocument::load(f.home() / "plgetfile.ini").get("K001", "fileloadno", "");
            EXPECT_FALSE(loadNo.empty());
            EXPECT_EQ(fields[21], loadNo);
        }
    }
}

TEST(RecvData, StoredUnderGivenCenterOrTemporaryName) {
    {
        TransferFixture f;
        offer(f, "in.dat", "new");
        writeFile(f.userFolder() / "mine.dat", "old and longer");
        ::chmod((f.userFolder() / "mine.dat").c_str(), 0444); // replaced even when read-only
        mode_t mask = ::umask(0022);
        Received r = receive(f, "mine.dat");
        ::umask(mask);
        EXPECT_FALSE(r.result.failed) << r.result.message;
        EXPECT_EQ(r.name, "mine.dat");
        EXPECT_EQ(readFile(f.userFolder() / "mine.dat"), "new");
        EXPECT_EQ(fs::status(f.userFolder() / "mine.dat").permissions(), fs::perms(0644));
        EXPECT_EQ(userFiles(f), std::vector<std::string>{"mine.dat"});
    }
    for (const char* centerName : {"", "../x", "a/b", "."}) {
        TransferFixture f(TransferSetup{.centerArgs = {"--data-file-name", centerName}});
        offer(f, "in.dat", "data");
        Received r = receive(f);
        ASSERT_FALSE(r.result.failed) << centerName << ": " << r.result.message;
        EXPECT_EQ(r.name.rfind("@zv", 0), 0u) << r.name;
        EXPECT_EQ(userFiles(f), std::vector<std::string>{r.name});
        EXPECT_EQ(readFile(f.userFolder() / r.name), "data");
        EXPECT_FALSE(fs::exists(f.home() / "x"));
        EXPECT_TRUE(fs::is_empty(f.scratch()));
    }
}

TEST(RecvData, ArgumentsAreCheckedBeforeConnecting) {
    TransferFixture f;
    fs::create_directory(f.userFolder() / "sub");
    expectTriple(receive(f, "", 2).result, 4, 4, "再送フラグが不正です");
    EXPECT_EQ(receive(f, "sub").result.code, 3);
    EXPECT_EQ(f.apiLog("PLRecvData").size(), 2u);
    EXPECT_TRUE(f.sessionLog("10").empty());
    EXPECT_EQ(f.center().log().find("getfile"), std::string::npos); // no conversation began

    CountingSemaphore everything(kSessionCount, kSessionSemaphoreName);
    ASSERT_TRUE(everything.acquire(kSessionCount, 0));
    expectTriple(receive(f).result, 1, 0, "セッション中止");
    EXPECT_EQ(f.apiLog("PLRecvData").size(), 2u);
}

TEST(RecvData, SameLoadNumberIsADuplicateUnlessResent) {
    TransferFixture f(TransferSetup{.centerArgs = {"--load-no", "L1", "--record-key", "R1"}});
    for (const char* name : {"a.dat", "b.dat", "c.dat"}) offer(f, name, name);
    EXPECT_FALSE(receive(f).result.failed);
    std::string ini = readFile(f.home() / "plgetfile.ini");

    Received again = receive(f);
    expectTriple(again.result, 5, 33, "二重転送エラー");
    EXPECT_EQ(again.size, -1);
    EXPECT_EQ(userFiles(f), std::vector<std::string>{"a.dat"});
    EXPECT_EQ(readFile(f.home() / "plgetfile.ini"), ini);
    EXPECT_TRUE(fs::exists(f.center().store() / "sent" / "b.dat")); // acknowledged all the same
    EXPECT_EQ(lastSession(f)[5], "33");

    EXPECT_FALSE(receive(f, "", 1).result.failed);
    EXPECT_EQ(readFile(f.userFolder() / "c.dat"), "c.dat");
    EXPECT_TRUE(fs::is_empty(f.scratch()));
}

TEST(RecvData, EmptyLoadNumberAndKeyAreNeverADuplicate) {
    TransferFixture f(TransferSetup{.centerArgs = {"--load-no", "", "--record-key", ""}});
    writeFile(f.home() / "plgetfile.ini", "[K002]\nfileloadno=\nfilerecordkey=\n"); // left by another kind
    offer(f, "a.dat", "first");
    offer(f, "b.dat", "second");
    EXPECT_FALSE(receive(f).result.failed);
    Received r = receive(f);
    EXPECT_FALSE(r.result.failed) << r.result.message;
    EXPECT_EQ(readFile(f.userFolder() / "b.dat"), "second");
    EXPECT_EQ(IniDocument::load(f.home() / "plgetfile.ini").sectionNames(), std::vector<std::string>{"K002"});
}

TEST(RecvData, GetFileRefusalsAreReportedBack) {
    struct Case {
        std::string fault;
        std::int32_t detail;
        std::string message;
        std::string sessionResult;
        int report;
    };
    for (const Case& c : {Case{"result=33@file", 33, "二重ファイル伝送", "33", 99},
                          Case{"result=47@file", 99, "電文\"ファイル受信\"がエラーコードで戻りました", "47", 99},
                          Case{"", 32, "ファイルなし", "32", 32}}) { // nothing to deliver
        TransferFixture f(TransferSetup{.centerArgs = c.fault.empty() ? std::vector<std::string>{}
                                                                      : std::vector<std::string>{"--fault", c.fault}});
        if (!c.fault.empty()) offer(f, "in.dat", "data");
        expectTriple(receive(f).result, 5, c.detail, c.message);
        auto fields = lastSession(f);
        EXPECT_EQ(fields[4] + "/" + fields[5], "21/" + c.sessionResult);
        EXPECT_TRUE(reported(f, c.report)) << c.report;
        EXPECT_TRUE(userFiles(f).empty());
        EXPECT_TRUE(fs::is_empty(f.scratch()));
    }
}

TEST(RecvData, WrongMd5KeepsTheUsersFile) {
    for (const char* compress : {"0", "1"}) {
        TransferFixture f(TransferSetup{.centerArgs = {"--fault", "bad-md5", "--compress", compress}});
        offer(f, "in.dat", test::sampleData(5000));
        writeFile(f.userFolder() / "in.dat", "old");
        expectTriple(receive(f).result, 3, 0, "データ本体が正常に抽出できません(MD5ハッシュ値が異なります)");
        EXPECT_EQ(readFile(f.userFolder() / "in.dat"), "old");
        EXPECT_EQ(userFiles(f), std::vector<std::string>{"in.dat"});
        EXPECT_TRUE(fs::is_empty(f.scratch()));
        EXPECT_TRUE(reported(f, 99));
        auto fields = lastSession(f);
        EXPECT_EQ(fields[4] + "/" + fields[5], "21/99");
    }
}

TEST(RecvData, ANewNameThatCannotBeMadeFailsAsTheNaming) {
    TransferFixture f(TransferSetup{.centerArgs = {"--data-file-name", ""}});
    offer(f, "in.dat", "data");
    std::string outcome = test::withoutFreeInodes(f.userFolder(), [&] {
        ApiResult r = receive(f).result;
        return std::to_string(r.code) + "/" + std::to_string(r.detail) + " " + r.message;
    });
    EXPECT_EQ(outcome, "4/" + std::to_string(ENOSPC) + " ファイルの保存に失敗(保存ファイル名の決定でエラー)");
    EXPECT_TRUE(reported(f, 99));
    auto fields = lastSession(f);
    EXPECT_EQ(fields[4] + "/" + fields[5], "10/99");
}

namespace {

// Closes the service as soon as the GetFile reply is awaited.
struct StopOnReceiveProgress : ClientEvents {
    void PLSendStatus(std::int32_t, std::int32_t, std::int32_t) override {}
    void PLRecvStatus(std::int32_t, std::int32_t, std::int32_t) override { SessionEvent::set(); }
    void PLRecvRequest(std::int32_t, const std::string&) override {}
};

} // namespace

TEST(RecvData, CutShortByASilentCenterOrByClosing) {
    {
        TransferFixture f(TransferSetup{.centerArgs = {"--fault", "silent@file", "--silent-seconds", "30"}});
        offer(f, "in.dat", "data");
        writeFile(f.home() / "pltimeout.ini", "[timeout]\nfile=1\ntcp=5\nconnect=5\n");
        expectTriple(receive(f).result, 5, 1, "タイムアウトなどにより処理が中断されました。");
        auto fields = lastSession(f);
        EXPECT_EQ(fields[4] + "/" + fields[5], "21/01");
        EXPECT_TRUE(fs::is_empty(f.scratch()));
    }
    {
        TransferFixture f(TransferSetup{.centerArgs = {"--fault", "slow@file", "--slow-seconds", "3"}});
        offer(f, "in.dat", "data");
        std::ofstream(f.home() / "plconfig.ini", std::ios::app) << "[notice]\ninterval=20\n";
        StopOnReceiveProgress stopper;
        SessionEvent::reset();
        f.client().setEventSink(&stopper);
        Received r = receive(f);
        f.client().setEventSink(nullptr);
        SessionEvent::reset();
        expectTriple(r.result, 5, 1, "セッションが中止されました");
        auto fields = lastSession(f);
        EXPECT_EQ(fields[4] + "/" + fields[5] + "/" + fields[6], "21/01/-100");
        EXPECT_TRUE(userFiles(f).empty());
        EXPECT_TRUE(fs::is_empty(f.scratch()));
    }
}

// A small file system over folder, in this test process's own mount
// namespace; off again before the folder goes.
class SmallFileSystem {
public:
    SmallFileSystem(const fs::path& folder, const char* options) : folder_(folder) {
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options) != 0) throw std::runtime_error("mount");
    }
    ~SmallFileSystem() { ::umount2(folder_.c_str(), MNT_DETACH); }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

private:
    fs::path folder_;
};

// A full temporary folder is the service's failure, told with the system
// error: not the caller's file, not a time-out.
TEST(RecvData, AFullTemporaryFolderIsReportedAsTheSystemError) {
    if (::geteuid() != 0) GTEST_SKIP() << "a file system of its own needs root";
    ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << errno; // before any thread
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    TransferFixture f(TransferSetup{.compressId = 1, .centerArgs = {"--fault", "entity-first@file"}});
    SmallFileSystem full(f.scratch(), "size=256k");
    std::string noise(1 << 20, '\0');
    std::mt19937 random(5);
    for (char& c : noise) c = static_cast<char>(random());

    writeFile(f.userFolder() / "out.dat", noise);
    expectTriple(f.transport().PLSendData("K001", f.userFolder().string(), "out.dat"), 5, ENOSPC,
                 "一時ファイルにコピーできません");
    offer(f, "in.dat", noise);
    expectTriple(receive(f).result, 1, ENOSPC, "受信データの保存に失敗");

    // Not even the center's first reply can be kept: a send tells it as a send.
    {
        UniqueFd filler(::open((f.scratch() / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        while (::write(filler.get(), noise.data(), noise.size()) > 0) {
        }
        ASSERT_EQ(errno, ENOSPC);
    }
    expectTriple(f.transport().PLSendData("K001", f.userFolder().string(), "out.dat"), 1, ENOSPC,
                 "電文解析のparseで失敗しました");
    fs::remove(f.scratch() / "filler");
    EXPECT_TRUE(userFiles(f) == std::vector<std::string>{"out.dat"});
    EXPECT_TRUE(fs::is_empty(f.scratch()));
}
