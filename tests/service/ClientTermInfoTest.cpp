#include "service/classes/Client.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

std::string repeat(std::string_view unit, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += unit;
    return out;
}

TerminalRec validTerm() {
    return {"1234567890123456",   "0000000000000042", "center01",   "https://center.example/plx", "pass1234", "1.0",
            "proxy.example:8080", "proxyuser",        "proxysecret"};
}

class ClientTermInfoTest : public ::testing::Test {
protected:
    test::ScopedHome home;
    // Failure records would go to the journal; these tests do not read the log.
    test::ScopedEnv noLog{"PLX_PLLOG_LIBRARY", (home / "absent-libPLlog.so").string()};
    Client client;

    fs::path termIni() const { return home / "plterm.ini"; }

    ApiResult set(const TerminalRec& r) {
        return client.PLSetTermInfo(r.TerminalID, r.CenterID, r.CenterHost, r.CenterURL, r.Password, r.ProtocolVersion,
                                    r.ProxyServer, r.ProxyUser, r.ProxyPassword);
    }

    void expectFailure(const ApiResult& result, std::int32_t code, std::int32_t detail, const std::string& message) {
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(client.triple().code(), code);
        EXPECT_EQ(client.triple().detail(), detail);
        EXPECT_EQ(client.triple().message(), message);
    }
};

