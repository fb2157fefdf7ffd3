// The tools' shared pieces on their own: the batch program's command line,
// exit codes and result text, the launcher's cut, the send tool's messages,
// the daily log and the marker files.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "tests/TestSupport.h"
#include "tools/batch/BatchResult.h"
#include "tools/batch/CommandLog.h"
#include "tools/batch/CrLfFile.h"
#include "tools/batch/ExitCode.h"
#include "tools/batch/SendFailureMessage.h"

using namespace plx;
using test::readFile;
using test::TempDir;
namespace fs = std::filesystem;

namespace {

struct ParserCase {
    std::vector<std::string> argv;
    std::string line; // as rebuilt from argv
    BatchExit exit;
    std::string dataName;
};

} // namespace

TEST(BatchCommandLine, ArgvIsRebuiltIntoOneLineAndParsed) {
    const std::vector<ParserCase> cases = {
        {{}, "", kBatchNoName, ""},
        {{"   "}, "\"   \"", kBatchSuccess, "   "},
        {{"売上"}, "売上", kBatchSuccess, "売上"},
        {{"A B"}, "\"A B\"", kBatchSuccess, "A B"},
        {{"A", "B"}, "A B", kBatchTwoNames, ""},
        {{"A", "", "B"}, "A \"\" B", kBatchBadQuotes, ""},
        {{"\""}, "\"", kBatchBadQuotes, ""},
        {{"\"\""}, "\"\"", kBatchSuccess, ""},
        {{""}, "\"\"", kBatchSuccess, ""},
        {{"a\"b"}, "a\"b", kBatchBadQuotes, ""},
        {{"\"a\"b\""}, "\"a\"b\"", kBatchBadQuotes, ""},
        {{"\"A B\""}, "\"A B\"", kBatchSuccess, "A B"},
        {{"tab\there"}, "\"tab\there\"", kBatchSuccess, "tab\there"},
    };
    for (const ParserCase& c : cases) {
        std::string line = joinCommandLine(c.argv);
        EXPECT_EQ(line, c.line);
        BatchArgument parsed = parseBatchCommandLine(line);
        EXPECT_EQ(parsed.exitCode, c.exit) << line;
        EXPECT_EQ(parsed.dataName, c.dataName) << line;
    }
}

TEST(BatchCommandLine, TheLineIsTrimmedOfBlanksBeforeAnyCheck) {
    const std::vector<std::pair<std::string, BatchArgument>> cases = {
        {"  売上  ", {kBatchSuccess, "売上"}},   {"   ", {kBatchNoName, ""}},        {"A  B", {kBatchTwoNames, ""}},
        {"  \" A \"  ", {kBatchSuccess, " A "}}, {"\"A\" B", {kBatchBadQuotes, ""}}, {"x\"", {kBatchBadQuotes, ""}},
    };
    for (const auto& [line, expected] : cases) {
        BatchArgument parsed = parseBatchCommandLine(line);
        EXPECT_EQ(parsed.exitCode, expected.exitCode) << line;
        EXPECT_EQ(parsed.dataName, expected.dataName) << line;
    }
}

TEST(BatchResult, ExitCodesKeepEightBitsAndNeverTurnAFailureIntoSuccess) {
    EXPECT_EQ(batchTransferExit(0, 0), 0);
    EXPECT_EQ(batchTransferExit(2, 13), 101);
    EXPECT_EQ(batchTransferExit(1, 99), 101);
    EXPECT_EQ(batchTransferExit(5, 33), 33);
    EXPECT_EQ(batchTransferExit(5, 255), 255);
    EXPECT_EQ(batchTransferExit(5, 0), 101);
    EXPECT_EQ(batchTransferExit(5, 256), 101);
    EXPECT_EQ(batchTransferExit(5, 300), 101);
    EXPECT_EQ(batchTransferExit(5, -1), 101);
    EXPECT_EQ(exitStatusOf(0x100000001LL, 7), 7);
}

TEST(BatchResult, TextsOfTheTable) {
    EXPECT_EQ(batchResultText("", kBatchSuccess), "正常(0)");
    EXPECT_EQ(batchResultText("二重ファイル転送", 33), "二重ファイル転送(33)");
    EXPECT_EQ(batchResultText(batchExitMessage(kBatchApiError), kBatchApiError), "その他APIエラーが発生しました(101)");
    EXPECT_EQ(batchResultText(batchExitMessage(kBatchUnknownName), kBatchUnknownName),
              "指定したファイル名称は登録がありません(102)");
    EXPECT_EQ(batchExitMessage(kBatchNoName), "ファイル名称を指定して下さい");
    EXPECT_EQ(batchExitMessage(kBatchTwoNames), "ファイル名称は一つしか指定できません");
    EXPECT_EQ(batchExitMessage(kBatchBadQuotes), "コマンドライン引数が不正です");
}

TEST(BatchResult, TheLauncherPrintsTheTextBetweenTheOuterQuotes) {
    EXPECT_EQ(batchResultTextOf("\"正常(0)\""), "正常(0)");
    EXPECT_EQ(batchResultTextOf("\"a \"b\" c\" trailing"), "a \"b\" c");
    EXPECT_EQ(batchResultTextOf("no quotes at all"), "no quotes at all");
    EXPECT_EQ(batchResultTextOf("one\"quote"), "one");
    EXPECT_EQ(batchResultTextOf(""), "");
    std::string longText;
    while (longText.size() < 600) longText += "受信データ保存ディレクトリが存在しません";
    EXPECT_EQ(batchResultTextOf("\"" + longText + "(101)\""), longText + "(101)");
}

