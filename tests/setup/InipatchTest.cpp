#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/IniFile.h"
#include "tests/IniProfile.h"
#include "tests/service/BusFixture.h"
#include "tests/setup/InstalledTree.h"

using namespace plx;
using test::CopiedTree;
using test::readFile;
using test::writeFile;

namespace fs = std::filesystem;

namespace {

// inipatch copied out of the installed tree, with no ini files yet.
struct PatchTree : CopiedTree {
    PatchTree() : CopiedTree({"inipatch"}) {}
    fs::path config() const { return bin() / "plconfig.ini"; }
    fs::path apps() const { return bin() / "plxapp.ini"; }
    std::string parent() const { return root().string(); }
};

void expectQuietSuccess(const test::ProgramRun& run) {
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

} // namespace

TEST(Inipatch, PointsThePlconfigFoldersBesideTheProgramFolder) {
    PatchTree tree;
    writeFile(tree.config(), "; site settings\r\n[tempfile]\r\nlocation=C:\\PLX\\temp\r\n[apilog]\r\ndays=30\r\n"
                             "location=C:\\PLX\\log\r\n\r\n[http]\r\ndaemon=yes\r\n");
    expectQuietSuccess(tree.run("inipatch"));
    std::string p = tree.parent();
    EXPECT_EQ(readFile(tree.config()),
              "; site settings\r\n[tempfile]\r\nlocation=" + p + "/temp\r\n[apilog]\r\ndays=30\r\n" + "location=" + p +
                  "/logs\r\n\r\n[http]\r\ndaemon=yes\r\n[sessionlog]\r\n" + "location=" + p + "/logs\r\n");
}

TEST(Inipatch, ASaveByAGroupMemberLeavesTheOwnerItsFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "other uids need root";
    // The file's owner reads it as its owner only; the member writes through the group.
    const test::Identity owner{60501, 60501, {}};
    const test::Identity member{60503, 60513, {60520}};
    constexpr unsigned kTeam = 60520;
    PatchTree tree;
    writeFile(tree.config(), "[tempfile]\nlocation=/old\n");
    ::chmod(tree.root().parent_path().c_str(), 0755);
    ::chmod(tree.root().c_str(), 0755);
    for (const fs::path& p : {tree.bin(), tree.config()}) ASSERT_EQ(::chown(p.c_str(), owner.uid, kTeam), 0);
    ::chmod(tree.bin().c_str(), 02770);
    ::chmod(tree.config().c_str(), 0660);

    test::ScopedEnv home("PLX_HOME", "");
    expectQuietSuccess(test::runCaptured(test::as(member, {(tree.bin() / "inipatch").string()})));
    test::ProgramRun read = test::runCaptured(test::as(owner, {"/bin/cat", tree.config().string()}));
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_NE(read.out.find("location=" + tree.parent() + "/temp"), std::string::npos);
}

TEST(Inipatch, CreatesAMissingPlconfigButNeverAPlxapp) {
    PatchTree tree;
    expectQuietSuccess(tree.run("inipatch"));
    std::string p = tree.parent();
    EXPECT_EQ(readFile(tree.config()), "[tempfile]\nlocation=" + p + "/temp\n[apilog]\nlocation=" + p +
                                           "/logs\n[sessionlog]\nlocation=" + p + "/logs\n");
    EXPECT_FALSE(fs::exists(tree.apps()));
}

TEST(Inipatch, MovesEveryClientFileIntoTheDataFolderKeepingItsName) {
    PatchTree tree;
    writeFile(tree.apps(), "[K001]\nclfilename=C:\\Program Files\\Pelorin\\受注データ.csv\ndirection=send\n"
                           "[K002]\ndirection=recv\n"
                           "[K003]\nclfilename=\n"
                           "[K004]\nclfilename=/home/user/out/result.txt\n"
                           "[K005]\nclfilename=plain.dat\n"
                           "[K006]\nclfilename=D:\\recv\\\n"
                           "[K007]\nclfilename=mixed/dir\\name.txt\n"
                           "[K008]\nclfilename=\"C:\\quoted dir\\q.txt\"\n"
                           "[K009]\nclfilename=C:\\up\\..\n");
    expectQuietSuccess(tree.run("inipatch"));
    std::string data = tree.parent() + "/data/";
    EXPECT_EQ(readFile(tree.apps()), "[K001]\nclfilename=" + data + "受注データ.csv\ndirection=send\n" +
                                         "[K002]\ndirection=recv\nclfilename=" + data + "K002.dat\n" +
                                         "[K003]\nclfilename=" + data + "K003.dat\n" + "[K004]\nclfilename=" + data +
                                         "result.txt\n" + "[K005]\nclfilename=" + data + "plain.dat\n" +
                                         "[K006]\nclfilename=" + data + "K006.dat\n" + "[K007]\nclfilename=" + data +
                                         "name.txt\n" + "[K008]\nclfilename=" + data + "q.txt\n" +
                                         "[K009]\nclfilename=" + data + "K009.dat\n");
    // The second run finds full paths and keeps them.
    std::string once = readFile(tree.apps());
    expectQuietSuccess(tree.run("inipatch"));
    EXPECT_EQ(readFile(tree.apps()), once);
}

TEST(Inipatch, PatchesEveryOneOfTwoThousandSections) {
    PatchTree tree;
    std::string text, expected;
    std::string data = tree.parent() + "/data/";
    for (int i = 0; i < 2000; ++i) {
        // Long names: the list alone is far beyond 16 KB.
        std::string kind = "DATAKIND-WITH-A-LONG-NAME-" + std::to_string(i);
        text += "[" + kind + "]\nclfilename=C:\\in\\f" + std::to_string(i) + ".csv\n";
        expected += "[" + kind + "]\nclfilename=" + data + "f" + std::to_string(i) + ".csv\n";
    }
    writeFile(tree.apps(), text);
    expectQuietSuccess(tree.run("inipatch"));
    EXPECT_EQ(readFile(tree.apps()), expected);
}

TEST(Inipatch, FindsItsFolderThroughALinkToTheProgram) {
    PatchTree tree;
    test::TempDir elsewhere;
    fs::create_symlink(tree.bin() / "inipatch", elsewhere / "inipatch");
    test::ScopedEnv home("PLX_HOME", "");
    EXPECT_EQ(test::runCaptured({(elsewhere / "inipatch").string()}).exitCode, 0);
    EXPECT_EQ(getProfileString(tree.config(), "tempfile", "location"), tree.parent() + "/temp");
    EXPECT_FALSE(fs::exists(elsewhere / "plconfig.ini"));
}

// PLX_HOME names the ini files an account of the service keeps elsewhere;
// the folders stay beside the program's own.
TEST(Inipatch, PlxHomeChoosesTheFilesNotTheFolders) {
    PatchTree tree;
    test::TempDir home;
    writeFile(home / "plxapp.ini", "[K001]\nclfilename=a.csv\n");
    test::ScopedEnv homeEnv("PLX_HOME", home.path().string());
    EXPECT_EQ(test::runCaptured({(tree.bin() / "inipatch").string()}).exitCode, 0);
    EXPECT_EQ(getProfileString(home / "plconfig.ini", "apilog", "location"), tree.parent() + "/logs");
    EXPECT_EQ(getProfileString(home / "plxapp.ini", "K001", "clfilename"), tree.parent() + "/data/a.csv");
    EXPECT_FALSE(fs::exists(tree.config()));
}

TEST(Inipatch, AFileItCannotChangeIsNamedAndTheRestIsDone) {
    PatchTree tree;
    fs::create_directory(tree.config()); // cannot be read or replaced
    writeFile(tree.apps(), "[K001]\nclfilename=a.csv\n");
    auto run = tree.run("inipatch");
    EXPECT_EQ(run.exitCode, 0); // installers run it blindly
    EXPECT_NE(run.err.find("inipatch: plconfig.ini: "), std::string::npos) << run.err;
    EXPECT_EQ(getProfileString(tree.apps(), "K001", "clfilename"), tree.parent() + "/data/a.csv");
}
