#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <sys/fanotify.h>
#include <thread>

#include "centerlink/SessionControl.h"
#include "tests/service/TransferFixture.h"

using namespace plx;
using test::readFile;
using test::splitFields;
using test::TransferFixture;
using test::TransferSetup;
using test::writeFile;

namespace {

std::string receivedBy(TransferFixture& f) {
    for (const auto& e : std::filesystem::directory_iterator(f.center().store() / "received"))
        return readFile(e.path());
    return "";
}

bool noScratchLeft(TransferFixture& f) { return std::filesystem::is_empty(f.scratch()); }

ApiResult send(TransferFixture& f, const std::string& name, const std::string& data) {
    writeFile(f.userFolder() / name, data);
    return f.transport().PLSendData("K001", f.userFolder().string(), name);
}

// Reads of one file refused, as a file scanner refuses them: the file
// opens, its first allowed reads pass and the rest fail with EPERM.
class DeniedReads {
public:
    explicit DeniedReads(const std::filesystem::path& file, int allowed = 0)
        : allowed_(allowed),
          group_(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY | O_CLOEXEC)) {
        if (group_ && ::fanotify_mark(group_.get(), FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, file.c_str()) == 0)
            answering_ = std::thread([this] { answer(); });
    }
    ~DeniedReads() {
        stop_ = true;
        if (answering_.joinable()) answering_.join();
    }
    DeniedReads(const DeniedReads&) = delete;
    DeniedReads& operator=(const DeniedReads&) = delete;
    bool active() const { return answering_.joinable(); }

private:
    void answer() {
        while (!stop_) {
            pollfd ready{group_.get(), POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            alignas(fanotify_event_metadata) char events[4096];
            ssize_t n = ::read(group_.get(), events, sizeof events);
            for (auto* e = reinterpret_cast<fanotify_event_metadata*>(events); n > 0 && FAN_EVENT_OK(e, n);
                 e = FAN_EVENT_NEXT(e, n)) {
                fanotify_response answer{e->fd, allowed_-- > 0 ? std::uint32_t{FAN_ALLOW} : std::uint32_t{FAN_DENY}};
                (void)!::write(group_.get(), &answer, sizeof answer);
                ::close(e->fd);
            }
        }
    }

    int allowed_;
    UniqueFd group_;
    std::atomic<bool> stop_{false};
    std::thread answering_;
};

} // namespace

TEST(SendData, ArrivesWhole_PlainAndGzip_HttpAndHttps) {
    for (bool tls : {false, true}) {
        for (int compress : {0, 1}) {
            TransferFixture f(TransferSetup{.tls = tls, .compressId = compress});
            std::string data = test::sampleData(200000);
            ApiResult r = send(f, "out.dat", data);
            ASSERT_FALSE(r.failed) << r.code << "/" << r.detail << " " << r.message;
            EXPECT_EQ(receivedBy(f), data) << "tls " << tls << " compress " << compress;
            EXPECT_EQ(f.transport().triple().code(), 0);
            EXPECT_TRUE(noScratchLeft(f));
            ASSERT_EQ(f.sessionLog("20").size(), 1u);
            auto fields = splitFields(f.sessionLog("20")[0]);
            ASSERT_EQ(fields.size(), 23u);
            EXPECT_EQ(fields[3], "20"); // a terminal-started send
            EXPECT_EQ(fields[5], "00");
            EXPECT_EQ(fields[16], "1"); // variable length records are sent as length 1
            EXPECT_EQ(fields[17], "200000");
            EXPECT_EQ(fields[18], "200000"); // the real size
            EXPECT_EQ(fields[19], std::to_string(compress));
            auto api = splitFields(f.apiLog("PLSendData").back());
            EXPECT_EQ(api[5], "PLSendData");
            EXPECT_EQ(api[1], "0");
        }
    }
}

TEST(SendData, FixedLengthRecordsAndRecordLengthZero) {
    {
        TransferFixture f(TransferSetup{.recordLength = 4});
        ApiResult r = send(f, "ten.dat", "0123456789"); // three records of 4 bytes
        EXPECT_FALSE(r.failed) << r.message;
        auto fields = splitFields(f.sessionLog("20").at(0));
        EXPECT_EQ(fields[16], "4");
        EXPECT_EQ(fields[17], "3");
    }
    {
        TransferFixture f(TransferSetup{.recordLength = 0});
        send(f, "zero.dat", "0123456789"); // must not divide by zero, whatever the center says
        EXPECT_EQ(f.sessionLog("20").size(), 1u);
    }
}

TEST(SendData, ArgumentsAreCheckedBeforeAnythingElse) {
    TransferFixture f;
    writeFile(f.userFolder() / "a.dat", "x");
    ApiResult r = f.transport().PLSendData("K0011", f.userFolder().string(), "a.dat");
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.detail, 1);
    EXPECT_EQ(r.message, "ファイル種別が4桁を超えました");
    r = f.transport().PLSendData("K001", f.userFolder().string(), "missing.dat");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.detail, 2);
    EXPECT_EQ(r.message, "指定されたファイルが存在しません");
    r = f.transport().PLSendData("K001", f.userFolder().string(), std::string(65, 'n'));
    EXPECT_EQ(r.detail, 3);
    // A 64-character name in a folder of 128 characters passes the length checks.
    std::string folder = (f.userFolder() / std::string(128 - f.userFolder().string().size() - 1, 'd')).string();
    std::filesystem::create_directory(folder);
    writeFile(std::filesystem::path(folder) / std::string(64, 'f'), "data");
    r = f.transport().PLSendData("K001", folder, std::string(64, 'f'));
    EXPECT_FALSE(r.failed) << r.message;
    // A pipe is no file to send.
    ::mkfifo((f.userFolder() / "fifo").c_str(), 0600);
    r = f.transport().PLSendData("K001", f.userFolder().string(), "fifo");
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(f.sessionLog("20").size() == 1u); // only the successful send wrote one
    EXPECT_EQ(f.apiLog("PLSendData").size(), 5u);
}