TEST_F(ClientTermInfoTest, SetChecksArgumentsInOrderAndWritesNothingOnRefusal) {
    struct Refused {
        std::function<void(TerminalRec&)> change;
        std::int32_t detail;
        const char* message;
    };
    const char* notDigits = "端末IDに数字以外の文字が入力されました";
    const std::vector<Refused> cases = {
        {[](TerminalRec& r) { r.TerminalID = ""; }, 1, "端末IDが未入力です"},
        {[](TerminalRec& r) { r.TerminalID = repeat("1", 17); }, 1, "端末IDが16桁を超えました"},
        {[](TerminalRec& r) { r.CenterID = ""; }, 2, "センタIDが未入力です"},
        {[](TerminalRec& r) { r.CenterID = repeat("2", 17); }, 2, "センタIDが16桁を超えました"},
        {[](TerminalRec& r) { r.CenterHost = repeat("h", 17); }, 3, "センタホスト名が16桁を超えました"},
        {[](TerminalRec& r) { r.CenterURL = repeat("u", 257); }, 4, "センタURLが256桁を超えました"},
        {[](TerminalRec& r) { r.Password = ""; }, 5, "パスワードが未入力です"},
        {[](TerminalRec& r) { r.Password = "123456789"; }, 5, "パスワードが8桁を超えました"},
        {[](TerminalRec& r) { r.ProtocolVersion = "1.0.1"; }, 6, "プロトコルバージョンが4桁を超えました"},
        {[](TerminalRec& r) { r.ProxyServer = repeat("p", 257); }, 7, "プロクシーURLが256桁を超えました"},
        {[](TerminalRec& r) { r.ProxyUser = repeat("u", 257); }, 8, "プロクシーユーザーが256桁を超えました"},
        {[](TerminalRec& r) { r.ProxyPassword = repeat("s", 257); }, 9, "プロクシーパスワードが256桁を超えました"},
        {[](TerminalRec& r) { r.TerminalID = "12A"; }, 1, notDigits},
        {[](TerminalRec& r) { r.TerminalID = "１２３"; }, 1, notDigits}, // full-width digits are not 0 to 9
        {[](TerminalRec& r) { r.CenterID = "9X"; }, 2, "センタIDに数字以外の文字が入力されました"},
        // The digit checks come after every length check, the terminal's first.
        {[](TerminalRec& r) {
             r.TerminalID = "12A";
             r.CenterHost = repeat("h", 17);
         },
         3, "センタホスト名が16桁を超えました"},
        {[](TerminalRec& r) {
             r.TerminalID = "12A";
             r.ProxyPassword = repeat("s", 257);
         },
         9, "プロクシーパスワードが256桁を超えました"},
        {[](TerminalRec& r) {
             r.TerminalID = "12A";
             r.CenterID = "9X";
         },
         1, notDigits},
        // What plterm.ini cannot carry is the argument's fault, not the store's.
        {[](TerminalRec& r) { r.CenterHost = "a\nb"; }, 3, "管理ファイルに書き込めない文字が含まれています"},
        {[](TerminalRec& r) { r.CenterURL = "http://x/\r"; }, 4, "管理ファイルに書き込めない文字が含まれています"},
        {[](TerminalRec& r) { r.Password = "p\nw"; }, 5, "管理ファイルに書き込めない文字が含まれています"},
        {[](TerminalRec& r) { r.ProxyPassword = "s\r\n[x]"; }, 9, "管理ファイルに書き込めない文字が含まれています"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        TerminalRec rec = validTerm();
        cases[i].change(rec);
        expectFailure(set(rec), kApiBadArgument, cases[i].detail, cases[i].message);
        EXPECT_FALSE(fs::exists(termIni()));
    }
}

TEST_F(ClientTermInfoTest, EverythingSetWithinTheCharacterLimitsReadsBack) {
    TerminalRec rec;
    rec.TerminalID = repeat("9", 16);
    rec.CenterID = repeat("0", 16);
    rec.CenterHost = repeat("局", 16);
    rec.CenterURL = repeat("𠀋", 256); // 1024 bytes: no byte buffer may cut it
    rec.Password = " 秘密の合言葉 ";   // 8 characters, blanks at both ends
    rec.ProtocolVersion = "版１．０";
    rec.ProxyServer = repeat("代", 256);
    rec.ProxyUser = "\"" + repeat("利", 254) + "\""; // quotes the file would otherwise eat
    rec.ProxyPassword = repeat("密", 256);
    ASSERT_FALSE(set(rec).failed) << client.triple().message();

    TerminalRec back;
    ASSERT_FALSE(client.PLGetTermInfo(back).failed) << client.triple().message();
    EXPECT_EQ(back, rec);
}

TEST_F(ClientTermInfoTest, WritesTheNineKeysInOrderIntoAPrivateFile) {
    TerminalRec rec = validTerm();
    rec.CenterURL = "";
    rec.ProxyUser = "";
    ASSERT_FALSE(set(rec).failed);
    EXPECT_EQ(test::readFile(termIni()),
              "[terminfo]\nterminalid=1234567890123456\ncenterid=0000000000000042\ncenterhost=center01\n"
              "centerurl=\npassword=pass1234\nprotocolversion=1.0\nproxyserver=proxy.example:8080\n"
              "proxyuser=\nproxypassword=proxysecret\n");
    struct stat st {};
    ASSERT_EQ(::stat(termIni().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ClientTermInfoTest, AWorldReadableFileBecomesPrivate) {
    test::writeFile(termIni(), "[terminfo]\nterminalid=1\n");
    ASSERT_EQ(::chmod(termIni().c_str(), 0644), 0);
    ASSERT_FALSE(set(validTerm()).failed);
    struct stat st {};
    ASSERT_EQ(::stat(termIni().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

// A failure whose triple said 0/0 read as success to every caller of the triple.
TEST_F(ClientTermInfoTest, GetWithoutTheFileFailsWithCodeTwo) {
    TerminalRec out{"stale", "stale", "", "", "", "", "", "", ""};
    expectFailure(client.PLGetTermInfo(out), kApiSystemError, ENOENT, "端末管理ファイル(plterm.ini)が見つかりません");
    EXPECT_EQ(out, TerminalRec{});
}

TEST_F(ClientTermInfoTest, GetFailsOnAMissingRequiredValueKeepingWhatItRead) {
    TerminalRec out;
    test::writeFile(termIni(), "[terminfo]\nterminalid=\ncenterid=77\npassword=pw\n");
    expectFailure(client.PLGetTermInfo(out), kApiSystemError, 0, "端末IDが不正です");
    test::writeFile(termIni(), "[terminfo]\nterminalid=11\npassword=pw\n");
    expectFailure(client.PLGetTermInfo(out), kApiSystemError, 0, "センタIDが不正です");
    EXPECT_EQ(out.TerminalID, "11");
    test::writeFile(termIni(), "[TermInfo]\nterminalid=11\ncenterid=22\ncenterurl=u\nproxyuser=pu\n");
    expectFailure(client.PLGetTermInfo(out), kApiSystemError, 0, "端末パスワードが不正です");
    EXPECT_EQ(out.CenterID, "22");
    EXPECT_EQ(out.CenterURL, "u");
    EXPECT_EQ(out.ProxyUser, "pu"); // after the failure too: the record can be shown for repair
}

TEST_F(ClientTermInfoTest, GetFailsOnAStoredValueOverItsLimit) {
    struct Stored {
        const char* key;
        std::size_t limit;
        const char* message;
    };
    const std::vector<Stored> keys = {
        {"terminalid", 16, "端末管理ファイルの端末IDが16桁を超えて設定されています"},
        {"centerid", 16, "端末管理ファイルのセンタIDが16桁を超えて設定されています"},
        {"centerhost", 16, "端末管理ファイルのセンタホストが16桁を超えて設定されています"},
        {"centerurl", 256, "端末管理ファイルのセンタURLが256桁を超えて設定されています"},
        {"password", 8, "端末管理ファイルのパスワードが8桁を超えて設定されています"},
        {"protocolversion", 4, "端末管理ファイルのプロトコルバージョンが4桁を超えて設定されています"},
        {"proxyserver", 256, "端末管理ファイルのプロキシ－アドレスが256桁を超えて設定されています"},
        {"proxyuser", 256, "端末管理ファイルのプロキシーユーザが256桁を超えて設定されています"},
        {"proxypassword", 256, "端末管理ファイルのプロキシーパスワードが256桁を超えて設定されています"},
    };
    for (std::size_t bad = 0; bad < keys.size(); ++bad) {
        SCOPED_TRACE(keys[bad].key);
        std::string text = "[terminfo]\n";
        for (std::size_t i = 0; i < keys.size(); ++i)
            text += std::string(keys[i].key) + "=" + repeat("1", i == bad ? keys[i].limit + 1 : 1) + "\n";
        test::writeFile(termIni(), text);
        TerminalRec out;
        expectFailure(client.PLGetTermInfo(out), kApiSystemError, 0, keys[bad].message);
        EXPECT_EQ(out.TerminalID, bad > 0 ? "1" : repeat("1", 17)); // every key, the bad one as stored
        EXPECT_EQ(out.ProxyPassword, bad < 8 ? "1" : repeat("1", 257));
    }
}

TEST_F(ClientTermInfoTest, GetHandsOutValidTextForBytesThatAreNot) {
    test::writeFile(termIni(), "[terminfo]\nterminalid=1\ncenterid=2\npassword=pw\ncenterhost=ab\xff\n");
    TerminalRec out;
    ASSERT_FALSE(client.PLGetTermInfo(out).failed);
    EXPECT_EQ(out.CenterHost, "ab\xEF\xBF\xBD");
}

// --- events, listeners and the one object ---

struct RecordingSink : ClientEvents {
    std::vector<std::string> calls;
    std::vector<std::thread::id> threads;
    void note(std::string text) {
        calls.push_back(std::move(text));
        threads.push_back(std::this_thread::get_id());
    }
    void PLSendStatus(std::int32_t t, std::int32_t s, std::int32_t p) override {
        note("send " + std::to_string(t) + " " + std::to_string(s) + " " + std::to_string(p));
    }
    void PLRecvStatus(std::int32_t t, std::int32_t r, std::int32_t p) override {
        note("recv " + std::to_string(t) + " " + std::to_string(r) + " " + std::to_string(p));
    }
    void PLRecvRequest(std::int32_t code, const std::string& fileType) override {
        note("request " + std::to_string(code) + " " + fileType);
    }
};

struct ThrowingSink : ClientEvents {
    void PLSendStatus(std::int32_t, std::int32_t, std::int32_t) override { throw std::runtime_error("gone"); }
    void PLRecvStatus(std::int32_t, std::int32_t, std::int32_t) override { throw 42; }
    void PLRecvRequest(std::int32_t, const std::string&) override { throw std::runtime_error("gone"); }
};

TEST(ClientEvents, ReachTheSinkOnTheReportingThreadAndNeverFailIt) {
    Client client;
    RecordingSink sink;
    client.innerPLRecvRequest(1, "none"); // no sink yet: nothing happens
    client.setEventSink(&sink);
    client.innerPLRecvRequest(4, "AB01");
    client.inSendStatus(1000, 10, 5);
    client.inRecvStatus(2000, 20, 6);
    std::thread worker([&] {
        client.inSendStatus(300, 30, 7);
        client.inRecvStatus(400, 40, 8);
    });
    auto workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"request 4 AB01", "send 1000 10 5", "recv 2000 20 6",
                                                    "send 300 30 7", "recv 400 40 8"}));
    EXPECT_EQ(sink.threads, (std::vector<std::thread::id>{std::this_thread::get_id(), std::this_thread::get_id(),
                                                          std::this_thread::get_id(), workerId, workerId}));

    ThrowingSink failing;
    client.setEventSink(&failing);
    EXPECT_NO_THROW(client.innerPLRecvRequest(2, "AB01"));
    EXPECT_NO_THROW(client.inSendStatus(1, 1, 1));
    EXPECT_NO_THROW(client.inRecvStatus(1, 1, 1));
}

TEST(ClientEvents, AliveCountFollowsTheSubscribers) {
    Client client;
    EXPECT_EQ(client.GetAliveCount(), 0); // nobody wired
    std::int32_t subscribers = 3;
    client.setSubscriberCounter([&] { return subscribers; });
    EXPECT_EQ(client.GetAliveCount(), 3);
    EXPECT_EQ(client.AliveCount(), 3);
    subscribers = 1;
    EXPECT_EQ(client.GetAliveCount(), 1);
    EXPECT_EQ(client.AliveCount(), 1);
    client.setSubscriberCounter([]() -> std::int32_t { throw std::runtime_error("bus gone"); });
    EXPECT_EQ(client.GetAliveCount(), 0);
}

TEST(ClientInstance, IsOneObjectWhoseTripleEveryCallerShares) {
    test::ScopedHome home;
    test::ScopedEnv noLog("PLX_PLLOG_LIBRARY", (home / "absent-libPLlog.so").string());
    std::shared_ptr<Client> fromThread;
    std::thread([&] { fromThread = Client::instance(); }).join();
    std::shared_ptr<Client> here = Client::instance();
    ASSERT_TRUE(here);
    EXPECT_EQ(here.get(), fromThread.get());
    fromThread->PLSetTermInfo("", "1", "", "", "pw", "", "", "", "");
    EXPECT_EQ(here->triple().message(), "端末IDが未入力です");
}

} // namespace
