#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/IniFile.h"
#include "tests/IniProfile.h"
#include "tests/uninstaller/ProgramRun.h"
#include "tests/uninstaller/UninstallFixture.h"
#include "uninstaller/Flow.h"
#include "uninstaller/TwoStage.h"
#include "uninstaller/UnInstall.h"

using namespace plx;
using namespace plx::uninst;
using test::FileEntry;
using test::ScopedEnv;
using test::TempDir;
namespace fs = std::filesystem;

namespace {

// CVUninst installed with two files of its own in a tree under a scratch
// folder, with a temporary folder, lock folder and registry of its own.
class FlowTest : public ::testing::Test {
protected:
    FlowTest() {
        fs::create_directories(dir_ / "inst/bin");
        fs::create_directories(dir_ / "inst/data");
        fs::create_directories(dir_ / "tmp");
        fs::copy_file(PLX_UNINSTALLER_PROGRAM, program_);
        ::chmod(program_.c_str(), 0755);
        test::writeFile(dir_ / "inst/bin/b.txt", "b");
        test::writeFile(dir_ / "inst/data/a.txt", "a");
        writeInfo("");
    }
    void writeInfo(const std::string& extraHeader, bool sharedData = false) {
        test::writeFile(info_, test::infoText((dir_ / "inst").string(),
                                              {{program_.string()},
                                               {(dir_ / "inst/bin/b.txt").string()},
                                               {(dir_ / "inst/data/a.txt").string(), sharedData}},
                                              {}, extraHeader));
    }
    bool installationIntact() const {
        return fs::exists(program_) && fs::exists(info_) && fs::exists(dir_ / "inst/bin/b.txt") &&
               fs::exists(dir_ / "inst/data/a.txt");
    }
    // Copies of the program left in the temporary folder.
    int stageCopies() const {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(dir_ / "tmp"))
            if (entry.path().filename().string().rfind("~cu", 0) == 0) ++n;
        return n;
    }

    TempDir dir_;
    fs::path program_ = dir_ / "inst/bin/CVUninst";
    fs::path info_ = dir_ / "inst/bin/CVUninst.wqi";
    ScopedEnv tmp_{"TMPDIR", (dir_ / "tmp").string()};
    ScopedEnv runtime_{"PLX_RUNTIME_DIR", (dir_ / "run").string()};
    ScopedEnv registry_{"PLX_REGISTRY", (dir_ / "registry.ini").string()};
    ScopedEnv home_{"PLX_HOME", ""};
    ScopedEnv platform_{"QT_QPA_PLATFORM", "offscreen"};
    ScopedEnv script_{"PLX_UNINST_SCRIPT", "ok"};
};

// pid's handler for signal is in place.
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0) return ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) != 0;
    return false;
}

