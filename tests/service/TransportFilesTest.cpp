#include <array>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/CenterRegister.h"
#include "service/classes/Transport.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::readFile;
using test::ScopedHome;
using test::TempDir;
using test::writeFile;

TEST(TransportFiles, CopyIsWritableStampedAndNeverHalfWritten) {
    TempDir dir;
    writeFile(dir / "src", std::string(300000, 's'));
    ::chmod((dir / "src").c_str(), 0444);
    ::utimensat(AT_FDCWD, (dir / "src").c_str(), std::array<timespec, 2>{{{1000, 0}, {1000, 0}}}.data(), 0);
    ASSERT_TRUE(copyFileStamped(dir / "src", dir / "dst", false));
    EXPECT_EQ(readFile(dir / "dst"), std::string(300000, 's'));
    struct stat st {};
    ::stat((dir / "dst").c_str(), &st);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
    EXPECT_GT(st.st_mtime, 1000);

    // An existing target is replaced whole, or kept with failIfExists.
    writeFile(dir / "other", "new");
    ASSERT_TRUE(copyFileStamped(dir / "other", dir / "dst", false));
    EXPECT_EQ(readFile(dir / "dst"), "new");
    EXPECT_FALSE(copyFileStamped(dir / "src", dir / "dst", true));
    EXPECT_EQ(readFile(dir / "dst"), "new");
    EXPECT_FALSE(copyFileStamped(dir / "missing", dir / "dst", false));
    EXPECT_EQ(readFile(dir / "dst"), "new");
    // No temporary file stays behind.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 3);
}

TEST(TransportFiles, AppendCreatesOrExtends) {
    TempDir dir;
    writeFile(dir / "a", "first");
    ASSERT_TRUE(appendFileStamped(dir / "a", dir / "target"));
    EXPECT_EQ(readFile(dir / "target"), "first");
    writeFile(dir / "empty", "");
    ASSERT_TRUE(appendFileStamped(dir / "empty", dir / "target"));
    ASSERT_TRUE(appendFileStamped(dir / "a", dir / "target"));
    EXPECT_EQ(readFile(dir / "target"), "firstfirst");
    EXPECT_FALSE(appendFileStamped(dir / "missing", dir / "target"));
}

TEST(TransportFiles, StatusChangesOnlyExistingEntries) {
    ScopedHome home;
    CenterRecord r;
    r.sectionName = makeSectionName("K001", "/tmp/@zvA.tmp");
    r.status = 2;
    r.sendRecvFlag = 2;
    writeCenterRecord(r);
    EXPECT_TRUE(ChangeGetStatus(r.sectionName, 4));
    EXPECT_EQ(loadCenterRecords().at(0).status, 4);
    EXPECT_FALSE(ChangeGetStatus("K001,/tmp/@zvGONE.tmp", 4));
    EXPECT_EQ(loadCenterRecords().size(), 1u); // no stub section appears
}

TEST(TransportFiles, WritableFolders) {
    TempDir dir;
    EXPECT_TRUE(isWritableFolder(dir.path(), false));
    EXPECT_TRUE(isWritableFolder(dir / "file.dat", true));
    std::filesystem::create_directory(dir / "ro");
    ::chmod((dir / "ro").c_str(), 0555);
    EXPECT_FALSE(isWritableFolder(dir / "ro" / "file.dat", true));
    EXPECT_FALSE(isWritableFolder(dir / "missing", false));
}
