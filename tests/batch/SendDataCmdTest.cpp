// PLSendDataCmd as a program: a send through the real service to the center
// simulator, its marker beside the data file and its daily log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/ChildProcess.h"
#include "tests/batch/ToolFixture.h"
#include "tools/batch/CommandLog.h"

using namespace plx;
using test::readFile;
using test::ToolTerminal;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

struct LogLine {
    char type;
    std::string pid;
    std::string text;
    friend bool operator==(const LogLine&, const LogLine&) = default;
    friend std::ostream& operator<<(std::ostream& os, const LogLine& l) {
        return os << l.type << "-" << l.pid << " " << l.text;
    }
};

// "yyyy/MM/dd H:mm:ss <T-pid> text", every line from one process.
std::vector<LogLine> parseLog(const std::vector<std::string>& lines) {
    static const std::regex layout(R"(^\d{4}/\d{2}/\d{2} (1?\d|2[0-3]):[0-5]\d:[0-5]\d <([IE])-([1-9]\d*)> (.*)$)");
    std::vector<LogLine> out;
    for (const std::string& line : lines) {
        std::smatch m;
        if (!std::regex_match(line, m, layout)) {
            ADD_FAILURE() << line;
            continue;
        }
        out.push_back({m[2].str()[0], m[3].str(), m[4].str()});
    }
    return out;
}

struct SendTerminal : ToolTerminal {
    explicit SendTerminal(const std::vector<std::string>& centerArgs = {}) : ToolTerminal(centerArgs) {
        fs::create_directory(user);
        addKind("K001", "kind");
    }
    test::ProgramRun send(const std::string& fileType, const std::string& fileName) {
        return run("PLSendDataCmd", {fileType, user.string(), fileName});
    }
    std::vector<std::string> markers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(user))
            if (e.path().extension() == ".sendok" || e.path().extension() == ".sendng")
                names.push_back(e.path().filename().string());
        return names;
    }

    fs::path user = work / "データ dir";
};

} // namespace

TEST(SendDataCmd, ASendLeavesSendokAndLogsWithItsPid) {
    SendTerminal t;
    writeFile(t.user / "売上.dat", "sales\r\nfigures");
    test::ProgramRun run = t.send("K001", "売上.dat");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(t.user / "売上.dat.sendok"), "\r\n");
    EXPECT_EQ(t.markers(), std::vector<std::string>{"売上.dat.sendok"});
    EXPECT_EQ(t.receivedAtCenter(), std::vector<std::string>{"sales\r\nfigures"});
    std::vector<LogLine> log = parseLog(t.logLines("PLSendDataCmd_"));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], (LogLine{'I', log[0].pid, "fileType:K001, path:" + t.user.string() + ", fileName:売上.dat"}));
    EXPECT_EQ(log[1], (LogLine{'I', log[0].pid, "Success"}));
    EXPECT_NE(log[0].pid, std::to_string(::getpid()));
}

TEST(SendDataCmd, ACenterRefusalLeavesSendngWithTheCodeAndTheTablesMessage) {
    SendTerminal t({"--fault", "result=14@auth"});
    writeFile(t.user / "a.dat", "x");
    test::ProgramRun run = t.send("K001", "a.dat");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(readFile(t.user / "a.dat.sendng"), "14\r\n");
    EXPECT_EQ(t.markers(), std::vector<std::string>{"a.dat.sendng"});
    std::vector<LogLine> log = parseLog(t.logLines("PLSendDataCmd_"));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], (LogLine{'E', log[0].pid, "fileType:K001, path:" + t.user.string() + ", fileName:a.dat"}));
    EXPECT_EQ(log[1].text.rfind("ErrCd:5, Detail:14, Msg:Not in Service, ErrMsg:", 0), 0u) << log[1];
    // The caller sees the same, and the service's own text, at once.
    EXPECT_EQ(run.err, "PLSendDataCmd: " + log[1].text + "\n");
    EXPECT_GT(log[1].text.size(), std::string("ErrCd:5, Detail:14, Msg:Not in Service, ErrMsg:").size());

    // A name the bus cannot carry is the caller's error, not the service's.
    run = t.send("K001", "a\xff.dat");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "PLSendDataCmd: 引数が UTF-8 ではありません\n");
    EXPECT_EQ(parseLog(t.logLines("PLSendDataCmd_")).size(), 2u);
}

