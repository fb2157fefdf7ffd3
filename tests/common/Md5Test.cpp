#include "common/Md5.h"

#include <gtest/gtest.h>

#include <string>

#include "common/FileControl.h"
#include "tests/TestSupport.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

std::string md5InPieces(const std::string& data, std::size_t piece) {
    Md5 md5;
    for (std::size_t at = 0; at < data.size(); at += piece)
        md5.update(data.data() + at, std::min(piece, data.size() - at));
    return md5.finishHex();
}

TEST(Md5, KnownDigestsWhateverThePieces) {
    EXPECT_EQ(md5InPieces("", 1), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5InPieces("abc", 1), "900150983cd24fb0d6963f7d28e17f72");
    const std::string fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(md5InPieces(fox, 5), "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(md5InPieces(fox, fox.size()), "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(Md5, AgreesWithTheFileDigestAndEndsOnce) {
    test::TempDir dir;
    const std::string data = test::mixedData(300001, 1);
    test::writeFile(dir / "data", data);
    EXPECT_EQ(md5InPieces(data, 4096), getFileMD5(dir / "data"));

    Md5 md5;
    md5.update("abc", 3);
    EXPECT_EQ(md5.finishHex(), "900150983cd24fb0d6963f7d28e17f72");
    md5.update("abc", 3);
    EXPECT_EQ(md5.finishHex(), "");
}

} // namespace
} // namespace plx
