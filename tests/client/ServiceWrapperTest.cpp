// The service wrapper the desktop client and the batch program share,
// against the real service and the center simulator on a private bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>

#include "client/FollowUpProgram.h"
#include "client/NamePlaceholders.h"
#include "client/ServiceWrapper.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using test::readFile;
using test::ScopedEnv;
using test::ServiceOnBus;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

TerminalRec terminal(const std::string& id, const std::string& url = "") {
    TerminalRec rec;
    rec.TerminalID = id;
    rec.CenterID = "9001";
    rec.CenterURL = url;
    rec.Password = "pw";
    rec.ProtocolVersion = "1.0";
    return rec;
}

// The boxes a program would have shown.
class RecordingNotifier final : public UserNotifier {
public:
    void show(const std::string& title, const std::string& text, Icon) override {
        std::lock_guard lock(mutex_);
        boxes.push_back(title + "|" + text);
    }
    std::vector<std::string> boxes;

private:
    std::mutex mutex_;
};

// 2 November 2005, 00:00:05.
LocalDateTime fixedNow() { return LocalDateTime{2005, 11, 2, 0, 0, 5}; }

// A terminal whose center is the simulator, with one data kind K001.
struct Terminal {
    test::CenterSimulator center{{"--terminal-id", "1001", "--center-id", "9001", "--password", "pw"}};
    ServiceOnBus service;
    RecordingNotifier boxes;
    ServiceWrapper wrapper{boxes, fixedNow};
    fs::path user = service.home() / "user";

    Terminal() {
        fs::create_directory(user);
        wrapper.SetTermInfo(terminal("1001", "http://127.0.0.1:" + std::to_string(center.port()) + "/"));
        FileRec kind;
        kind.FileType = "K001";
        kind.DataName = "テスト";
        kind.ServiceNo = 7;
        kind.ProtocolFilename = "PF01";
        kind.AccessKey = "AK0001";
        kind.RecordLength = -1;
        kind.CompressID = 1;
        wrapper.SetFileInfo(kind);
    }

    std::vector<std::string> receivedAtCenter() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(center.store() / "received")) out.push_back(readFile(e.path()));
        return out;
    }
};

// Waits until a program started in the background has written to path.
bool waitForWritten(const fs::path& path) {
    return test::waitFor([&] {
        std::error_code ec;
        return fs::file_size(path, ec) > 0 && !ec;
    });
}

// A terminal whose gateway admits the center only while an application is
// connected, for the center simulator's terminal 1001 and kind 7/PF01.
struct CheckedGateway {
    int port = test::freeLoopbackPort();
    ServiceOnBus service{"[http]\ndaemon=yes\nterminalport=" + std::to_string(port) + "\n[application]\ncheck=yes\n",
                         "[terminfo]\nterminalid=1001\ncenterid=9001\ncenterurl=http://127.0.0.1:1/\npassword=pw\n"
                         "protocolversion=1.0\n"};
    CheckedGateway() {
        writeFile(service.home() / "plfile.ini", "[K001]\ndataname=kind\nserviceno=7\nprotocolfilename=PF01\n"
                                                 "accesskey=AK0001\nrecordlength=-1\ncompressid=0\nuserdata=\n");
    }
    void start() {
        service.start();
        EXPECT_TRUE(test::waitForPort(port, 10));
    }
    // True once the service counts an application as connected.
    static bool connected() {
        return test::waitFor([] { return ServiceBus().client().GetAliveCount().wait().value > 0; });
    }
    // The center delivers a file: the gateway's exit code, 0 when accepted.
    int deliver() const {
        auto [code, summary] =
            test::runGateway(port, {"--mode", "deliver", "--data", "x", "--data-file-name", "in.dat"});
        return code;
    }
};

void expectTriple(const ServiceWrapper& w, std::int32_t code, std::int32_t detail, const std::string& message) {
    EXPECT_EQ(w.LastErrorCd(), code);
    EXPECT_EQ(w.LastErrorCdDetail(), detail);
    EXPECT_EQ(w.LastErrorMsg(), message);
}

} // namespace

TEST(NamePlaceholders, DateAndTimeNumbers) {
    EXPECT_EQ(expandPlaceholders("/data/%D", fixedNow()), "/data/20051102");
    EXPECT_EQ(expandPlaceholders("f%S.dat", fixedNow()), "f5.dat");
    EXPECT_EQ(expandPlaceholders("%D-%D", fixedNow()), "20051102-20051102");
    EXPECT_EQ(expandPlaceholders("%d%s%", fixedNow()), "%d%s%");
    EXPECT_EQ(expandPlaceholders("t%S", LocalDateTime{2005, 11, 2, 9, 5, 3}), "t90503");
    EXPECT_EQ(expandPlaceholders("t%S", LocalDateTime{2005, 11, 2, 0, 0, 0}), "t0");
    // A date number holding "%S" by accident cannot occur: digits only.
    EXPECT_EQ(expandPlaceholders("%%DS", fixedNow()), "%20051102S");
}

