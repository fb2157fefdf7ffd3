#include "common/FileControl.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <system_error>

#include "common/CenterRegister.h"
#include "platform/FdIo.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::ScopedEnv;
using test::ScopedHome;
using test::TempDir;
using test::writeFile;

TEST(FileControl, TempFilesGoWhereAsked) {
    TempDir sys;
    ScopedEnv tmpdir("TMPDIR", sys.path().string());
    auto a = makeOpenTempFile();
    EXPECT_EQ(a.path().parent_path(), sys.path());
    EXPECT_EQ(a.path().filename().string().substr(0, 3), "@zv");
    TempDir other;
    EXPECT_EQ(makeOpenTempFile(other.path()).path().parent_path(), other.path());
    try {
        makeOpenTempFile(other / "missing");
        ADD_FAILURE() << "a temporary file in a missing folder";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
    }
}

TEST(FileControl, PurgeSparesRegisteredAndForeignFiles) {
    ScopedHome home;
    TempDir sys;
    ScopedEnv tmpdir("TMPDIR", sys.path().string());
    // Same folder for both: the register's files live among the scratch files.
    writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + sys.path().string() + "\n");
    auto leftover = test::makeTempFile();
    auto staged = test::makeTempFile();
    auto upper = sys / "@ZVOLD.tmp";
    writeFile(upper, "x");
    auto other = sys / "keep.txt";
    writeFile(other, "x");
    std::filesystem::create_directory(sys / "@zvdir");

    CenterRecord r;
    r.sectionName = makeSectionName("ABCD", staged.string());
    r.status = 1;
    r.sendRecvFlag = 1;
    writeCenterRecord(r);

    EXPECT_EQ(purgeTempFiles(), 2);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_FALSE(std::filesystem::exists(upper));
    EXPECT_TRUE(std::filesystem::exists(staged));
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_TRUE(std::filesystem::is_directory(sys / "@zvdir"));
}

TEST(FileControl, OnlyOwnTempFilesCountAsDeletable) {
    ScopedHome home;
    TempDir temp;
    writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + temp.path().string() + "\n");
    auto own = test::makeTempFile(temp.path());
    EXPECT_TRUE(isOwnTempFile(own, temp.path()));

    auto named = temp / "data.bin";
    writeFile(named, "x");
    EXPECT_FALSE(isOwnTempFile(named, temp.path()));
    TempDir elsewhere;
    auto foreign = test::makeTempFile(elsewhere.path());
    EXPECT_FALSE(isOwnTempFile(foreign, temp.path()));
    auto link = temp / "@zvLINK.tmp";
    std::filesystem::create_symlink(foreign, link);
    EXPECT_FALSE(isOwnTempFile(link, temp.path()));
    EXPECT_FALSE(isOwnTempFile(own, ""));

    EXPECT_FALSE(deleteStoredFile(foreign));
    EXPECT_TRUE(std::filesystem::exists(foreign));
    EXPECT_TRUE(deleteStoredFile(own));
    EXPECT_FALSE(std::filesystem::exists(own));
}

TEST(FileControl, ForceDelete) {
    TempDir dir;
    auto file = dir / "ro";
    writeFile(file, "x");
    ::chmod(file.c_str(), 0444);
    EXPECT_TRUE(forceDeleteFile(file));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(forceDeleteFile(file));
    std::filesystem::create_directory(dir / "d");
    EXPECT_FALSE(forceDeleteFile(dir / "d"));
    EXPECT_TRUE(std::filesystem::exists(dir / "d"));
}

TEST(FileControl, SmallReadsSizesAndTimes) {
    TempDir dir;
    auto text = dir / "cert.pem";
    std::string pem = "-----BEGIN CERTIFICATE-----\n" + std::string(3000, 'A') + "\n-----END CERTIFICATE-----\n";
    writeFile(text, pem);
    EXPECT_EQ(readAllText(text), pem);
    EXPECT_EQ(readAllText(dir / "missing"), std::nullopt);

    std::int64_t size = -1;
    EXPECT_TRUE(queryFileSize(text, size));
    EXPECT_EQ(size, static_cast<std::int64_t>(pem.size()));
    EXPECT_FALSE(queryFileSize(dir / "missing", size));
    EXPECT_EQ(size, 0);
    // Sizes past 4 GiB are kept whole.
    auto sparse = dir / "sparse";
    writeFile(sparse, "");
    std::filesystem::resize_file(sparse, 5'000'000'000ULL);
    EXPECT_TRUE(queryFileSize(sparse, size));
    EXPECT_EQ(size, 5'000'000'000LL);

    FileTime ft;
    EXPECT_TRUE(getFileWriteTime(text, ft));
    EXPECT_LE(FileTime::now().ticks - ft.ticks, 60 * FileTime::kTicksPerSecond);
    EXPECT_FALSE(getFileWriteTime(dir / "missing", ft));
    EXPECT_EQ(ft.ticks, 0u);
}

TEST(FileControl, Md5OfFiles) {
    TempDir dir;
    writeFile(dir / "empty", "");
    EXPECT_EQ(getFileMD5(dir / "empty"), "d41d8cd98f00b204e9800998ecf8427e");
    writeFile(dir / "abc", "abc");
    EXPECT_EQ(getFileMD5(dir / "abc"), "900150983cd24fb0d6963f7d28e17f72");
    // Across read blocks.
    writeFile(dir / "big", std::string(200000, 'a'));
    EXPECT_EQ(getFileMD5(dir / "big"), "561b1994f6baacd6e5eaf4baaa12849f");
    EXPECT_EQ(getFileMD5(dir / "missing"), "");
}

TEST(FileControl, TargetNameIsTheCallersThenTheCentersThenANewOne) {
    EXPECT_EQ(chooseTargetName("mine.dat", "center.dat"), "mine.dat");
    EXPECT_EQ(chooseTargetName("", "center.dat"), "center.dat");
    // A center's name that is not one plain entry of the folder is never used.
    for (const char* unusable : {"", "../x", "a/b", ".", ".."})
        EXPECT_EQ(chooseTargetName("", unusable), "") << unusable;
}
