// plbat1 and plbatwrap as programs: transfers by DataName through the real
// service and the center simulator, and the launcher around them.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/batch/ToolFixture.h"

using namespace plx;
using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::ToolTerminal;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

constexpr const char* kResultFile = "temp_plBat1.txt";

std::string binaryData() {
    std::string data;
    for (int i = 0; data.size() < 200000; ++i) data += static_cast<char>((i * 7919) % 256);
    return data + std::string("\r\n\0tail", 7);
}

// A terminal with the data kinds of the tests and their plxapp.ini pairs;
// the client files live in user/.
struct BatchTerminal : ToolTerminal {
    fs::path user = service.home() / "user";

    explicit BatchTerminal(const std::vector<std::string>& centerArgs = {}) : ToolTerminal(centerArgs) {
        fs::create_directory(user);
        addKind("K001", "月次 売上");
        addKind("K002", "受信");
        addKind("K003", "二重");
        addKind("K004", "二重");
        addKind("K005", "大文字");
        writeFile(service.home() / "plxapp.ini",
                  "[K001]\nclfilename=" + (user / "out.dat").string() + "\nsendrecv=send\n" +
                      "[K002]\nclfilename=" + (user / "in.dat").string() + "\nsendrecv=recv\n" +
                      "[K003]\nclfilename=" + (user / "out.dat").string() + "\nsendrecv=send\n" +
                      "[K004]\nclfilename=" + (user / "missing.dat").string() + "\nsendrecv=send\n" +
                      "[K005]\nclfilename=" + (user / "upper.dat").string() + "\nsendrecv=Send\n");
    }
    std::string resultFile() const { return readFile(work / kResultFile); }
};

void makeExecutable(const fs::path& path, const std::string& script) {
    writeFile(path, script);
    fs::permissions(path, fs::perms::owner_all);
}

} // namespace