TEST(SendDataCmd, OtherFailuresAreNoCenterCodes) {
    SendTerminal t;
    writeFile(t.user / "a.dat", "x");
    // An argument error: detail 1 is the argument's number, no "Transmission Obstacled".
    EXPECT_EQ(t.send("K0001", "a.dat").exitCode, 1);
    EXPECT_EQ(readFile(t.user / "a.dat.sendng"), "1\r\n");
    std::vector<LogLine> log = parseLog(t.logLines("PLSendDataCmd_"));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].text.rfind("ErrCd:4, Detail:1, Msg:Other Error, ErrMsg:", 0), 0u) << log[1].text;
    EXPECT_TRUE(t.receivedAtCenter().empty());
}

TEST(SendDataCmd, WithoutTheServiceTheSendFailsWith99) {
    test::NoService none;
    writeFile(none.work / "a.dat", "x");
    test::ProgramRun run = none.run("PLSendDataCmd", {"K001", none.work.path().string(), "a.dat"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(readFile(none.work / "a.dat.sendng"), "99\r\n");
    EXPECT_FALSE(fs::exists(none.work / "a.dat.sendok"));
}

TEST(SendDataCmd, ANameWhoseMarkerJustFitsGetsItsMarker) {
    test::NoService none;
    std::string name(248, 'n'); // with ".sendng" the longest name a folder holds
    writeFile(none.work / name, "x");
    test::ProgramRun run = none.run("PLSendDataCmd", {"K001", none.work.path().string(), name});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(readFile(none.work / (name + ".sendng")), "99\r\n") << run.err;
}

// Any user of the shared log folder may put a FIFO where the day's log goes.
TEST(SendDataCmd, AFifoInPlaceOfTheDaysLogIsNeitherWaitedForNorWritten) {
    test::NoService none;
    fs::path fifo = none.logs / commandLogFileName("PLSendDataCmd_", localNow().value());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    writeFile(none.work / "a.dat", "x");
    ChildProcess tool({test::toolPath("PLSendDataCmd").string(), "K001", none.work.path().string(), "a.dat"},
                      ChildOptions{.errors = ChildStream::toFile(none.work / "err")});
    std::optional<int> status = tool.waitFor(std::chrono::seconds(60));
    ASSERT_TRUE(status) << "held by the FIFO";
    EXPECT_EQ(exitCodeOf(*status), 1);
    EXPECT_EQ(readFile(none.work / "a.dat.sendng"), "99\r\n");
    EXPECT_NE(readFile(none.work / "err")
                  .find("ログファイルに書き込めません: " + fifo.string() + ": 通常のファイルではありません\n"),
              std::string::npos)
        << readFile(none.work / "err");
}

TEST(SendDataCmd, FewerThanThreeArgumentsSendNothingAndMarkNothing) {
    SendTerminal t;
    writeFile(t.user / "a.dat", "x");
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"K001"}, {"K001", t.user.string()}}) {
        test::ProgramRun run = t.run("PLSendDataCmd", args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, "使用法: PLSendDataCmd ファイル種別 フォルダ ファイル名\n");
    }
    EXPECT_TRUE(t.markers().empty());
    EXPECT_TRUE(t.logLines("PLSendDataCmd_").empty());
    EXPECT_TRUE(t.receivedAtCenter().empty());
}

