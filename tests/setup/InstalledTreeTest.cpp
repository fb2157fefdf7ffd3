#include <chrono>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

#include "platform/IniFile.h"
#include "tests/IniProfile.h"
#include "tests/centerlink/TestPeers.h"
#include "tests/service/BusFixture.h"
#include "tests/setup/InstalledTree.h"

using namespace plx;
using test::CopiedTree;
using test::ScopedEnv;
using test::TempDir;

namespace fs = std::filesystem;

TEST(InstalledTree, HoldsTheProgramsTheLibraryTheSettingsAndEmptyFolders) {
    fs::path tree = test::installedTree();
    for (const char* program : {"plserv", "inipatch", "pleventreg", "killplx", "plbat1", "plbatwrap",
                                "PLSearchReceivedCmd", "PLSendDataCmd"}) {
        EXPECT_TRUE(fs::is_regular_file(tree / "bin" / program)) << program;
        EXPECT_EQ(::access((tree / "bin" / program).c_str(), X_OK), 0) << program;
    }
    EXPECT_TRUE(fs::is_regular_file(tree / "bin/libPLlog.so"));
    // The operator's guide beside the programs, where the README links to it.
    EXPECT_TRUE(fs::is_regular_file(tree / "README.md"));
    EXPECT_TRUE(fs::is_regular_file(tree / "docs/operating.md"));
    for (const char* folder : {"temp", "logs", "data"}) {
        EXPECT_TRUE(fs::is_directory(tree / folder)) << folder;
        EXPECT_TRUE(fs::is_empty(tree / folder)) << folder;
    }
    // Settings with their defaults; never the center's password, never a test program.
    EXPECT_EQ(getProfileString(tree / "bin/plconfig.ini", "tempfile", "location", "none"), "");
    EXPECT_EQ(getProfileString(tree / "bin/plconfig.ini", "http", "daemon"), "no");
    EXPECT_EQ(IniDocument::load(tree / "bin/pltimeout.ini").getInt("timeout", "file", -1), 300);
    EXPECT_FALSE(fs::exists(tree / "bin/plterm.ini"));
    for (const auto& entry : fs::directory_iterator(tree / "bin")) {
        std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find("test"), std::string::npos) << name;
        EXPECT_EQ(name.find("bench"), std::string::npos) << name;
        EXPECT_EQ(name.find("demo"), std::string::npos) << name;
    }
}

TEST(InstalledTree, TheServiceRunsFromThePatchedTreeAndLogsThroughItsLibrary) {
    CopiedTree tree;
    ASSERT_EQ(tree.run("inipatch").exitCode, 0);

    test::PrivateBus bus;
    TempDir runtime;
    ScopedEnv busEnv("PLX_BUS", bus.address());
    ScopedEnv home("PLX_HOME", "");
    ScopedEnv locks("PLX_RUNTIME_DIR", runtime.path().string());
    ScopedEnv tmp("TMPDIR", runtime.path().string());
    test::PeerProcess service({(tree.bin() / "plserv").string()});
    ASSERT_TRUE(test::waitForService(15));

    auto connection = openClientBus();
    ClientProxy client(*connection);
    client.PLSetTermInfo("1001", "9001", "", "http://127.0.0.1:9/", "pw", "1.0", "", "", "");
    // The API log line lands in the tree's logs folder: plconfig.ini was
    // found beside plserv and libPLlog.so loaded from there.
    std::time_t now = std::time(nullptr);
    char day[16];
    std::strftime(day, sizeof day, "%Y%m%d", std::localtime(&now));
    fs::path log = tree.root() / "logs" / (std::string("plapi") + day + ".log");
    ASSERT_TRUE(test::waitFor([&] { return fs::exists(log); }));
    EXPECT_NE(test::readFile(log).find("PLSetTermInfo"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(tree.bin() / "plterm.ini")); // the service's own store, beside it
}

TEST(InstalledTree, AReinstallKeepsTheOperatorsSettings) {
    TempDir prefix;
    fs::create_directories(prefix / "bin");
    test::writeFile(prefix / "bin/plconfig.ini", "[http]\ndaemon=yes\n");
    auto run = test::runCaptured({PLX_CMAKE, "--install", PLX_BUILD_DIR, "--prefix", prefix.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(test::readFile(prefix / "bin/plconfig.ini"), "[http]\ndaemon=yes\n");
    EXPECT_TRUE(fs::is_regular_file(prefix / "bin/pltimeout.ini"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "bin/plserv"));
}

// --help, and options no program takes, where each program would find
// something to change: a running service, edited settings, a writable root.
TEST(InstalledTree, EveryProgramAnswersHelpAndRefusesWhatItDoesNotTakeBeforeDoingAnything) {
    test::ServiceOnBus service;
    TempDir root, work;
    ScopedEnv installRoot("PLX_INSTALL_ROOT", root.path().string());
    ScopedEnv registry("PLX_REGISTRY", (root / "registry.ini").string());
    ScopedEnv logs("PLX_LOG_DIR", (root / "log").string());
    const std::string apps = "[K1]\nclfilename=/edited/k1.dat\n";
    test::writeFile(service.home() / "plxapp.ini", apps);
    const std::string config = test::readFile(service.home() / "plconfig.ini");
    auto run = [&](const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), (test::installedTree() / "bin" / program).string());
        return test::runCaptured(args, work.path());
    };

    const std::pair<const char*, const char*> usages[] = {
        {"plserv", "使用法: plserv [-RegServer | -Service | -UnregServer]"},
        {"inipatch", "使用法: inipatch"},
        {"pleventreg", "使用法: pleventreg ライブラリのパス"},
        {"killplx", "使用法: killplx"},
        {"plbat1", "使用法: plbat1 データ名称"},
        {"plbatwrap", "使用法: plbatwrap データ名称"},
        {"PLSearchReceivedCmd", "使用法: PLSearchReceivedCmd"},
        {"PLSendDataCmd", "使用法: PLSendDataCmd ファイル種別 フォルダ ファイル名"},
    };
    for (const auto& [program, usage] : usages) {
        test::ProgramRun help = run(program, {"--help"});
        EXPECT_EQ(help.exitCode, 0) << program;
        EXPECT_EQ(help.out, std::string(usage) + "\n") << program;
        EXPECT_EQ(help.err, "") << program;
        for (const char* option : {"-x", "--version"}) {
            test::ProgramRun refused = run(program, {option});
            EXPECT_EQ(refused.exitCode, 2) << program << " " << option;
            EXPECT_EQ(refused.out, "") << program << " " << option;
            EXPECT_EQ(refused.err, std::string(usage) + "\n") << program << " " << option;
        }
    }
    test::ProgramRun missing = run("pleventreg", {"/nonexistent/lib.so"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err, "pleventreg: /nonexistent/lib.so: No such file or directory\n");

    // The service still serves; no setting, catalog, registration, log,
    // result file or marker was touched.
    EXPECT_EQ(service.waitExit(0), -1);
    EXPECT_TRUE(test::waitForService(15));
    EXPECT_EQ(test::readFile(service.home() / "plconfig.ini"), config);
    EXPECT_EQ(test::readFile(service.home() / "plxapp.ini"), apps);
    EXPECT_TRUE(fs::is_empty(root.path()));
    EXPECT_TRUE(fs::is_empty(work.path()));
}