// The process pid started last, once it is there (0 after the ceiling).
pid_t childOf(pid_t pid) {
    for (int i = 0; i < 2000; ++i) {
        std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
        pid_t child = 0;
        if (children >> child) return child;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

} // namespace

TEST_F(FlowTest, WithoutAnArgumentTheWqiBesideTheProgramIsUsed) {
    auto run = test::runToTheEnd({program_.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("CVUnInstaller:"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "inst")); // the program the user started went last, with its folders
    EXPECT_TRUE(fs::exists(dir_.path()));
    EXPECT_EQ(stageCopies(), 0); // the second stage deleted itself
}

TEST_F(FlowTest, TheCopyUsesTheRegistryOfTheStartedProgramsFolder) {
    ScopedEnv registry("PLX_REGISTRY", "");
    fs::path store = dir_ / "inst/bin/registry.ini";
    std::string data = (dir_ / "inst/data/a.txt").string();
    writeProfileString(store, kSharedDllsKey, data, "2");
    writeInfo("", /*sharedData=*/true);
    auto run = test::runToTheEnd({program_.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(data));
    EXPECT_EQ(getProfileString(store, kSharedDllsKey, data), "1");
    EXPECT_FALSE(fs::exists(program_));
}

TEST_F(FlowTest, ASecondInstanceShowsTheMessageAndRemovesNothing) {
    auto first = InstanceLock::take("Test/App", "Test/App アンインストール");
    ASSERT_TRUE(first);
    auto run = test::runToTheEnd({program_.string(), info_.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("CVUnInstaller: 既に Test/App アンインストール が起動しています。\n"), std::string::npos)
        << run.err;
    EXPECT_TRUE(installationIntact());
    EXPECT_EQ(stageCopies(), 0);
}

TEST_F(FlowTest, AMissingInfoFileEndsWithTheMessage) {
    auto run = test::runToTheEnd({program_.string(), (dir_ / "other.wqi").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("CVUnInstaller: インストール情報ファイルが見つかりません\nアンインストールは中断します\n"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(installationIntact());
    EXPECT_EQ(stageCopies(), 0);
}

TEST_F(FlowTest, AnInfoFileThatCannotBeLoadedEndsWithAMessage) {
    writeInfo("InstallerType=two\n");
    auto run = test::runToTheEnd({program_.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(
        run.err.find("CVUnInstaller: インストール情報ファイルを読み込めません\nInstallerType が数値ではありません\n"
                     "アンインストールは中断します\n"),
        std::string::npos)
        << run.err;
    EXPECT_TRUE(installationIntact());
    EXPECT_EQ(stageCopies(), 0);
}

TEST_F(FlowTest, ASecondStageThatCannotGoOnStillDeletesItself) {
    fs::path copy = dir_ / "tmp/~cu1234ABCD.tmp";
    fs::copy_file(program_, copy);
    auto run = test::runToTheEnd({copy.string(), (dir_ / "gone.wqi").string(), program_.string(), "$1"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("インストール情報ファイルが見つかりません"), std::string::npos) << run.err;
    EXPECT_EQ(stageCopies(), 0);
    EXPECT_TRUE(installationIntact());
}

// A script tells a cancel from a removal, and a word the program does not
// know from either.
TEST_F(FlowTest, ACancelAndAnUnknownAnswerEndWithTheirOwnCodes) {
    {
        ScopedEnv cancel("PLX_UNINST_SCRIPT", "cancel");
        auto run = test::runToTheEnd({program_.string(), info_.string()});
        EXPECT_EQ(run.exitCode, kExitCancelled) << run.err;
    }
    for (const char* answer : {"OK", "yes", "", "ok,maybe"}) {
        ScopedEnv script("PLX_UNINST_SCRIPT", answer);
        auto run = test::runToTheEnd({program_.string(), info_.string()});
        EXPECT_EQ(run.exitCode, kExitUsage) << answer;
        EXPECT_NE(run.err.find("PLX_UNINST_SCRIPT に使えない答えです"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(installationIntact());
    EXPECT_EQ(stageCopies(), 0);
}

// A mistyped path costs nothing.
TEST_F(FlowTest, AFileThatIsNotAnInstallInfoFileIsRefused) {
    fs::path notes = dir_ / "notes/important.txt";
    fs::create_directories(notes.parent_path());
    test::writeFile(notes, "meeting at ten\nVer=x\n");
    auto run = test::runToTheEnd({program_.string(), notes.string()});
    EXPECT_EQ(run.exitCode, kExitNotInstallInfo);
    EXPECT_NE(run.err.find("CVUnInstaller: インストール情報ファイルが不正です: " + notes.string() + "\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(test::readFile(notes), "meeting at ten\nVer=x\n");
    EXPECT_TRUE(installationIntact());
    EXPECT_EQ(stageCopies(), 0);
}

// A registration that cannot be undone would be left pointing at a deleted
// program: nothing goes, and the run can be repeated.
TEST_F(FlowTest, AFailedUnregistrationRemovesNothing) {
    fs::path service = dir_ / "inst/bin/plserv";
    test::writeFile(service, "#!/bin/sh\necho 'cannot remove the unit' >&2\nexit 1\n");
    ::chmod(service.c_str(), 0755);
    test::writeFile(info_,
                    test::infoText((dir_ / "inst").string(), {{(dir_ / "inst/bin/b.txt").string()},
                                                              {service.string(), false, /*isSelfRegistering=*/true},
                                                              {(dir_ / "inst/data/a.txt").string()},
                                                              {program_.string()}}));
    auto run = test::runToTheEnd({program_.string(), info_.string()});
    EXPECT_EQ(run.exitCode, TCVUnInstall::kUnregisterFailed);
    EXPECT_NE(
        run.err.find("CVUnInstaller: 登録を解除できないため、アンインストールを中止しました。何も削除していません。\n" +
                     service.string() + "が失敗しました。(exit 1)\n"),
        std::string::npos)
        << run.err;
    EXPECT_TRUE(installationIntact());
    EXPECT_TRUE(fs::exists(service));
    EXPECT_EQ(stageCopies(), 0);
}

TEST_F(FlowTest, AProgramOutsideTheInstallationGoesButNotItsFolder) {
    fs::path elsewhere = dir_ / "tools/CVUninst";
    fs::create_directories(elsewhere.parent_path());
    fs::copy_file(program_, elsewhere);
    auto run = test::runToTheEnd({elsewhere.string(), info_.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "inst"));
    EXPECT_FALSE(fs::exists(elsewhere));
    EXPECT_TRUE(fs::exists(dir_ / "tools")); // emptied, but outside the installation
    EXPECT_EQ(stageCopies(), 0);
}

// The caller of the program it started learns that files stayed, and which.
TEST_F(FlowTest, AFileThatStaysEndsTheStartedProgramWithThree) {
    fs::path stays = dir_ / "inst/data/a.txt";
    test::Undeletable keep(stays);
    if (!keep.active()) GTEST_SKIP() << "no way to keep a file here";
    auto run = test::runToTheEnd({program_.string(), info_.string()});
    EXPECT_EQ(run.exitCode, TCVUnInstall::kFilesKept) << run.err;
    EXPECT_NE(run.err.find("CVUnInstaller: 残したファイル: " + stays.string() + "（削除できません: "),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(fs::exists(info_)); // the run can be repeated, by the same program
    EXPECT_TRUE(fs::exists(program_));
    EXPECT_FALSE(fs::exists(dir_ / "inst/bin/b.txt"));
    EXPECT_EQ(stageCopies(), 0);
}

// A headless host: unattended, the run needs no screen; attended, it says
// how to run unattended and removes nothing.
TEST_F(FlowTest, WithoutAScreenOnlyAnUnattendedRunRemoves) {
    ScopedEnv platform("QT_QPA_PLATFORM", "");
    ScopedEnv display("DISPLAY", "");
    ScopedEnv wayland("WAYLAND_DISPLAY", "");
    {
        ScopedEnv script("PLX_UNINST_SCRIPT", "");
        ::unsetenv("PLX_UNINST_SCRIPT");
        auto run = test::runToTheEnd({program_.string(), info_.string()});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("PLX_UNINST_SCRIPT=ok"), std::string::npos) << run.err;
        // A display named but not answering: the same, not a core dump.
        ScopedEnv silent("DISPLAY", ":77");
        run = test::runToTheEnd({program_.string(), info_.string()});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("PLX_UNINST_SCRIPT=ok"), std::string::npos) << run.err;
        EXPECT_TRUE(installationIntact());
        EXPECT_EQ(stageCopies(), 0);
    }
    auto run = test::runToTheEnd({program_.string(), info_.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "inst"));
    EXPECT_EQ(stageCopies(), 0);
}

// The caller's answer comes when the removal is over: whatever it ran next
// finds the installation gone, and nothing left running.
TEST_F(FlowTest, TheStartedProgramEndsAfterTheRemoval) {
    ChildProcess first({program_.string(), info_.string()});
    auto status = first.waitFor(std::chrono::seconds(120));
    ASSERT_TRUE(status);
    EXPECT_EQ(exitCodeOf(*status), 0);
    EXPECT_FALSE(fs::exists(dir_ / "inst"));
    EXPECT_EQ(stageCopies(), 0);
}

// A signal to the program the user started ends the run it stands for, and
// its exit code comes when that has ended.
TEST_F(FlowTest, ASignalToTheFirstStageEndsTheSecond) {
    ScopedEnv script("PLX_UNINST_SCRIPT", "");
    ::unsetenv("PLX_UNINST_SCRIPT"); // attended: the dialog waits for its user
    ChildProcess first({program_.string(), info_.string()});
    pid_t second = childOf(first.pid());
    ASSERT_NE(second, 0);
    for (int i = 0; i < 1000 && !catches(second, SIGTERM); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(first.pid(), SIGTERM);
    auto status = first.waitFor(std::chrono::seconds(60));
    ASSERT_TRUE(status);
    EXPECT_EQ(exitCodeOf(*status), 128 + SIGTERM);
    EXPECT_EQ(stageCopies(), 0); // the second stage had ended
    EXPECT_TRUE(installationIntact());
    if (::kill(second, 0) == 0 && stageCopies() != 0) ::kill(second, SIGKILL); // a dialog left behind
}

TEST_F(FlowTest, ASecondStageEndedByASignalDeletesItself) {
    ScopedEnv script("PLX_UNINST_SCRIPT", "");
    ::unsetenv("PLX_UNINST_SCRIPT"); // attended: the dialog waits for its user
    fs::path copy = dir_ / "tmp/~cu1234ABCD.tmp";
    for (int signal : {SIGTERM, SIGINT}) {
        fs::copy_file(program_, copy);
        ChildProcess stage({copy.string(), info_.string(), program_.string(), "$1"});
        ASSERT_TRUE(test::waitFor([&] { return catches(stage.pid(), signal); }));
        ::kill(stage.pid(), signal);
        auto status = stage.waitFor(test::hangCeiling());
        ASSERT_TRUE(status) << "still running after signal " << signal;
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal) << *status;
        EXPECT_EQ(stageCopies(), 0) << signal;
    }
    EXPECT_TRUE(installationIntact());
}