TEST(FollowUpProgram, WordsAndQuotes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitCommandLine("prog a  b"), (V{"prog", "a", "b"}));
    EXPECT_EQ(splitCommandLine("\"/opt/my prog\" \"x y\" z"), (V{"/opt/my prog", "x y", "z"}));
    EXPECT_EQ(splitCommandLine("a\"b c\"d"), (V{"ab cd"}));
    EXPECT_EQ(splitCommandLine("x \"\""), (V{"x", ""}));
    EXPECT_EQ(splitCommandLine("   "), V{});
}

TEST(FollowUpProgram, AScriptWithoutAnInterpreterLineRunsUnderTheShell) {
    test::TempDir dir;
    fs::path script = dir / "after";
    fs::path marker = dir / "ran";
    writeFile(script, "printf '%s|' \"$@\" > \"" + marker.string() + "\"\n");
    fs::permissions(script, fs::perms::owner_all);
    ScopedEnv path("PATH", dir.path().string() + ":/usr/bin:/bin");
    int error = -1;
    ASSERT_TRUE(startProgram("after \"a b\" c", error)) << error;
    EXPECT_EQ(error, 0);
    ASSERT_TRUE(waitForWritten(marker));
    EXPECT_EQ(readFile(marker), "a b|c|");
}

TEST(ServiceWrapper, ASendThroughTheWrapperExpandsNamesAndStartsTheFollowUp) {
    Terminal t;
    ASSERT_EQ(t.wrapper.LastErrorCd(), 0) << t.wrapper.LastErrorMsg();
    std::string data;
    for (int i = 0; data.size() < 50000; ++i) data += "line " + std::to_string(i * 7919 % 1000) + "\n";
    writeFile(t.user / "out20051102_5.dat", data);
    fs::path script = t.service.home() / "after send.sh";
    fs::path marker = t.service.home() / "ran";
    writeFile(script, "#!/bin/sh\nprintf '%s|' \"$@\" > \"" + marker.string() + "\"\n");
    fs::permissions(script, fs::perms::owner_all);

    t.wrapper.SendData("K001", t.user.string(), "out%D_%S.dat", "\"" + script.string() + "\" \"a b\" c");
    expectTriple(t.wrapper, 0, 0, "");
    EXPECT_EQ(t.receivedAtCenter(), std::vector<std::string>{data});
    ASSERT_TRUE(waitForWritten(marker));
    EXPECT_EQ(readFile(marker), "a b|c|");
    EXPECT_TRUE(t.boxes.boxes.empty());
}

TEST(ServiceWrapper, AMissingFollowUpProgramShowsTheBoxAndKeepsTheTripleClear) {
    Terminal t;
    writeFile(t.user / "out.dat", "payload");
    t.wrapper.SendData("K001", t.user.string(), "out.dat", "/nonexistent/after-send --now");
    expectTriple(t.wrapper, 0, 0, "");
    EXPECT_EQ(t.boxes.boxes,
              std::vector<std::string>{
                  "Korvane/PLX プログラム実行|\"/nonexistent/after-send --now\"の呼び出しに失敗しました。"});
}

TEST(ServiceWrapper, AFailedTransferKeepsTheServicesTripleAndStartsNothing) {
    Terminal t;
    fs::path marker = t.service.home() / "ran";
    t.wrapper.SendData("K001", t.user.string(), "missing%D.dat", "touch " + marker.string());
    EXPECT_EQ(t.wrapper.LastErrorCd(), 3); // the copy to a temporary file failed
    EXPECT_EQ(t.wrapper.LastErrorCdDetail(), ENOENT);
    EXPECT_FALSE(t.wrapper.LastErrorMsg().empty());
    // A receive the center refuses: nothing to deliver (32).
    std::string name = "in%D.dat";
    EXPECT_EQ(t.wrapper.RecvData("K001", t.user.string(), name, 0, "touch " + marker.string()), 0);
    EXPECT_EQ(t.wrapper.LastErrorCd(), 5);
    EXPECT_EQ(t.wrapper.LastErrorCdDetail(), 32);
    EXPECT_EQ(name, "in20051102.dat"); // expanded even when the receive fails
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_TRUE(t.boxes.boxes.empty());
    // The next call starts from a clear triple.
    EXPECT_EQ(t.wrapper.GetFileInfo(), 1);
    expectTriple(t.wrapper, 0, 0, "");
    EXPECT_EQ(t.wrapper.GetFileInfoAt(0).DataName, "テスト");
}

