#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/uninstaller/UninstallFixture.h"
#include "uninstaller/SelfRegistration.h"

using namespace plx;
using namespace plx::uninst;
using test::ScopedEnv;
using test::TempDir;
namespace fs = std::filesystem;

namespace {

fs::path script(const TempDir& dir, const std::string& name, const std::string& body) {
    fs::path path = dir / name;
    test::writeFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
}

} // namespace

TEST(SelfRegistration, KindFollowsTheName) {
    struct Case {
        const char* path;
        RegistrationKind kind;
    };
    const Case cases[] = {
        {"/usr/share/dbus-1/interfaces/com.korvane.PelorinIO.xml", RegistrationKind::InterfaceFile},
        {"/opt/x/PELORINIO.TLB", RegistrationKind::InterfaceFile},
        {"/opt/x/libPLlog.so", RegistrationKind::SharedLibrary},
        {"/opt/x/libfoo.so.1.2", RegistrationKind::SharedLibrary},
        {"/opt/x/LIBFOO.SO", RegistrationKind::SharedLibrary},
        {"/opt/x/plserv", RegistrationKind::Program},
        {"/opt/x/tool.EXE", RegistrationKind::Program},
        {"/opt/x/solver", RegistrationKind::Program},
    };
    for (const auto& c : cases) EXPECT_EQ(registrationKind(c.path), c.kind) << c.path;
}

TEST(SelfRegistration, AProgramRunsWithTheUnregisterSwitch) {
    TempDir dir;
    fs::path program = script(dir, "plserv", "echo \"$@\" > '" + (dir / "mark").string() + "'\n");
    unregisterFile(program);
    EXPECT_EQ(test::readFile(dir / "mark"), "/unregserver\n");
}

TEST(SelfRegistration, AProgramThatHangsIsEndedAtTheLimit) {
    TempDir dir;
    fs::path program = script(dir, "hang", "echo $$ > '" + (dir / "pid").string() + "'\nexec sleep 600\n");
    EXPECT_THROW(unregisterFile(program, std::chrono::seconds(1)), UnregisterError);
    pid_t pid = std::stoi(test::readFile(dir / "pid"));
    EXPECT_NE(::kill(pid, 0), 0); // killed and reaped
}

TEST(SelfRegistration, ALibraryUnregistersThroughItsExport) {
    TempDir dir;
    ScopedEnv mark("PLX_TEST_UNREG_MARK", (dir / "mark").string());
    fs::copy_file(PLX_TEST_REGLIB, dir / "reg.so");
    unregisterFile(dir / "reg.so");
    EXPECT_EQ(test::readFile(dir / "mark"), "unregistered\n");

    ScopedEnv fail("PLX_TEST_UNREG_FAIL", "1");
    try {
        unregisterFile(dir / "reg.so");
        FAIL() << "a failing export passed";
    } catch (const UnregisterError& e) {
        EXPECT_EQ(std::string(e.what()), "DllUnregisterServerが失敗しました。(80004005)");
    }
}

TEST(SelfRegistration, FailuresCarryTheirMessages) {
    TempDir dir;
    fs::path libz = fs::weakly_canonical("/usr/lib/x86_64-linux-gnu/libz.so.1"); // the file, not its link
    test::writeFile(dir / "plain.so", "not a library");
    test::writeFile(dir / "empty.xml", "");
    struct Case {
        fs::path path;
        std::string messageStart;
    };
    const Case cases[] = {
        {dir / "missing", (dir / "missing").string() + "が見つかりません。"},
        {dir / "plain.so", (dir / "plain.so").string() + "のロードに失敗しました。"},
        {libz, "DllUnregisterServerが" + libz.string() + "内で見つかりません。"},
    };
    for (const auto& c : cases) {
        if (!fs::exists(c.path) && c.path.parent_path() != dir.path()) continue;
        try {
            unregisterFile(c.path);
            ADD_FAILURE() << c.path;
        } catch (const UnregisterError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.messageStart, 0), 0u) << e.what();
        }
    }
    EXPECT_NO_THROW(unregisterFile(dir / "empty.xml")); // an interface file: nothing to undo
}

// Whoever can write the folder could point a link at any program or library.
TEST(SelfRegistration, ALinkIsNeitherRunNorLoaded) {
    TempDir dir;
    ScopedEnv mark("PLX_TEST_UNREG_MARK", (dir / "libmark").string());
    fs::path program = script(dir, "tool", "echo ran > '" + (dir / "mark").string() + "'\n");
    fs::copy_file(PLX_TEST_REGLIB, dir / "reg.so");
    fs::create_symlink(program, dir / "plserv");
    fs::create_symlink(dir / "reg.so", dir / "libPLlog.so");
    for (const char* link : {"plserv", "libPLlog.so"}) {
        try {
            unregisterFile(dir / link);
            ADD_FAILURE() << link;
        } catch (const UnregisterError& e) {
            EXPECT_EQ(std::string(e.what()), (dir / link).string() + ": シンボリックリンクです");
        }
    }
    EXPECT_FALSE(fs::exists(dir / "mark"));
    EXPECT_FALSE(fs::exists(dir / "libmark"));
}

TEST(SelfRegistration, RootRunsNoProgramOthersCanWrite) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root refuses";
    TempDir dir;
    fs::path program = script(dir, "tool", "echo ran > '" + (dir / "mark").string() + "'\n");
    ::chmod(program.c_str(), 0777);
    EXPECT_THROW(unregisterFile(program), UnregisterError);
    EXPECT_FALSE(fs::exists(dir / "mark"));
}