TEST(Plbat1, SendsAndReceivesByDataName) {
    BatchTerminal t;
    std::string data = binaryData();
    writeFile(t.user / "out.dat", data);
    // The name holds a blank: it reaches plbat1 as one argument.
    test::ProgramRun run = t.run("plbat1", {"月次 売上"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(t.resultFile(), "\"正常(0)\"\r\n");
    EXPECT_EQ(t.receivedAtCenter(), std::vector<std::string>{data});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");

    fs::create_directories(t.center.store() / "outbox");
    writeFile(t.center.store() / "outbox" / "a.dat", data);
    run = t.run("plbat1", {"受信"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(t.resultFile(), "\"正常(0)\"\r\n");
    EXPECT_EQ(readFile(t.user / "in.dat"), data);
}

TEST(Plbat1, AFollowUpProgramThatCannotStartIsShownAndTheTransferStillSucceeds) {
    BatchTerminal t;
    t.addKind("K001", "月次 売上", "/nonexistent/after-send --now");
    writeFile(t.user / "out.dat", "payload");
    test::ProgramRun run = t.run("plbat1", {"月次 売上"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(t.resultFile(), "\"正常(0)\"\r\n");
    EXPECT_EQ(run.err, "Korvane/PLX プログラム実行: \"/nonexistent/after-send --now\"の呼び出しに失敗しました。\n");
}

TEST(Plbat1, ACenterRefusalEndsWithTheCentersCode) {
    BatchTerminal t({"--fault", "result=33@file"});
    writeFile(t.user / "out.dat", "payload");
    test::ProgramRun run = t.run("plbat1", {"月次 売上"});
    EXPECT_EQ(run.exitCode, 33);
    EXPECT_EQ(t.resultFile(), "\"二重ファイル転送(33)\"\r\n");
}

TEST(Plbat1, NamesItCannotUse) {
    BatchTerminal t;
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string result;
    };
    for (const Case& c : {Case{{}, 103, "ファイル名称を指定して下さい(103)"},
                          Case{{"月次", "売上"}, 104, "ファイル名称は一つしか指定できません(104)"},
                          Case{{"\""}, 105, "コマンドライン引数が不正です(105)"},
                          Case{{"月次売上"}, 102, "指定したファイル名称は登録がありません(102)"},
                          Case{{""}, 102, "指定したファイル名称は登録がありません(102)"}}) {
        test::ProgramRun run = t.run("plbat1", c.args);
        EXPECT_EQ(run.exitCode, c.exit);
        EXPECT_EQ(t.resultFile(), "\"" + c.result + "\"\r\n");
    }
    EXPECT_TRUE(t.receivedAtCenter().empty());
}

TEST(Plbat1, TheFirstOfTwoKindsWithOneNameIsUsedAndOnlyLowerCaseSendSends) {
    BatchTerminal t;
    writeFile(t.user / "out.dat", "first kind's file");
    test::ProgramRun run = t.run("plbat1", {"二重"}); // K003, not K004 whose file is missing
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(t.receivedAtCenter(), std::vector<std::string>{"first kind's file"});
    // "Send" is no "send": a receive, of which the center has nothing.
    writeFile(t.user / "upper.dat", "not sent");
    run = t.run("plbat1", {"大文字"});
    EXPECT_EQ(run.exitCode, 32);
    EXPECT_EQ(t.resultFile(), "\"ファイルなし(32)\"\r\n");
    EXPECT_EQ(t.receivedAtCenter().size(), 1u);
}

TEST(Plbat1, AFailureOtherThanTheCentersEnds101WithTheServicesMessage) {
    BatchTerminal t;
    test::ProgramRun run = t.run("plbat1", {"二重"}); // its file is missing
    EXPECT_EQ(run.exitCode, 101);
    std::string result = t.resultFile();
    EXPECT_TRUE(result.starts_with("\"") && result.ends_with("(101)\"\r\n")) << result;
    EXPECT_NE(result, "\"その他APIエラーが発生しました(101)\"\r\n"); // the service's own text
}

TEST(Plbat1, WithoutTheServiceTheStartFails) {
    test::NoService none;
    test::ProgramRun run = none.run("plbat1", {"月次"});
    EXPECT_EQ(run.exitCode, 101);
    EXPECT_EQ(readFile(none.work / kResultFile), "\"その他APIエラーが発生しました(101)\"\r\n");
}

// The bus turns away every caller but root here, as the installed policy
// does those outside the operators' group. Codes and result files stay what
// they were; standard error says why, as it does for a stopped service and a
// command line plbat1 cannot use.
TEST(Plbat1, ACallerTheServiceRefusesIsToldWhy) {
    if (::geteuid() != 0) GTEST_SKIP() << "a caller of another uid needs root";
    test::ServiceOnBus service("", "",
                               "<policy context=\"default\"><deny send_destination=\"com.korvane.PelorinIO\"/></policy>"
                               "<policy user=\"root\"><allow send_destination=\"com.korvane.PelorinIO\"/></policy>");
    TempDir work;
    fs::permissions(work.path(), fs::perms::all);
    ScopedEnv logs("PLX_LOG_DIR", (work / "log").string());
    auto run = [&](const std::string& program, std::vector<std::string> args, bool outsider) {
        args.insert(args.begin(), test::toolPath(program).string());
        return test::runCaptured(outsider ? test::as({65534, 65534, {}}, args) : args, work.path());
    };
    const std::string denied = "サービスを使う権限がありません（使えるのは root とグループ plx のメンバーです）\n";
    test::ProgramRun result = run("plbat1", {"月次"}, true);
    EXPECT_EQ(result.exitCode, 101);
    EXPECT_EQ(readFile(work / kResultFile), "\"その他APIエラーが発生しました(101)\"\r\n");
    EXPECT_EQ(result.err, "plbat1: " + denied);
    result = run("PLSearchReceivedCmd", {}, true);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.ends_with("PLSearchReceivedCmd: " + denied)) << result.err;

    service.stop();
    result = run("plbat1", {"月次"}, false);
    EXPECT_EQ(result.exitCode, 101);
    EXPECT_EQ(result.err, "plbat1: サービスが起動していません\n");
    result = run("plbat1", {}, false);
    EXPECT_EQ(result.exitCode, 103);
    EXPECT_EQ(readFile(work / kResultFile), "\"ファイル名称を指定して下さい(103)\"\r\n");
    EXPECT_EQ(result.err, "plbat1: ファイル名称を指定して下さい(103)\n");
}

TEST(Plbat1, AResultFileThatCannotBeWrittenIsSaidOnStandardError) {
    TempDir work;
    fs::create_directory(work / kResultFile);
    test::ProgramRun run = test::runCaptured({test::toolPath("plbat1").string()}, work.path());
    EXPECT_EQ(run.exitCode, 103);
    EXPECT_TRUE(run.err.starts_with("plbat1: temp_plBat1.txt: ")) << run.err;
}

TEST(Plbatwrap, WithoutArgumentsPrintsThe103LineAndRemovesTheResultFile) {
    TempDir work;
    test::ProgramRun run = test::runCaptured({test::toolPath("plbatwrap").string()}, work.path());
    EXPECT_EQ(run.exitCode, 103);
    EXPECT_EQ(run.out, "ファイル名称を指定して下さい(103)\n");
    EXPECT_FALSE(fs::exists(work / kResultFile));
}

TEST(Plbatwrap, PassesAQuotedNameWithBlanksThroughAndPrintsTheOutcome) {
    BatchTerminal t;
    writeFile(t.user / "out.dat", "through the launcher");
    test::ProgramRun run = t.run("plbatwrap", {"月次 売上"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "正常(0)\n");
    EXPECT_EQ(t.receivedAtCenter(), std::vector<std::string>{"through the launcher"});
    run = t.run("plbatwrap", {"月次", "売上"});
    EXPECT_EQ(run.exitCode, 104);
    EXPECT_EQ(run.out, "ファイル名称は一つしか指定できません(104)\n");
    EXPECT_FALSE(fs::exists(t.work / kResultFile));
}

// The launcher alone in a folder, with a stand-in plbat1 where a test wants one.
class LauncherAlone : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(bin);
        fs::copy_file(test::toolPath("plbatwrap"), bin / "plbatwrap");
    }
    test::ProgramRun launch(const std::vector<std::string>& args = {}) {
        std::vector<std::string> argv{(bin / "plbatwrap").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::runCaptured(argv, work.path());
    }

    TempDir root;
    fs::path bin = root / "bin";
    TempDir work;
    ScopedEnv path{"PATH", ".:" + (root / "path").string() + ":/usr/bin:/bin"};
};

TEST_F(LauncherAlone, AMissingPlbat1Ends110AndTheCurrentFolderIsNeverSearched) {
    makeExecutable(work / "plbat1", "#!/bin/sh\ntouch ran\n");
    test::ProgramRun run = launch({"x"});
    EXPECT_EQ(run.exitCode, 110);
    EXPECT_EQ(run.out, "plBat1アプリケーション起動エラーが発生しました(110)\n");
    EXPECT_FALSE(fs::exists(work / "ran"));
}

TEST_F(LauncherAlone, ArgumentsPassUnchangedAndPathIsSearchedAfterItsOwnFolder) {
    fs::create_directory(root / "path");
    makeExecutable(root / "path" / "plbat1", "#!/bin/sh\nprintf '\"path\"\\r\\n' > temp_plBat1.txt\n");
    EXPECT_EQ(launch().out, "path\n");
    makeExecutable(bin / "plbat1",
                   "#!/bin/sh\nprintf '%s|' \"$@\" > args\nprintf '\"own\"\\r\\n' > temp_plBat1.txt\nexit 3\n");
    test::ProgramRun run = launch({"A B", "", "c\"d"});
    EXPECT_EQ(run.out, "own\n");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(readFile(work / "args"), "A B||c\"d|");
}

TEST_F(LauncherAlone, ALongUtf8LineIsPrintedWhole) {
    std::string text;
    while (text.size() < 900) text += "受信データ保存ディレクトリが存在しないか、読み取り専用属性です";
    makeExecutable(bin / "plbat1",
                   "#!/bin/sh\nprintf '\"%s(101)\"\\r\\n' '" + text + "' > temp_plBat1.txt\nexit 101\n");
    test::ProgramRun run = launch({"x"});
    EXPECT_EQ(run.exitCode, 101);
    EXPECT_EQ(run.out, text + "(101)\n");
    EXPECT_FALSE(fs::exists(work / kResultFile));
}

TEST_F(LauncherAlone, AStaleResultFileIsNeverPrinted) {
    writeFile(work / kResultFile, "\"正常(0)\"\r\n");
    makeExecutable(bin / "plbat1", "#!/bin/sh\nexit 7\n");
    test::ProgramRun run = launch({"x"});
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_EQ(run.out, "\n");
    // A plbat1 ended by a signal never counts as a success.
    makeExecutable(bin / "plbat1", "#!/bin/sh\nkill -9 $$\n");
    run = launch({"x"});
    EXPECT_EQ(run.exitCode, 128 + 9);
}
