#include <array>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <system_error>

#include "common/CenterRegister.h"
#include "service/classes/Transport.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::readFile;
using test::ScopedHome;
using test::TempDir;
using test::writeFile;

namespace {

// The errno of the std::system_error step throws; 0 when it throws none.
template <typename Step>
int systemErrorOf(Step step) {
    try {
        step();
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

} // namespace

TEST(TransportFiles, CopyIsWritableStampedAndNeverHalfWritten) {
    TempDir dir;
    writeFile(dir / "src", std::string(300000, 's'));
    ::chmod((dir / "src").c_str(), 0444);
    ::utimensat(AT_FDCWD, (dir / "src").c_str(), std::array<timespec, 2>{{{1000, 0}, {1000, 0}}}.data(), 0);
    ASSERT_NO_THROW(copyFileStamped(dir / "src", dir / "dst", false));
    EXPECT_EQ(readFile(dir / "dst"), std::string(300000, 's'));
    struct stat st {};
    ::stat((dir / "dst").c_str(), &st);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
    EXPECT_GT(st.st_mtime, 1000);

    // An existing target is replaced whole, or kept with failIfExists.
    writeFile(dir / "other", "new");
    ASSERT_NO_THROW(copyFileStamped(dir / "other", dir / "dst", false));
    EXPECT_EQ(readFile(dir / "dst"), "new");
    EXPECT_EQ(systemErrorOf([&] { copyFileStamped(dir / "src", dir / "dst", true); }), EEXIST);
    EXPECT_EQ(readFile(dir / "dst"), "new");
    EXPECT_EQ(systemErrorOf([&] { copyFileStamped(dir / "missing", dir / "dst", false); }), ENOENT);
    EXPECT_EQ(readFile(dir / "dst"), "new");
    // No temporary file stays behind.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 3);
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