TEST(SendDataCmd, ANameThatLeavesTheFolderIsRefusedAndMarkersNeverStandTogether) {
    SendTerminal t;
    writeFile(t.work / "a.dat", "outside the folder");
    for (const char* name : {"../a.dat", "sub/a.dat", "..", ""}) {
        test::ProgramRun run = t.send("K001", name);
        EXPECT_EQ(run.exitCode, 2) << name;
        EXPECT_EQ(run.err, std::string("PLSendDataCmd: ファイル名の指定が不正です: ") + name + "\n");
    }
    // A relative folder would put the marker beside wherever the tool was started.
    test::ProgramRun relative = t.run("PLSendDataCmd", {"K001", ".", "a.dat"});
    EXPECT_EQ(relative.exitCode, 2);
    EXPECT_EQ(relative.err, "PLSendDataCmd: ディレクトリの指定が不正です: .\n");
    EXPECT_FALSE(fs::exists(t.work / "a.dat.sendng"));
    EXPECT_TRUE(t.markers().empty());
    EXPECT_TRUE(t.logLines("PLSendDataCmd_").empty());

    // Each try's marker replaces the other kind an earlier one left.
    writeFile(t.user / "b.dat", "x");
    writeFile(t.user / "b.dat.sendng", "14\r\n");
    EXPECT_EQ(t.send("K001", "b.dat").exitCode, 0);
    EXPECT_EQ(t.markers(), std::vector<std::string>{"b.dat.sendok"});
    EXPECT_EQ(t.send("K0001", "b.dat").exitCode, 1);
    EXPECT_EQ(t.markers(), std::vector<std::string>{"b.dat.sendng"});
    EXPECT_EQ(t.receivedAtCenter(), std::vector<std::string>{"x"});
}

TEST(SendDataCmd, ASuccessMarkerThatCannotBeWrittenNeverBecomesSendng) {
    SendTerminal t;
    writeFile(t.user / "a.dat", "sent anyway");
    fs::create_directory(t.user / "a.dat.sendok");
    test::ProgramRun run = t.send("K001", "a.dat");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.err, "PLSendDataCmd: " + (t.user / "a.dat.sendok").string() + ": Is a directory\n");
    EXPECT_FALSE(fs::exists(t.user / "a.dat.sendng"));
    EXPECT_EQ(t.receivedAtCenter(), std::vector<std::string>{"sent anyway"});
    EXPECT_EQ(parseLog(t.logLines("PLSendDataCmd_")).back().text, "Success");
}

TEST(SendDataCmd, ALogThatCannotBeWrittenNeverStopsTheSend) {
    SendTerminal t;
    writeFile(t.logs / "plx", ""); // a file where the log folder should be
    writeFile(t.user / "a.dat", "x");
    test::ProgramRun run = t.send("K001", "a.dat");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFile(t.user / "a.dat.sendok"), "\r\n");
    EXPECT_NE(run.err.find("ログファイルに書き込めません"), std::string::npos) << run.err;
}

// Two users of the tools' group, each with a umask that would keep the other
// out: the first makes the log folder and the day's file, the second appends.
TEST(SendDataCmd, EveryUserOfTheGroupAppendsToTheSharedDailyLog) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
    test::NoService none;
    test::TempDir shared;
    fs::permissions(shared.path(), fs::perms::all);
    test::ScopedEnv logDir("PLX_LOG_DIR", (shared / "log").string());
    auto sendAs = [&](std::vector<std::string> ids) {
        std::vector<std::string> argv{"/usr/bin/setpriv"};
        argv.insert(argv.end(), ids.begin(), ids.end());
        for (const char* a : {"--", "/bin/sh", "-c", "umask 077; exec \"$0\" \"$@\""}) argv.emplace_back(a);
        for (const std::string& a : {test::toolPath("PLSendDataCmd").string(), std::string("K001"),
                                     shared.path().string(), std::string("a.dat")})
            argv.push_back(a);
        return test::runCaptured(argv);
    };
    test::ProgramRun first = sendAs({"--reuid=40001", "--regid=40000", "--clear-groups"});
    test::ProgramRun second = sendAs({"--reuid=40002", "--regid=40002", "--groups=40000"});
    EXPECT_EQ(first.exitCode, 1) << first.err;
    EXPECT_EQ(second.err.find("ログファイルに書き込めません"), std::string::npos) << second.err;
    std::vector<std::string> lines;
    for (const auto& e : fs::directory_iterator(shared / "log")) {
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    std::vector<LogLine> log = parseLog(lines);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_NE(log[0].pid, log[2].pid);
}

// The one slow test: the center takes longer than the bus's usual 25 s
// reply time-out to answer the file.
TEST(SendDataCmd, ACenterSlowerThanThirtySecondsStillSucceeds) {
    SendTerminal t({"--fault", "slow@file", "--slow-seconds", "32"});
    writeFile(t.user / "a.dat", "slowly");
    test::ProgramRun run = t.send("K001", "a.dat");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(t.user / "a.dat.sendok"), "\r\n");
    EXPECT_EQ(t.receivedAtCenter(), std::vector<std::string>{"slowly"});
}
