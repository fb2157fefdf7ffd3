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

TEST_F(FlowTest, CancelRemovesNothing) {
    for (const char* answer : {"cancel", ""}) {
        ScopedEnv cancel("PLX_UNINST_SCRIPT", answer);
        auto run = test::runToTheEnd({program_.string(), info_.string()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(installationIntact()) << answer;
        EXPECT_EQ(stageCopies(), 0);
    }
}

TEST_F(FlowTest, AProgramOutsideTheInstallationRemovesItAll) {
    fs::path elsewhere = dir_ / "tools/CVUninst";
    fs::create_directories(elsewhere.parent_path());
    fs::copy_file(program_, elsewhere);
    auto run = test::runToTheEnd({elsewhere.string(), info_.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "inst"));
    EXPECT_FALSE(fs::exists(dir_ / "tools")); // the started program and its emptied folder
    EXPECT_EQ(stageCopies(), 0);
}

// The caller of the program it started learns that files stayed, and which.
TEST_F(FlowTest, AFileThatStaysEndsTheStartedProgramWithThree) {
    fs::path stays = dir_ / "inst/data/a.txt";
    test::Undeletable keep(stays);
    if (!keep.active()) GTEST_SKIP() << "no way to keep a file here";
    auto run = test::runToTheEnd({program_.string(), info_.string()});
    EXPECT_EQ(run.exitCode, TCVUnInstall::kFilesKept) << run.err;
    EXPECT_NE(run.err.find("CVUnInstaller: " + stays.string() + "\n"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::exists(info_)); // the run can be repeated
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
        EXPECT_TRUE(installationIntact());
    }
    auto run = test::runToTheEnd({program_.string(), info_.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "inst"));
    EXPECT_EQ(stageCopies(), 0);
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