TEST(ServiceWrapper, AReceiveReturnsTheNameAndSize) {
    Terminal t;
    fs::create_directories(t.center.store() / "outbox");
    writeFile(t.center.store() / "outbox" / "a.dat", "delivered bytes");
    std::string name = "got_%D.dat";
    EXPECT_EQ(t.wrapper.RecvData("K001", t.user.string(), name, 0, ""), 15);
    expectTriple(t.wrapper, 0, 0, "");
    EXPECT_EQ(name, "got_20051102.dat");
    EXPECT_EQ(readFile(t.user / name), "delivered bytes");
}

TEST(ServiceWrapper, ASendAfterTheServiceStartedAgainReachesTheCenter) {
    Terminal t;
    writeFile(t.user / "out.dat", "before");
    t.wrapper.SendData("K001", t.user.string(), "out.dat", "");
    expectTriple(t.wrapper, 0, 0, "");
    t.service.stop();
    t.service.start();
    writeFile(t.user / "out.dat", "after");
    t.wrapper.SendData("K001", t.user.string(), "out.dat", "");
    expectTriple(t.wrapper, 0, 0, "");
    auto received = t.receivedAtCenter();
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received, (std::vector<std::string>{"after", "before"}));
}

TEST(ServiceWrapper, TheCenterDeliversAfterTheServiceStartedAgainOrLateWithoutACall) {
    CheckedGateway g;
    ASSERT_TRUE(test::waitForPort(g.port, 10));
    RecordingNotifier boxes;
    {
        ServiceWrapper wrapper(boxes);
        ASSERT_EQ(wrapper.LastErrorCd(), 0);
        EXPECT_EQ(g.deliver(), 0);
        g.service.stop();
        g.start();
        EXPECT_TRUE(g.connected());
        EXPECT_EQ(g.deliver(), 0);
    }
    g.service.stop();
    ServiceWrapper early(boxes);
    EXPECT_EQ(early.LastErrorCd(), 1);
    g.start();
    EXPECT_TRUE(g.connected());
    EXPECT_EQ(g.deliver(), 0);
}

TEST(ServiceWrapper, ASettingsRefusalLeavesTheServicesTriple) {
    ServiceOnBus service;
    RecordingNotifier boxes;
    ServiceWrapper wrapper(boxes);
    ASSERT_EQ(wrapper.LastErrorCd(), 0);
    wrapper.SetTermInfo(terminal("12a"));
    expectTriple(wrapper, 4, 1, "端末IDに数字以外の文字が入力されました");
    wrapper.DeleteFileInfo("NONE"); // no plfile.ini yet
    expectTriple(wrapper, 2, ENOENT, "ファイル管理ファイルへのアクセス中にエラー発生");
    EXPECT_EQ(wrapper.GetFileInfoAt(3), FileRec{});
    EXPECT_EQ(wrapper.LastErrorCd(), 2);
}

TEST(ServiceWrapper, WithoutTheServiceEveryOperationFails) {
    test::PrivateBus empty;
    ScopedEnv bus("PLX_BUS", empty.address());
    RecordingNotifier boxes;
    ServiceWrapper wrapper(boxes);
    EXPECT_EQ(wrapper.LastErrorCd(), 1);
    EXPECT_EQ(wrapper.LastErrorCdDetail(), 99);
    EXPECT_EQ(wrapper.GetTermInfo(), TerminalRec{});
    EXPECT_EQ(wrapper.LastErrorCd(), 1);
    EXPECT_EQ(wrapper.GetFileInfo(), 0);
    EXPECT_EQ(wrapper.LastErrorCd(), 1);
    fs::path marker = fs::temp_directory_path() / ("plx-never-" + std::to_string(::getpid()));
    wrapper.SendData("K001", "/tmp", "x.dat", "touch " + marker.string());
    EXPECT_EQ(wrapper.LastErrorCd(), 1);
    EXPECT_EQ(wrapper.LastErrorCdDetail(), 99);
    std::string name = "x.dat";
    EXPECT_EQ(wrapper.RecvData("K001", "/tmp", name, 0, ""), 0);
    EXPECT_EQ(wrapper.LastErrorCd(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(marker));
}