TEST(SendData, CenterRefusalsBecomeTheTriple) {
    TransferFixture f(TransferSetup{.centerArgs = {"--fault", "result=31@auth"}});
    ApiResult r = send(f, "a.dat", "abc");
    EXPECT_EQ(r.code, 5);
    EXPECT_EQ(r.detail, 31);
    EXPECT_EQ(r.message, "ファイルアクセスキー不正");
    auto fields = splitFields(f.sessionLog("20").at(0));
    EXPECT_EQ(fields[4], "11");
    EXPECT_EQ(fields[5], "31");
    EXPECT_EQ(fields[16], ""); // the definition is logged with record length 0 ...
    EXPECT_EQ(fields[19], ""); // ... and compression -1
    EXPECT_TRUE(noScratchLeft(f));
}

// A file that opens but cannot be read is told with its system error, whether
// the digest's read fails or the second one while the plain data goes out.
TEST(SendData, AnUnreadableFileIsToldWithItsSystemError) {
    for (int allowed : {0, 1}) {
        SCOPED_TRACE(allowed);
        TransferFixture f;
        writeFile(f.userFolder() / "a.dat", test::sampleData(1000));
        DeniedReads denied(f.userFolder() / "a.dat", allowed);
        if (!denied.active()) GTEST_SKIP() << "no fanotify permission events";
        ApiResult r = f.transport().PLSendData("K001", f.userFolder().string(), "a.dat");
        EXPECT_EQ(r.code, 5);
        EXPECT_EQ(r.detail, EPERM);
        EXPECT_EQ(r.message, "ファイルから送信データを取得できません(指定ファイルを確認してください)");
    }
}

TEST(SendData, ARefusedRegistrationEndsTheCallWithoutItsRecords) {
    TransferFixture f(TransferSetup{.tls = true, .centerArgs = {"--fault", "result=31@regist"}});
    ApiResult r = send(f, "a.dat", "abc");
    EXPECT_EQ(r.code, 5);
    EXPECT_EQ(r.detail, 31);
    EXPECT_EQ(r.message, "端末の初期化に失敗したので処理を中止しました");
    EXPECT_TRUE(f.apiLog("PLSendData").empty());
    EXPECT_TRUE(f.sessionLog("20").empty());
    EXPECT_EQ(f.sessionLog("50").size(), 1u); // the registration's own
}

TEST(SendData, CookieAttributesAreNotSentBack) {
    TransferFixture f(TransferSetup{.centerArgs = {"--cookie-suffix", "; Path=/; HttpOnly"}});
    ApiResult r = send(f, "a.dat", "abc");
    EXPECT_FALSE(r.failed) << r.message; // the center refuses a cookie it did not issue
}

TEST(SendData, SilentCenterTimesOut) {
    TransferFixture f(TransferSetup{.centerArgs = {"--fault", "silent@auth", "--silent-seconds", "30"}});
    writeFile(f.home() / "pltimeout.ini", "[timeout]\nauth=1\ntcp=5\nconnect=5\n");
    ApiResult r = send(f, "a.dat", "abc");
    EXPECT_EQ(r.code, 5);
    EXPECT_EQ(r.detail, 1);
    EXPECT_EQ(r.message, "タイムアウトなどにより処理が中断されました。");
    auto fields = splitFields(f.sessionLog("20").at(0));
    EXPECT_EQ(fields[4], "11");
    EXPECT_EQ(fields[5], "01");
}

TEST(SendData, ClosingTheServiceStopsARunningSend) {
    TransferFixture f(TransferSetup{.centerArgs = {"--fault", "slow@file", "--slow-seconds", "60"}});
    SessionEvent::reset();
    std::atomic<bool> ended{false};
    std::thread closer([&] {
        test::waitFor([&] { return ended || f.center().log().find("PutFile") != std::string::npos; });
        SessionEvent::set(); // while the center holds its reply
    });
    ApiResult r = send(f, "a.dat", test::sampleData(1000));
    ended = true;
    closer.join();
    SessionEvent::reset();
    EXPECT_EQ(r.message, "セッションが中止されました");
    auto fields = splitFields(f.sessionLog("20").at(0));
    EXPECT_EQ(fields[5], "01");
    EXPECT_EQ(fields[6], "-100");
    EXPECT_TRUE(noScratchLeft(f));
}

TEST(SendData, NoSessionCountNoSend) {
    TransferFixture f;
    CountingSemaphore everything(kSessionCount, kSessionSemaphoreName);
    ASSERT_TRUE(everything.acquire(kSessionCount, 0));
    ApiResult r = send(f, "a.dat", "abc");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.message, "セッション中止");
    EXPECT_TRUE(f.apiLog("PLSendData").empty());
    EXPECT_TRUE(f.sessionLog("20").empty());
}

TEST(SendData, ThroughAProxy) {
    test::TinyProxy proxy("user", "secret");
    for (bool tls : {false, true}) {
        TransferFixture f(TransferSetup{.tls = tls,
                                        .termExtra = "proxyserver=127.0.0.1:" + std::to_string(proxy.port()) +
                                                     "\nproxyuser=user\nproxypassword=secret\nproxykeepalive=yes\n"});
        std::string data = test::sampleData(50000);
        ApiResult r = send(f, "via-proxy.dat", data);
        ASSERT_FALSE(r.failed) << "tls " << tls << ": " << r.message;
        EXPECT_EQ(receivedBy(f), data);
    }
}
