#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/uninstaller/UninstallFixture.h"
#include "uninstaller/TwoStage.h"

using namespace plx;
using namespace plx::uninst;
using test::ScopedEnv;
using test::ScopedHome;
using test::TempDir;
namespace fs = std::filesystem;

TEST(TwoStage, FilesAndStagesFollowTheProgramsName) {
    EXPECT_EQ(defaultInfoFile("/opt/plx/bin/CVUninst"), "/opt/plx/bin/CVUninst.wqi");
    EXPECT_EQ(defaultInfoFile("/opt/plx/bin/CVUninst.exe"), "/opt/plx/bin/CVUninst.wqi");
    EXPECT_TRUE(isSecondStage("/tmp/~cu1A2B.tmp"));
    EXPECT_TRUE(isSecondStage("/tmp/~cu1A2B.TMP"));
    EXPECT_FALSE(isSecondStage("/opt/plx/bin/CVUninst"));
    EXPECT_FALSE(isSecondStage("/opt/tmp/CVUninst"));
}

TEST(TwoStage, TheSecondStagesCommandLine) {
    EXPECT_EQ(secondStageCommand("/tmp/~cuAB.tmp", "/opt/p q/CVUninst.wqi", "/opt/p q/CVUninst", 0x1f2e),
              (std::vector<std::string>{"/tmp/~cuAB.tmp", "/opt/p q/CVUninst.wqi", "/opt/p q/CVUninst", "$1f2e"}));
}

TEST(TwoStage, TheCopyIsAnExecutableTemporaryFile) {
    TempDir tmp;
    ScopedEnv tmpEnv("TMPDIR", tmp.path().string());
    fs::path copy = makeStageCopy();
    EXPECT_EQ(copy.parent_path(), tmp.path());
    EXPECT_EQ(copy.filename().string().rfind("~cu", 0), 0u);
    EXPECT_EQ(copy.extension(), ".tmp");
    EXPECT_EQ(fs::file_size(copy), fs::file_size("/proc/self/exe"));
    struct stat st {};
    ASSERT_EQ(::stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(TwoStage, OneInstancePerTitleWithTheHoldersTitle) {
    ScopedHome home;
    EXPECT_EQ(InstanceLock::lockName("Korvane/PLX").rfind("CVUninst-", 0), 0u);
    EXPECT_EQ(InstanceLock::lockName("Korvane/PLX").find('/'), std::string::npos);
    EXPECT_NE(InstanceLock::lockName("Korvane/PLX"), InstanceLock::lockName("Korvane/PLY"));

    auto first = InstanceLock::take("Korvane/PLX", "Korvane/PLX アンインストール");
    ASSERT_TRUE(first);
    EXPECT_FALSE(InstanceLock::take("Korvane/PLX", "again"));
    EXPECT_EQ(InstanceLock::holderWindowTitle("Korvane/PLX"), "Korvane/PLX アンインストール");
    EXPECT_TRUE(InstanceLock::take("Other", "Other アンインストール"));
    first.reset();
    EXPECT_TRUE(InstanceLock::take("Korvane/PLX", "x"));
}

TEST(TwoStage, DeletingTriesAgainAndAMissingFileIsGone) {
    TempDir dir;
    test::writeFile(dir / "f", "x");
    EXPECT_TRUE(deleteWithRetries(dir / "f"));
    EXPECT_FALSE(fs::exists(dir / "f"));
    EXPECT_TRUE(deleteWithRetries(dir / "f"));
    fs::create_directory(dir / "folder");
    EXPECT_FALSE(deleteWithRetries(dir / "folder", 2, std::chrono::milliseconds(1)));
}
