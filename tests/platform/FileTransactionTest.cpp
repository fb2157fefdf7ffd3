#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/FileTransaction.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

namespace {

// Every entry under dir, folders included, as relative paths.
std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) out.push_back(fs::relative(e.path(), dir).string());
    std::sort(out.begin(), out.end());
    return out;
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(FileTransaction, KeptChangesAreInPlaceWithTheirModesAndNothingElse) {
    TempDir dir;
    writeFile(dir / "old.conf", "old");
    writeFile(dir / "gone.conf", "gone");
    {
        FileTransaction t;
        t.write(dir / "old.conf", "new", 0640);
        t.write(dir / "a/b/made.conf", "made");
        t.remove(dir / "gone.conf");
        t.remove(dir / "never.conf");
        EXPECT_EQ(readFile(dir / "old.conf"), "old"); // staged only
        EXPECT_FALSE(fs::exists(dir / "a/b/made.conf"));
        t.commit();
        t.keep();
    }
    EXPECT_EQ(readFile(dir / "old.conf"), "new");
    EXPECT_EQ(modeOf(dir / "old.conf"), 0640u);
    EXPECT_EQ(readFile(dir / "a/b/made.conf"), "made");
    EXPECT_EQ(modeOf(dir / "a/b/made.conf"), 0644u);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"a", "a/b", "a/b/made.conf", "old.conf"}));
}

TEST(FileTransaction, AnEndWithoutKeepPutsEverythingBack) {
    TempDir dir;
    writeFile(dir / "old.conf", "old");
    writeFile(dir / "gone.conf", "gone");
    std::vector<std::string> before = entries(dir.path());
    {
        FileTransaction t;
        t.write(dir / "old.conf", "new");
        t.write(dir / "a/b/made.conf", "made");
        t.remove(dir / "gone.conf");
        t.commit();
        EXPECT_EQ(readFile(dir / "old.conf"), "new");
        EXPECT_FALSE(fs::exists(dir / "gone.conf"));
    }
    EXPECT_EQ(readFile(dir / "old.conf"), "old");
    EXPECT_EQ(readFile(dir / "gone.conf"), "gone");
    EXPECT_EQ(entries(dir.path()), before); // no new file, folder or leftover
}

TEST(FileTransaction, AStepThatFailsUndoesTheOnesBefore) {
    TempDir dir;
    writeFile(dir / "first.conf", "first");
    fs::create_directory(dir / "second.conf"); // a folder no file can replace
    std::vector<std::string> before = entries(dir.path());
    {
        FileTransaction t;
        t.write(dir / "first.conf", "changed");
        t.write(dir / "third/new.conf", "new");
        t.write(dir / "second.conf", "blocked");
        EXPECT_THROW(t.commit(), std::system_error);
    }
    EXPECT_EQ(readFile(dir / "first.conf"), "first");
    EXPECT_EQ(entries(dir.path()), before);
}

TEST(FileTransaction, AStageThatFailsLeavesNothing) {
    TempDir dir;
    writeFile(dir / "blocker", "a file where a folder should be");
    std::vector<std::string> before = entries(dir.path());
    {
        FileTransaction t;
        t.write(dir / "x/y.conf", "y");
        EXPECT_THROW(t.write(dir / "blocker/z.conf", "z"), std::system_error);
    }
    EXPECT_EQ(entries(dir.path()), before);
}