TEST(SendFailureMessage, TheTableAppliesToCenterFailuresOnly) {
    // The spellings downstream readers know, and codes sharing a message.
    EXPECT_EQ(sendFailureMessage(5, 1), "Transmission Obstacled");
    EXPECT_EQ(sendFailureMessage(5, 12), sendFailureMessage(5, 13));
    EXPECT_EQ(sendFailureMessage(5, 13), "Invalid Terminal ID");
    EXPECT_EQ(sendFailureMessage(5, 14), "Not in Service");
    EXPECT_EQ(sendFailureMessage(5, 17), "Terminal Under Coomunication");
    EXPECT_EQ(sendFailureMessage(5, 30), "Protocal Filename Invalid");
    EXPECT_EQ(sendFailureMessage(5, 35), "API unpluged");
    for (int detail : {0, 10, 33, 99}) EXPECT_EQ(sendFailureMessage(5, detail), "Other Error") << detail;
    // An argument number, a system error or an unreachable service is no result code.
    EXPECT_EQ(sendFailureMessage(4, 1), "Other Error");
    EXPECT_EQ(sendFailureMessage(2, 13), "Other Error");
    EXPECT_EQ(sendFailureMessage(3, 32), "Other Error");
    EXPECT_EQ(sendFailureMessage(1, 99), "Other Error");
}

TEST(CommandLog, LineAndFileLayouts) {
    LocalDateTime at{2005, 11, 2, 9, 5, 3};
    EXPECT_EQ(commandLogLine(at, 'D', std::nullopt, "plrecv() count :2"), "2005/11/02 9:05:03 <D-> plrecv() count :2");
    EXPECT_EQ(commandLogLine(at, 'I', 4711, "Success"), "2005/11/02 9:05:03 <I-4711> Success");
    EXPECT_EQ(commandLogLine(LocalDateTime{2005, 1, 9, 23, 59, 0}, 'E', 1, "x"), "2005/01/09 23:59:00 <E-1> x");
    EXPECT_EQ(commandLogLine(LocalDateTime{2005, 1, 9, 0, 0, 0}, 'E', 1, "a\r\nb"), "2005/01/09 0:00:00 <E-1> a  b");
    EXPECT_EQ(commandLogFileName("PLSendDataCmd_", at), "PLSendDataCmd_20051102.log");
}

TEST(CommandLog, AppendsToTheDailyFileAndCreatesTheFolder) {
    TempDir dir;
    test::ScopedEnv logDir("PLX_LOG_DIR", (dir / "var/log/plx").string());
    LocalDateTime now{2005, 11, 2, 9, 5, 3};
    CommandLog log("PLSearchReceived_", false, [&] { return now; });
    log.write('D', "first");
    now = {2005, 11, 2, 10, 0, 0};
    log.write('D', "second");
    now = {2005, 11, 3, 0, 0, 1};
    log.write('D', "next day");
    EXPECT_EQ(readFile(dir / "var/log/plx/PLSearchReceived_20051102.log"),
              "2005/11/02 9:05:03 <D-> first\n2005/11/02 10:00:00 <D-> second\n");
    EXPECT_EQ(readFile(dir / "var/log/plx/PLSearchReceived_20051103.log"), "2005/11/03 0:00:01 <D-> next day\n");
    CommandLog withPid("PLSendDataCmd_", true, [&] { return now; });
    withPid.write('I', "Success");
    EXPECT_EQ(readFile(dir / "var/log/plx/PLSendDataCmd_20051103.log"),
              "2005/11/03 0:00:01 <I-" + std::to_string(::getpid()) + "> Success\n");
}

TEST(CommandLog, AFolderThatCannotBeMadeNeverStopsTheCaller) {
    TempDir dir;
    test::writeFile(dir / "file", "");
    test::ScopedEnv logDir("PLX_LOG_DIR", (dir / "file/sub").string());
    CommandLog log("PLSendDataCmd_", true);
    log.write('I', "lost"); // reported on stderr, nothing thrown
    log.write('I', "lost too");
    EXPECT_FALSE(fs::exists(dir / "file/sub"));
}

TEST(CommandLog, WithoutOverrideTheFixedFolder) {
    test::ScopedEnv logDir("PLX_LOG_DIR", "");
    EXPECT_EQ(commandLogFolder(), fs::path("/var/log/plx/"));
}

TEST(CrLfFile, OneLineWithCrLfReplacingTheOldFile) {
    TempDir dir;
    ASSERT_EQ(writeCrLfFile(dir / "a.dat.ok", "1234"), 0);
    EXPECT_EQ(readFile(dir / "a.dat.ok"), "1234\r\n");
    ASSERT_EQ(writeCrLfFile(dir / "a.dat.ok", ""), 0);
    EXPECT_EQ(readFile(dir / "a.dat.ok"), "\r\n");
    ASSERT_EQ(writeCrLfFile(dir / "r.txt", "\"正常(0)\""), 0);
    EXPECT_EQ(readFile(dir / "r.txt"), "\"正常(0)\"\r\n");
    // Only the files asked for: no temporary file stays behind.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.dat.ok", "r.txt"}));
}

TEST(CrLfFile, AFailureGivesItsErrnoAndLeavesNothing) {
    TempDir dir;
    fs::create_directory(dir / "taken.ok");
    EXPECT_EQ(writeCrLfFile(dir / "taken.ok", "1"), EISDIR);
    EXPECT_EQ(writeCrLfFile(dir / "missing/x.ok", "1"), ENOENT);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_directory(dir / "taken.ok"));
}
