#include "common/Gzip.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "tests/TestSupport.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

namespace fs = std::filesystem;
using test::gunzipInMemory;
using test::gzipInMemory;
using test::mixedData;
using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(Gzip, RoundTripOfAnEmptyFile) {
    TempDir dir;
    writeFile(dir / "plain", "");
    ASSERT_TRUE(gzipFile(dir / "plain", dir / "packed.gz"));
    EXPECT_EQ(gunzipInMemory(readFile(dir / "packed.gz")), "");
    ASSERT_TRUE(gunzipFile(dir / "packed.gz", dir / "back"));
    EXPECT_EQ(readFile(dir / "back"), "");
}

TEST(Gzip, RoundTripOfALargeFile) {
    TempDir dir;
    const std::string original = mixedData(1024 * 1024 + 3, 1);
    writeFile(dir / "plain", original);
    ASSERT_TRUE(gzipFile(dir / "plain", dir / "packed.gz"));

    const std::string packed = readFile(dir / "packed.gz");
    EXPECT_LT(packed.size(), original.size());
    EXPECT_EQ(gunzipInMemory(packed), original);

    ASSERT_TRUE(gunzipFile(dir / "packed.gz", dir / "back"));
    EXPECT_EQ(readFile(dir / "back"), original);
}

TEST(Gzip, ExpandsStreamsFromOtherWriters) {
    TempDir dir;
    const std::string first = mixedData(200000, 2);
    const std::string second = mixedData(70000, 3);

    writeFile(dir / "one.gz", gzipInMemory(first));
    ASSERT_TRUE(gunzipFile(dir / "one.gz", dir / "out"));
    EXPECT_EQ(readFile(dir / "out"), first);

    // Concatenated members expand to the concatenated data, as gzip does.
    writeFile(dir / "two.gz", gzipInMemory(first) + gzipInMemory(second));
    ASSERT_TRUE(gunzipFile(dir / "two.gz", dir / "out"));
    EXPECT_EQ(readFile(dir / "out"), first + second);
}

TEST(Gzip, CopiesDataThatIsNotGzip) {
    TempDir dir;
    const std::string text = "plain text, not compressed\r\n" + mixedData(100000, 4);
    writeFile(dir / "plain", text);
    ASSERT_TRUE(gunzipFile(dir / "plain", dir / "out"));
    EXPECT_EQ(readFile(dir / "out"), text);

    writeFile(dir / "empty", "");
    writeFile(dir / "out", "old content");
    ASSERT_TRUE(gunzipFile(dir / "empty", dir / "out"));
    EXPECT_EQ(readFile(dir / "out"), "");
}

TEST(Gzip, MissingSourceLeavesAnEmptyDestination) {
    TempDir dir;
    writeFile(dir / "out", "old content");
    EXPECT_FALSE(gunzipFile(dir / "missing.gz", dir / "out"));
    ASSERT_TRUE(fs::exists(dir / "out"));
    EXPECT_EQ(fs::file_size(dir / "out"), 0u);
}

TEST(Gzip, FailsWhenAFileCannotBeOpened) {
    TempDir dir;
    EXPECT_FALSE(gzipFile(dir / "missing", dir / "packed.gz"));
    writeFile(dir / "plain", "data");
    EXPECT_FALSE(gzipFile(dir / "plain", dir / "no-such-folder" / "packed.gz"));
    EXPECT_FALSE(gzipFile(dir.path(), dir / "packed.gz"));

    writeFile(dir / "packed.gz", gzipInMemory("data"));
    EXPECT_FALSE(gunzipFile(dir / "packed.gz", dir / "no-such-folder" / "out"));
}

// /dev/full accepts the open and fails every write, as a full disk would.
TEST(Gzip, ReportsWriteFailures) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    // Small enough to stay in zlib's buffer until the close.
    writeFile(dir / "plain", "a little data");
    EXPECT_FALSE(gzipFile(dir / "plain", "/dev/full"));
    writeFile(dir / "large", mixedData(1024 * 1024, 8));
    EXPECT_FALSE(gzipFile(dir / "large", "/dev/full"));

    writeFile(dir / "packed.gz", gzipInMemory("a little data"));
    EXPECT_FALSE(gunzipFile(dir / "packed.gz", "/dev/full"));
}

TEST(Gzip, RejectsTruncatedStreams) {
    TempDir dir;
    const std::string packed = gzipInMemory(mixedData(300000, 5));
    // Cut inside the deflate data, inside the 8-byte trailer, and just
    // before its last byte.
    for (std::size_t cut : {packed.size() / 2, packed.size() - 6, packed.size() - 1}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        writeFile(dir / "cut.gz", packed.substr(0, cut));
        EXPECT_FALSE(gunzipFile(dir / "cut.gz", dir / "out"));
    }
    // Only the header.
    writeFile(dir / "cut.gz", packed.substr(0, 10));
    EXPECT_FALSE(gunzipFile(dir / "cut.gz", dir / "out"));
}

TEST(Gzip, RejectsCorruptStreams) {
    TempDir dir;
    const std::string original = mixedData(300000, 6);
    std::string packed = gzipInMemory(original);

    std::string badCrc = packed;
    badCrc[badCrc.size() - 8] ^= 0x01;
    writeFile(dir / "bad.gz", badCrc);
    EXPECT_FALSE(gunzipFile(dir / "bad.gz", dir / "out"));

    std::string badLength = packed;
    badLength[badLength.size() - 4] ^= 0x01;
    writeFile(dir / "bad.gz", badLength);
    EXPECT_FALSE(gunzipFile(dir / "bad.gz", dir / "out"));

    std::string badData = packed;
    for (std::size_t i = 100; i < 140; ++i) badData[i] = static_cast<char>(0xFF);
    writeFile(dir / "bad.gz", badData);
    EXPECT_FALSE(gunzipFile(dir / "bad.gz", dir / "out"));
}

TEST(Gzip, EnforcesTheOutputLimit) {
    TempDir dir;
    const std::string original = mixedData(500000, 7);
    writeFile(dir / "packed.gz", gzipInMemory(original));

    EXPECT_TRUE(gunzipFile(dir / "packed.gz", dir / "out", original.size()));
    EXPECT_EQ(readFile(dir / "out"), original);

    EXPECT_FALSE(gunzipFile(dir / "packed.gz", dir / "out", original.size() - 1));
    EXPECT_LE(fs::file_size(dir / "out"), original.size() - 1);

    EXPECT_FALSE(gunzipFile(dir / "packed.gz", dir / "out", 0));

    // The limit counts output, also for data copied unchanged.
    writeFile(dir / "plain", "0123456789");
    EXPECT_TRUE(gunzipFile(dir / "plain", dir / "out", 10));
    EXPECT_FALSE(gunzipFile(dir / "plain", dir / "out", 9));

    writeFile(dir / "empty.gz", gzipInMemory(""));
    EXPECT_TRUE(gunzipFile(dir / "empty.gz", dir / "out", 0));
}

} // namespace
} // namespace plx
